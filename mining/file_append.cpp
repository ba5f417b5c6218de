#include "mining/file_append.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

// How the whole-lines promise is kept while other programs may append to the same file:
// - O_APPEND: the system puts every write at the end the file has at that moment, in the same step, so a block never
//   overwrites what another program appended after the file was opened.
// - One write per block: a regular file takes it whole unless the disk is full or the file-size limit is reached,
//   and nobody else's write lands inside it. A second write for the rest of a short one would land after whatever
//   was appended meanwhile and split the block around it, so a short write is a failure, not a step.
// - The part of a short block is cut off again only while the file still ends where that part ends: otherwise
//   another program has appended after it, and cutting would take their bytes too. Their whole lines matter more
//   than ours; a part left then is the only way this leaves less than whole lines.
bool AppendToExistingFile(const std::string& path, std::string_view bytes, const WriteFunction& write) {
    // Open without creating and without any lock, so other programs may keep reading or writing the file.
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ssize_t written = 0;
    if (!bytes.empty()) {
        do {
            written = write ? write(fd, bytes.data(), bytes.size()) : ::write(fd, bytes.data(), bytes.size());
        } while (written < 0 && errno == EINTR);
    }
    const bool whole = static_cast<std::size_t>(std::max<ssize_t>(written, 0)) == bytes.size();
    if (!whole && written > 0) {
        // With O_APPEND the offset after a write is the end of what it wrote.
        const off_t partEnd = ::lseek(fd, 0, SEEK_CUR);
        struct stat status {};
        if (partEnd >= written && ::fstat(fd, &status) == 0 && status.st_size == partEnd) {
            (void)::ftruncate(fd, partEnd - written);
        }
    }
    ::close(fd);
    return whole;
}

} // namespace morvane
