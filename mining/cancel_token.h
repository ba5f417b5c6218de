#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace morvane {

// One job's cancellation: a flag that the worker tests, plus wakers that rouse every place where the worker
// can block. Cancel() is called from another thread; it sets the flag, runs every registered waker and ends
// every pending Sleep. Usage:
//
//     CancelToken::Subscription wake = token.Subscribe([&] { curl_multi_wakeup(multi); });
//     while (!token.IsCancelled()) { ... block until woken ... }
class CancelToken {
public:
    // Keeps a waker registered for its lifetime. Its destructor waits for a waker that is running to finish,
    // so the waker may use state that the subscriber destroys right after.
    class Subscription {
    public:
        Subscription() = default;
        Subscription(Subscription&& other) noexcept;
        Subscription& operator=(Subscription&& other) noexcept;
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
        ~Subscription();

    private:
        friend class CancelToken;
        Subscription(CancelToken* token, std::uint64_t id) : m_token(token), m_id(id) {}
        void Reset();

        CancelToken* m_token = nullptr;
        std::uint64_t m_id = 0;
    };

    CancelToken() = default;
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    // Sets the flag and wakes every waiter. Idempotent; safe from any thread.
    void Cancel();

    // True once Cancel() has been called.
    bool IsCancelled() const;

    // Registers waker to run (under the token's lock, on the cancelling thread) when Cancel() is called; a
    // waker must be quick and must not call back into this token. On a token that is already cancelled the
    // waker runs at once, before Subscribe returns.
    [[nodiscard]] Subscription Subscribe(std::function<void()> waker);

    // Waits for duration or until Cancel(); returns false when cancelled.
    bool Sleep(std::chrono::milliseconds duration);

private:
    void Unsubscribe(std::uint64_t id);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_cancelled = false;
    std::uint64_t m_nextId = 1;
    std::map<std::uint64_t, std::function<void()>> m_wakers;
};

} // namespace morvane
