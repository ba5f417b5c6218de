#pragma once

#include "mining/cancel_token.h"

#include <condition_variable>
#include <mutex>
#include <optional>

namespace morvane {

// The result of an operation that another thread carries out for a job: the job's thread waits for it until the
// operation is finished or the job is cancelled, whichever comes first. Shared (by shared_ptr) between the two
// threads, so an operation finished after the job stopped waiting still has somewhere to put its result. Usage:
//
//     auto pending = std::make_shared<PendingResult<Text>>();
//     ... hand [pending] { pending->Finish(ReadTheBox()); } to the other thread ...
//     std::optional<Text> text = pending->Wait(cancel); // nothing once cancel is cancelled
template <typename Result> class PendingResult {
public:
    // Called once, on the thread that carried the operation out.
    void Finish(Result result) {
        std::lock_guard lock(m_mutex);
        m_result.emplace(std::move(result));
        m_changed.notify_all();
    }

    // The result, once it is there; nothing once cancel is cancelled first.
    std::optional<Result> Wait(CancelToken& cancel) {
        // The waker takes only this result's lock, never the other way round, so the token's lock (held while the
        // waker runs) and this one are always taken in the same order.
        const CancelToken::Subscription wake = cancel.Subscribe([this] {
            std::lock_guard lock(m_mutex);
            m_cancelled = true;
            m_changed.notify_all();
        });
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_result.has_value() || m_cancelled; });
        return std::move(m_result);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<Result> m_result;
    bool m_cancelled = false;
};

} // namespace morvane
