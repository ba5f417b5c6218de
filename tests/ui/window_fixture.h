#pragma once

#include "tests/support/scripted_server.h"
#include "ui/commands.h"
#include "ui/main_window.h"
#include "ui/program_state.h"

#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>

namespace morvane::ui::test {

// The status texts the window shows, as the tests expect them.
inline const QString kMining0 = QStringLiteral("正在挖(0%)...");
inline const QString kFinished = QStringLiteral("停止挖！");
inline const QString kStopped = QStringLiteral("强制停止！");
inline const QString kChooseFile = QStringLiteral("请指定一个文件地址，用于存放关键词列表！");

// Handles events until done() holds; false if timeout passes first (a safety net for a broken test, not a way
// to wait for time).
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Handles every event already posted, so that whatever a joined job had queued has either run or been dropped.
void HandlePendingEvents();

// The window as the program makes it, with the commands wired to a scripted service and no pause between
// seeds: the created handler has run (result-list output, the themed style on) and the window is shown. Every
// status text set is recorded in order.
class WindowFixture {
public:
    explicit WindowFixture(std::chrono::milliseconds pause = std::chrono::milliseconds(0));
    ~WindowFixture();
    WindowFixture(const WindowFixture&) = delete;
    WindowFixture& operator=(const WindowFixture&) = delete;

    MainWindow& Window() { return *window; }
    // The status texts set so far, in order.
    const QStringList& StatusTexts() const { return statusTexts; }
    // Waits until Start is enabled again, that is, until the job ended.
    bool WaitForJobEnd();

    morvane::test::ScriptedServer server;
    ProgramState state;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<Commands> commands;
    QStringList statusTexts;
};

// Answers the next modal dialog of class className ("QFileDialog", "QMessageBox") once the event loop runs it:
// answer receives the dialog and does what a user would do with it.
void AnswerNextDialog(const char* className, std::function<void(QWidget& dialog)> answer);

// Clicks the button of a message box that has the role of which ("Yes", "Ok", ...: a QMessageBox button).
void ClickMessageBoxButton(QWidget& box, int which);

// Types path into the save-file dialog's file name box and presses its Save button.
void ChooseFileInDialog(QWidget& dialog, const QString& path);

} // namespace morvane::ui::test
