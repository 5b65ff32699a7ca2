// The bytes of a configuration file, read once and no further than is worth reading, without
// ever waiting on a pipe nobody writes to or a device that never ends.
#pragma once

#include <cstddef>
#include <string>

namespace travo_check {

// Far more than travo's 36 lines of at most 101 bytes, so that a reader can still tell how long
// an over-long line is and that more lines follow.
inline constexpr std::size_t kReadLimit = 64 * 1024;

struct FileBytes {
    enum class Kind { read, missing, directory, permission, fifo, device, failed };
    Kind kind = Kind::failed;
    std::string bytes;  // at most the limit
    bool more = false;  // the file goes on after `bytes`
    std::string why;    // the system's reason, for `failed`
};

// Reads `path`, or standard input for "-" and for a path that names the pipe standard input
// already is (/dev/stdin). Opens the file once; named pipes and devices are not opened at all.
FileBytes read_bounded(const std::string& path, std::size_t limit = kReadLimit);

}  // namespace travo_check
