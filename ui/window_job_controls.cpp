#include "ui/window_job_controls.h"

#include "mining/cancel_token.h"
#include "ui/allocation_failure.h"
#include "ui/control_text.h"
#include "ui/fatal_error.h"
#include "ui/main_window.h"

#include <QMetaObject>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <type_traits>

namespace morvane::ui {
namespace {

// One operation handed to the GUI thread: the worker waits until it is done or the job is cancelled.
template <typename Result> class PendingOperation {
public:
    template <typename Operation> void Run(Operation& operation) {
        if constexpr (std::is_void_v<Result>) {
            operation();
            Finish(true);
        } else {
            Finish(operation());
        }
    }

    // Waits for the result; nothing once cancel is cancelled.
    auto Wait(CancelToken& cancel) {
        // The waker takes only this operation's lock, never the other way round, so the token's lock (held while
        // the waker runs) and this one are always taken in the same order.
        CancelToken::Subscription wake = cancel.Subscribe([this] {
            std::lock_guard lock(m_mutex);
            m_cancelled = true;
            m_changed.notify_all();
        });
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_result.has_value() || m_cancelled; });
        return std::move(m_result);
    }

private:
    using Stored = std::conditional_t<std::is_void_v<Result>, bool, Result>;

    void Finish(Stored result) {
        std::lock_guard lock(m_mutex);
        m_result.emplace(std::move(result));
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<Stored> m_result;
    bool m_cancelled = false;
};

} // namespace

WindowJobControls::WindowJobControls(MainWindow& window) : m_window(&window) {}

void WindowJobControls::JobStarting(const std::shared_ptr<CancelToken>& cancel) {
    m_cancel = cancel;
}

template <typename Result, typename Operation> Result WindowJobControls::RunOnGuiThread(Operation operation) {
    const std::shared_ptr<CancelToken> cancel = m_cancel;
    if (cancel == nullptr || cancel->IsCancelled()) {
        return Result();
    }
    auto pending = std::make_shared<PendingOperation<Result>>();
    Post([this, cancel, pending, operation = std::move(operation)]() mutable {
        // Stop runs on this thread too, so a job found uncancelled here stays so while the operation runs.
        if (cancel->IsCancelled() || m_window.isNull()) {
            return;
        }
        auto run = [&] { return operation(*m_window); };
        pending->Run(run);
    });
    auto result = pending->Wait(*cancel);
    if constexpr (!std::is_void_v<Result>) {
        return result ? std::move(*result) : Result();
    }
}

void WindowJobControls::Post(std::function<void()> task) {
    {
        std::lock_guard lock(m_queueMutex);
        m_queue.push_back(std::move(task));
    }
    // Runs on the GUI thread, and only while this object lives: it is the call's context. One event per task,
    // so the tasks run in the order queued.
    QMetaObject::invokeMethod(
        this, [this] { RunOldest(); }, Qt::QueuedConnection);
}

void WindowJobControls::RunOldest() {
    std::function<void()> task;
    {
        std::lock_guard lock(m_queueMutex);
        if (m_queue.empty()) {
            return;
        }
        task = std::move(m_queue.front());
        m_queue.pop_front();
    }
    task();
}

Text WindowJobControls::ReadSeedText() {
    return RunOnGuiThread<Text>([](MainWindow& window) { return window.ReadSeedText(); });
}

Text WindowJobControls::ReadResultText() {
    return RunOnGuiThread<Text>([](MainWindow& window) { return window.ReadResultText(); });
}

void WindowJobControls::SetResultText(const Text& text) {
    RunOnGuiThread<void>(
        [shown = ToControlText(text)](MainWindow& window) { window.长尾词列表_编辑框->SetText(shown); });
}

void WindowJobControls::AppendResultText(const Text& text) {
    RunOnGuiThread<void>(
        [shown = ToControlText(text)](MainWindow& window) { window.长尾词列表_编辑框->Append(shown); });
}

std::size_t WindowJobControls::CountResultLines() {
    return RunOnGuiThread<std::size_t>([](MainWindow& window) { return window.长尾词列表_编辑框->LineCount(); });
}

int WindowJobControls::ReadRegionSelection() {
    return RunOnGuiThread<int>([](MainWindow& window) { return window.ReadRegionSelection(); });
}

int WindowJobControls::ReadAreaId(int position) {
    return RunOnGuiThread<int>([position](MainWindow& window) { return window.ReadAreaId(position); });
}

void WindowJobControls::SetKeywordTotal(const Text& caption) {
    RunOnGuiThread<void>([shown = ToControlText(caption)](MainWindow& window) { window.SetKeywordTotal(shown); });
}

void WindowJobControls::SetStatusText(const Text& text) {
    RunOnGuiThread<void>([shown = ToControlText(text)](MainWindow& window) { window.SetStatusText(shown); });
}

void WindowJobControls::EnableStart() {
    RunOnGuiThread<void>([](MainWindow& window) { window.开始获取_按钮->setEnabled(true); });
}

void WindowJobControls::AllocationFailed() {
    HandOverFatalError(AllocationFailureMessage(LastFailedAllocationSize()), 0);
    if (m_cancel != nullptr) {
        while (!m_cancel->IsCancelled()) {
            m_cancel->Sleep(std::chrono::hours(1));
        }
    }
}

} // namespace morvane::ui
