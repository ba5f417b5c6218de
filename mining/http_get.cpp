#include "mining/http_get.h"

namespace morvane {

std::string HttpGet(const std::string& /*url*/, CancelToken* /*cancel*/) {
    return {};
}

} // namespace morvane
