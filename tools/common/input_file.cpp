#include "tools/common/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/common/standard_output.h"

namespace toolkit {
namespace {

#ifdef _WIN32
constexpr int kOpenFlags = O_RDONLY | O_BINARY;
#else
// Non-blocking, so that a file that turned into a pipe after its stat still cannot hold the open.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
#endif

FileBytes::Kind kind_of_error(int error) {
    if (error == ENOENT || error == ENOTDIR) return FileBytes::Kind::missing;
    if (error == EACCES || error == EPERM) return FileBytes::Kind::permission;
    if (error == ELOOP) return FileBytes::Kind::loop;
    return FileBytes::Kind::failed;
}

FileBytes failed(FileBytes::Kind kind, int error = 0) {
    FileBytes out;
    out.kind = kind;
    out.error = error;
    if (error != 0) out.why = std::strerror(error);
    return out;
}

// Directories, pipes, sockets and devices by what their stat says; nothing for a regular file.
bool special(const struct stat& st, FileBytes::Kind& kind) {
    if (S_ISDIR(st.st_mode)) {
        kind = FileBytes::Kind::directory;
    } else if (S_ISFIFO(st.st_mode)) {
        kind = FileBytes::Kind::fifo;
#ifdef S_ISSOCK
    } else if (S_ISSOCK(st.st_mode)) {
        kind = FileBytes::Kind::socket;
#endif
    } else if (!S_ISREG(st.st_mode)) {
        kind = FileBytes::Kind::device;
    } else {
        return false;
    }
    return true;
}

// Whether the path names the pipe that standard input is, as /dev/stdin does.
bool is_standard_input(const struct stat& st) {
#ifdef _WIN32
    (void)st;
    return false;
#else
    struct stat in {};
    return ::fstat(0, &in) == 0 && in.st_dev == st.st_dev && in.st_ino == st.st_ino &&
           (S_ISFIFO(in.st_mode) || S_ISSOCK(in.st_mode));
#endif
}

FileBytes read_fd(int fd, std::size_t limit) {
    FileBytes out;
    out.kind = FileBytes::Kind::read;
    char buffer[8192];
    for (;;) {
        // One byte past the limit tells whether more follow.
        const std::size_t room = limit + 1 - out.bytes.size();
        const auto got = ::read(fd, buffer, static_cast<unsigned>(std::min(room, sizeof buffer)));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return failed(FileBytes::Kind::failed, errno);
        if (got == 0) break;
        out.bytes.append(buffer, static_cast<std::size_t>(got));
        if (out.bytes.size() > limit) {
            out.bytes.resize(limit);
            out.more = true;
            break;
        }
    }
    return out;
}

FileBytes standard_input(std::size_t limit) {
    return standard_input_closed() ? failed(FileBytes::Kind::closed) : read_fd(0, limit);
}

}  // namespace

FileBytes read_bounded(const std::string& path, std::size_t limit) {
    if (path == "-") return standard_input(limit);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int error = errno;
        return failed(kind_of_error(error), error);
    }
    FileBytes::Kind kind{};
    if (special(st, kind)) {
        return is_standard_input(st) ? standard_input(limit) : failed(kind);
    }
    const int fd = ::open(path.c_str(), kOpenFlags);
    if (fd < 0) {
        const int error = errno;
        return failed(kind_of_error(error), error);
    }
    FileBytes out;
    if (::fstat(fd, &st) != 0) {
        out = failed(FileBytes::Kind::failed, errno);
    } else if (special(st, kind)) {
        out = failed(kind);
    } else {
        out = read_fd(fd, limit);
    }
    ::close(fd);
    return out;
}

std::string why_unreadable(const FileBytes& file) {
    switch (file.kind) {
        case FileBytes::Kind::read:
            return {};
        case FileBytes::Kind::missing:
            return "the file does not exist";
        case FileBytes::Kind::directory:
            return "it is a directory";
        case FileBytes::Kind::permission:
            return "permission denied";
        case FileBytes::Kind::fifo:
            return "it is a named pipe (FIFO), not a file";
        case FileBytes::Kind::socket:
            return "it is a socket, not a file";
        case FileBytes::Kind::device:
            return "it is a device, not a file";
        case FileBytes::Kind::loop:
            return "it is a symbolic link that leads back to itself (a loop)";
        case FileBytes::Kind::closed:
            return "it is closed";
        case FileBytes::Kind::failed:
            break;
    }
    return "reading the file failed" + (file.why.empty() ? "" : " (" + file.why + ")");
}

}  // namespace toolkit
