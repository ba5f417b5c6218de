#include "mining/cancel_token.h"

#include <utility>

namespace morvane {

CancelToken::Subscription::Subscription(Subscription&& other) noexcept
    : m_token(std::exchange(other.m_token, nullptr)), m_id(other.m_id) {}

CancelToken::Subscription& CancelToken::Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        Reset();
        m_token = std::exchange(other.m_token, nullptr);
        m_id = other.m_id;
    }
    return *this;
}

CancelToken::Subscription::~Subscription() {
    Reset();
}

void CancelToken::Subscription::Reset() {
    if (m_token != nullptr) {
        m_token->Unsubscribe(m_id);
        m_token = nullptr;
    }
}

void CancelToken::Cancel() {
    std::lock_guard lock(m_mutex);
    if (m_cancelled) {
        return;
    }
    m_cancelled = true;
    for (auto& [id, waker] : m_wakers) {
        waker();
    }
    m_wake.notify_all();
}

bool CancelToken::IsCancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

CancelToken::Subscription CancelToken::Subscribe(std::function<void()> waker) {
    std::lock_guard lock(m_mutex);
    if (m_cancelled) {
        waker();
    }
    const std::uint64_t id = m_nextId++;
    m_wakers.emplace(id, std::move(waker));
    return {this, id};
}

bool CancelToken::Sleep(std::chrono::milliseconds duration) {
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, duration, [this] { return m_cancelled; });
}

void CancelToken::Unsubscribe(std::uint64_t id) {
    std::lock_guard lock(m_mutex);
    m_wakers.erase(id);
}

} // namespace morvane
