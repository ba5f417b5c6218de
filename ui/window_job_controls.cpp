#include "ui/window_job_controls.h"

#include "mining/cancel_token.h"
#include "mining/pending_result.h"
#include "ui/allocation_failure.h"
#include "ui/control_text.h"
#include "ui/fatal_error.h"
#include "ui/main_window.h"

#include <QMetaObject>
#include <type_traits>

namespace morvane::ui {
namespace {

// What a void operation leaves as its result: only that it was done.
struct Done {};

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
    using Stored = std::conditional_t<std::is_void_v<Result>, Done, Result>;
    auto pending = std::make_shared<PendingResult<Stored>>();
    Post([this, cancel, pending, operation = std::move(operation)]() mutable {
        // Stop runs on this thread too, so a job found uncancelled here stays so while the operation runs.
        if (cancel->IsCancelled() || m_window.isNull()) {
            return;
        }
        if constexpr (std::is_void_v<Result>) {
            operation(*m_window);
            pending->Finish(Done{});
        } else {
            pending->Finish(operation(*m_window));
        }
    });
    std::optional<Stored> result = pending->Wait(*cancel);
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

void WindowJobControls::SeedQueried(const Text& /*seed*/, const QueryReport& report) {
    // The core reads a reply under a catch of its own, so that a batch front end can warn and go on; the window
    // has no place for a warning, and memory that ran out there ends the program as it would anywhere else.
    if (report.outcome == QueryOutcome::OutOfMemory) {
        AllocationFailed();
    }
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
