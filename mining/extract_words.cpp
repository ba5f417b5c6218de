#include "mining/recommendations.h"

namespace morvane {

void ExtractWords(std::string_view /*reply*/, WordList& /*words*/) {}

} // namespace morvane
