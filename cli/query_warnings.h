#pragma once

#include "mining/query_outcome.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace morvane {

// Turns what became of each seed's request into warnings. A seed too long to send is named every time, as a
// skipped seed line is; of every other kind of failure (no reply, a time-out, an error page, a reply that is not
// UTF-8 or not JSON, ...) the first seed line is named at once, and a kind that happened more than once is
// counted at the end.
class QueryWarnings {
public:
    // timeout is the run's --timeout, which the time-out warnings name.
    explicit QueryWarnings(std::chrono::milliseconds timeout) : m_timeout(timeout) {}

    // Takes the report of the seed line named lineName ("line 3", "line 3 of level 2"); the warning to show now,
    // or empty for none.
    std::string Take(const QueryReport& report, const std::string& lineName);

    // The count of each kind of failure that happened more than once, in a fixed order.
    std::vector<std::string> Summary() const;

private:
    static constexpr std::size_t kKinds = static_cast<std::size_t>(QueryOutcome::Cancelled) + 1;

    std::chrono::milliseconds m_timeout;
    std::array<std::size_t, kKinds> m_counts{};
};

} // namespace morvane
