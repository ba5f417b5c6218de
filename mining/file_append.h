#pragma once

#include "common/write_all.h"

#include <string>
#include <string_view>

namespace morvane {

// Appends bytes (whole lines) to the end of the existing file path as one block, without creating the file and
// without any lock, so other programs may keep reading it and appending to it. A block that cannot be written whole
// leaves no part of itself behind, unless another program appended after that part before it could be removed:
// the file is never cut into what others wrote. write stands in for write(2) in tests. True when the whole block
// was written.
bool AppendToExistingFile(const std::string& path, std::string_view bytes, const WriteFunction& write = {});

} // namespace morvane
