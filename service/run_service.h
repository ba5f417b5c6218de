#pragma once

#include <string_view>
#include <vector>

namespace morvane {

// Runs morvane-recomd with its arguments (without the program name): loads the corpus, serves until SIGINT or
// SIGTERM, and gives the exit status: 0 after a signal, 2 for a usage error (a one-line message), 1 when the
// corpus cannot be loaded, the socket cannot be listened on, or the server cannot go on. Help and version go to
// standard output; messages and the request log to standard error, through a LogWriter, so that an unread
// standard error holds up neither the serving nor the stopping. Call it from main before any thread starts: it
// blocks SIGINT and SIGTERM for every thread, to take them itself, and ignores SIGPIPE.
int RunService(const std::vector<std::string_view>& args);

} // namespace morvane
