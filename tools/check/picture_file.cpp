#include "tools/check/picture_file.h"

#include "tools/check/checker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

namespace travo_check {
namespace {

#ifdef _WIN32
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_BINARY;
#else
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
#endif

bool travo_name(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".travo";
}

// A fresh file beside `path`: its descriptor and name, or -1 with errno set.
int create_beside(const std::filesystem::path& path, std::string& name) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = path.string() + ".tmp-" + std::to_string(random() % 1000000);
        const int fd = ::open(name.c_str(), kCreateFlags, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto n = ::write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
#ifdef _WIN32
    return ::_commit(fd) == 0;
#else
    return ::fsync(fd) == 0;
#endif
}

}  // namespace

std::string picture_refused(const std::string& picture, const std::string& config) {
    if (travo_name(picture)) {
        return "the picture " + printable_name(picture) +
               " would replace a configuration file (*.travo); give the picture a name "
               "ending in .svg";
    }
    std::error_code error;
    if (config != "-" && std::filesystem::equivalent(picture, config, error)) {
        return "the picture " + printable_name(picture) + " is the configuration file " +
               printable_name(config) +
               " itself; give the picture a name of its own, ending in .svg";
    }
    return {};
}

std::string write_whole_file(const std::string& path, std::string_view bytes) {
    std::string temporary;
    const int fd = create_beside(path, temporary);
    if (fd < 0) return std::strerror(errno);
    const bool written = write_all(fd, bytes);
    const int write_error = errno;
    if (::close(fd) != 0 || !written) {
        const int error = written ? errno : write_error;
        std::remove(temporary.c_str());
        return std::strerror(error);
    }
    std::error_code renamed;
    std::filesystem::rename(temporary, path, renamed);
    if (renamed) {
        std::remove(temporary.c_str());
        return renamed.message();
    }
    return {};
}

}  // namespace travo_check
