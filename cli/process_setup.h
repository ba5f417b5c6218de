#pragma once

namespace morvane {

// Readies the process before anything else runs: blocks SIGINT and SIGTERM (BlockStopSignals), opens /dev/null
// on each of descriptors 0-2 that is closed, and ignores SIGPIPE and SIGXFSZ so that a reader that went away and
// the file-size limit come back as EPIPE and EFBIG from write. Uses only async-signal-safe calls, so it may run
// before main; running it again does nothing more.
void PrepareProcess();

// Opens /dev/null, read-only, on each of descriptors 0, 1 and 2 that is closed. The number is taken, so no file,
// pipe or socket opened later lands there; read-only, so a closed standard input reads as empty while a closed
// standard output or error still fails every write (EBADF) instead of swallowing it. False when one cannot be
// opened.
bool ReserveStandardDescriptors();

} // namespace morvane
