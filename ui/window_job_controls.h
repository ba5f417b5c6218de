#pragma once

#include "mining/job_controls.h"

#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace morvane::ui {

class MainWindow;

// The window's JobControls. Every operation the job issues on its worker is carried out on the GUI thread, in
// the order issued, while the worker waits; texts are converted on the worker, so the GUI thread only sets them.
// Once the job is cancelled the worker stops waiting at once, and an operation still queued then never runs,
// also when a later job has started meanwhile: each operation checks the cancellation of the job that issued it.
// Usage: created on the GUI thread beside the window, handed to the MiningWorker, which calls JobStarting.
class WindowJobControls final : public QObject, public JobControls {
public:
    explicit WindowJobControls(MainWindow& window);

    void JobStarting(const std::shared_ptr<CancelToken>& cancel) override;
    Text ReadSeedText() override;
    Text ReadResultText() override;
    void SetResultText(const Text& text) override;
    void AppendResultText(const Text& text) override;
    std::size_t CountResultLines() override;
    int ReadRegionSelection() override;
    int ReadAreaId(int position) override;
    void SetKeywordTotal(const Text& caption) override;
    void SetStatusText(const Text& text) override;
    void EnableStart() override;
    // Memory that ran out while a reply was read is the same fatal error as anywhere else in the job; every other
    // outcome shows nothing, as before.
    void SeedQueried(const Text& seed, const QueryReport& report) override;
    // Hands the allocation failure to the GUI thread for the fatal-error box and waits until the process ends or
    // the job is ended.
    void AllocationFailed() override;

private:
    // Runs operation(window) on the GUI thread and returns its result; a default result once the job is
    // cancelled or the window is gone.
    template <typename Result, typename Operation> Result RunOnGuiThread(Operation operation);

    // Queues task for the GUI thread, behind every task queued before it.
    void Post(std::function<void()> task);
    // On the GUI thread: runs the oldest queued task.
    void RunOldest();

    QPointer<MainWindow> m_window;
    std::shared_ptr<CancelToken> m_cancel; // the running job's; set before its thread starts
    // The tasks travel in a queue of our own, under a lock of our own, so that everything they hold passes from
    // the worker to the GUI thread under a synchronisation that the thread sanitizer sees; Qt's posted event
    // only says that there is one more task.
    std::mutex m_queueMutex;
    std::deque<std::function<void()>> m_queue;
};

} // namespace morvane::ui
