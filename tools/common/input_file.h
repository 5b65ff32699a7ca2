// The bytes of a file a tool reads (a configuration, a script): read once and no further than is
// worth reading, without ever waiting on a pipe nobody writes to or a device that never ends.
#pragma once

#include <cstddef>
#include <string>

namespace toolkit {

struct FileBytes {
    enum class Kind {
        read,
        missing,
        directory,
        permission,
        fifo,
        socket,
        device,
        loop,
        closed,  // standard input, closed when the tool started
        failed
    };
    Kind kind = Kind::failed;
    std::string bytes;  // at most the limit
    bool more = false;  // the file goes on after `bytes`
    std::string why;    // the system's reason, for `failed`
    int error = 0;      // its errno, where the system gave one
};

// Reads `path`, or standard input for "-" and for a path that names the pipe standard input
// already is (/dev/stdin). Opens the file once; named pipes, sockets and devices are not opened
// at all. Standard input that was closed is `closed`, not an empty file.
FileBytes read_bounded(const std::string& path, std::size_t limit);

// Why a file could not be read, in words: "the file does not exist", "it is a named pipe (FIFO),
// not a file", ...; empty for a file that was read.
std::string why_unreadable(const FileBytes& file);

}  // namespace toolkit
