#pragma once

#include "mining/cancel_token.h"
#include "tests/support/fake_controls.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace morvane::test {

// FakeControls whose control operations run on a front-end thread of their own, in the order issued, while the
// job's thread waits for each, as the window runs them on its GUI thread: once the job is cancelled its thread stops
// waiting at once, and an operation whose job is cancelled by the time its turn comes is dropped. The job is ended
// on the front-end thread too, as the window's Stop runs on the GUI thread (StopOnFrontEnd); an operation that the
// front end carries out after that is a stray one, so StrayOperations() tells whether anything of the ended job
// still took effect. The front end can be held, as a busy GUI thread is, to leave operations queued. The report
// operations (SeedQueried, AllocationFailed) run on the job's thread, as their contract says. Usage:
//
//     QueuedControls controls;
//     MiningWorker worker(controls, output, service);
//     worker.Start();
//     ...
//     controls.StopOnFrontEnd([&] { worker.EndMiningJob(); });
//     controls.Drain();
//     EXPECT_EQ(controls.StrayOperations(), 0);
class QueuedControls : public FakeControls {
public:
    QueuedControls();
    ~QueuedControls() override;
    QueuedControls(const QueuedControls&) = delete;
    QueuedControls& operator=(const QueuedControls&) = delete;
    QueuedControls(QueuedControls&&) = delete;
    QueuedControls& operator=(QueuedControls&&) = delete;

    void JobStarting(const std::shared_ptr<CancelToken>& cancel) override;
    Text ReadSeedText() override;
    Text ReadResultText() override;
    void SetResultText(const Text& text) override;
    void AppendResultText(const Text& text) override;
    int ReadRegionSelection() override;
    int ReadAreaId(int position) override;
    void SetKeywordTotal(const Text& caption) override;
    void SetStatusText(const Text& text) override;
    void EnableStart() override;

    // Runs stop (which ends the job) on the front-end thread ahead of the queued operations, as a click on Stop comes
    // in while the window has operations queued, also while the front end is held; then seals the record
    // (FakeControls::Seal) on that thread. Returns once it has run.
    void StopOnFrontEnd(const std::function<void()>& stop);

    // Holds the front end: operations wait in the queue until Release().
    void Hold();
    void Release();
    // Waits until at least count operations wait in the queue.
    bool WaitForQueued(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Waits until the front end has carried out or dropped every operation queued so far (it must not be held).
    bool Drain(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Operations dropped because their job had been cancelled by their turn.
    int DroppedOperations() const;

private:
    // Queues operation for the front end and waits for its result; Result() once the job is cancelled.
    template <typename Result> Result Run(std::function<Result()> operation);
    void Serve();

    mutable std::mutex m_queueMutex;
    mutable std::condition_variable m_queueChanged;
    std::deque<std::function<void()>> m_queue;
    std::function<void()> m_ahead; // StopOnFrontEnd's, served before the queue and while held
    bool m_held = false;
    bool m_busy = false;     // the front end is carrying out an operation
    bool m_stopping = false; // the destructor runs
    int m_dropped = 0;
    std::shared_ptr<CancelToken> m_cancel; // the running job's; set before its thread starts
    std::thread m_frontEnd;                // last: it uses the members above
};

} // namespace morvane::test
