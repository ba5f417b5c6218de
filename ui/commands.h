#pragma once

#include "mining/mining_job.h"
#include "mining/recommendations.h"
#include "ui/program_state.h"
#include "ui/window_job_controls.h"

#include <QObject>
#include <chrono>

namespace morvane::ui {

class MainWindow;

// Status texts of the commands.
inline constexpr const char* kStatusChooseFile = "请指定一个文件地址，用于存放关键词列表！";
inline constexpr const char* kStatusCopied = "复制成功！";
// The save-file dialog's one filter: its label, and the pattern in parentheses that Qt reads (and hides).
inline constexpr const char* kTextFileFilter = "文本文件（.txt） (*.txt)";

// The six commands behind the window's buttons and check box, and the worker they start and stop. Every command
// runs on the GUI thread and returns without waiting for the network, the pause or the worker's work. The disabled
// Start button is the only guard against a second job.
class Commands : public QObject {
public:
    // Connects the commands to window's controls. Jobs ask service; pause is the wait after every seed line.
    Commands(MainWindow& window, ProgramState& state, RecommendationService service,
             std::chrono::milliseconds pause = kSeedPause);
    ~Commands() override;
    Commands(const Commands&) = delete;
    Commands& operator=(const Commands&) = delete;

    // Start: in file output asks for the file with the save-file dialog and creates it empty; clears the result
    // box, disables Start and starts a job on a new thread.
    void Start();
    // Stop: ends the running job at once, if there is one, enables Start and says so in the status bar.
    void Stop();
    // Choose output: file output while the check box is checked, the result list otherwise.
    void ChooseOutput();
    // Clear seeds: empties the seed box.
    void ClearSeeds();
    // Import results: the seed box takes the result box's whole text.
    void ImportResults();
    // Copy results: the result box's text goes to the clipboard as plain text.
    void CopyResults();

    // Ends the running job at once, without a word in the status bar (the shut-down's step).
    void EndMiningJob();

private:
    MainWindow& m_window;
    ProgramState& m_state;
    WindowJobControls m_controls;
    MiningWorker m_worker; // the thread of the last Start, while it runs
};

} // namespace morvane::ui
