#pragma once

#include <array>
#include <cstring>
#include <string>

namespace morvane {

// The system's description of an errno value ("No such file or directory"), safe from any thread.
inline std::string ErrorText(int code) {
    std::array<char, 256> buffer{};
    // The GNU strerror_r returns the text, which may or may not be in buffer.
    return strerror_r(code, buffer.data(), buffer.size());
}

} // namespace morvane
