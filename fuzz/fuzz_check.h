#pragma once

#include <cstdio>
#include <cstdlib>

namespace morvane::fuzz {

// Ends the run as a finding when condition is false, naming the property that did not hold.
inline void Check(bool condition, const char* property) {
    if (!condition) {
        std::fprintf(stderr, "property does not hold: %s\n", property);
        std::abort();
    }
}

} // namespace morvane::fuzz
