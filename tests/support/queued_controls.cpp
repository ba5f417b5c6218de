#include "tests/support/queued_controls.h"

#include "mining/pending_result.h"

#include <optional>
#include <type_traits>

namespace morvane::test {
namespace {

struct Done {};

} // namespace

QueuedControls::QueuedControls() : m_frontEnd([this] { Serve(); }) {}

QueuedControls::~QueuedControls() {
    {
        std::lock_guard lock(m_queueMutex);
        m_stopping = true;
        m_held = false;
    }
    m_queueChanged.notify_all();
    m_frontEnd.join();
}

void QueuedControls::Serve() {
    std::unique_lock lock(m_queueMutex);
    for (;;) {
        m_queueChanged.wait(lock, [this] { return m_stopping || m_ahead || (!m_held && !m_queue.empty()); });
        std::function<void()> operation;
        if (m_ahead) {
            operation.swap(m_ahead);
        } else if (!m_held && !m_queue.empty()) {
            operation = std::move(m_queue.front());
            m_queue.pop_front();
        } else {
            return; // stopping with nothing left
        }
        m_busy = true;
        lock.unlock();
        operation();
        lock.lock();
        m_busy = false;
        m_queueChanged.notify_all();
    }
}

template <typename Result> Result QueuedControls::Run(std::function<Result()> operation) {
    using Stored = std::conditional_t<std::is_void_v<Result>, Done, Result>;
    const std::shared_ptr<CancelToken> cancel = m_cancel;
    if (cancel == nullptr || cancel->IsCancelled()) {
        return Result();
    }
    auto pending = std::make_shared<PendingResult<Stored>>();
    {
        std::lock_guard lock(m_queueMutex);
        m_queue.emplace_back([this, cancel, pending, operation = std::move(operation)] {
            // The job is ended on this thread (StopOnFrontEnd), so a job found uncancelled here stays so while the
            // operation runs.
            if (cancel->IsCancelled()) {
                std::lock_guard dropLock(m_queueMutex);
                ++m_dropped;
                return;
            }
            if constexpr (std::is_void_v<Result>) {
                operation();
                pending->Finish(Done{});
            } else {
                pending->Finish(operation());
            }
        });
    }
    m_queueChanged.notify_all();
    std::optional<Stored> result = pending->Wait(*cancel);
    if constexpr (!std::is_void_v<Result>) {
        return result ? std::move(*result) : Result();
    }
}

void QueuedControls::JobStarting(const std::shared_ptr<CancelToken>& cancel) {
    m_cancel = cancel;
}

Text QueuedControls::ReadSeedText() {
    return Run<Text>([this] { return FakeControls::ReadSeedText(); });
}

Text QueuedControls::ReadResultText() {
    return Run<Text>([this] { return FakeControls::ReadResultText(); });
}

void QueuedControls::SetResultText(const Text& text) {
    Run<void>([this, text] { FakeControls::SetResultText(text); });
}

void QueuedControls::AppendResultText(const Text& text) {
    Run<void>([this, text] { FakeControls::AppendResultText(text); });
}

int QueuedControls::ReadRegionSelection() {
    return Run<int>([this] { return FakeControls::ReadRegionSelection(); });
}

int QueuedControls::ReadAreaId(int position) {
    return Run<int>([this, position] { return FakeControls::ReadAreaId(position); });
}

void QueuedControls::SetKeywordTotal(const Text& caption) {
    Run<void>([this, caption] { FakeControls::SetKeywordTotal(caption); });
}

void QueuedControls::SetStatusText(const Text& text) {
    Run<void>([this, text] { FakeControls::SetStatusText(text); });
}

void QueuedControls::EnableStart() {
    Run<void>([this] { FakeControls::EnableStart(); });
}

void QueuedControls::StopOnFrontEnd(const std::function<void()>& stop) {
    bool done = false;
    {
        std::lock_guard lock(m_queueMutex);
        m_ahead = [this, &stop, &done] {
            stop();
            Seal();
            std::lock_guard doneLock(m_queueMutex);
            done = true;
        };
    }
    m_queueChanged.notify_all();
    std::unique_lock lock(m_queueMutex);
    m_queueChanged.wait(lock, [&done] { return done; });
}

void QueuedControls::Hold() {
    std::lock_guard lock(m_queueMutex);
    m_held = true;
}

void QueuedControls::Release() {
    {
        std::lock_guard lock(m_queueMutex);
        m_held = false;
    }
    m_queueChanged.notify_all();
}

bool QueuedControls::WaitForQueued(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_queueMutex);
    return m_queueChanged.wait_for(lock, timeout, [&] { return m_queue.size() >= count; });
}

bool QueuedControls::Drain(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_queueMutex);
    return m_queueChanged.wait_for(lock, timeout, [this] { return m_queue.empty() && !m_busy; });
}

int QueuedControls::DroppedOperations() const {
    std::lock_guard lock(m_queueMutex);
    return m_dropped;
}

} // namespace morvane::test
