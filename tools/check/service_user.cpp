#include "tools/check/service_user.h"

#ifdef __linux__
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>
#endif

namespace travo_check {

#ifdef __linux__
std::optional<bool> user_can_read(const std::string& path, const char* user) {
    if (::geteuid() != 0) return std::nullopt;
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> strings(16384);
    if (::getpwnam_r(user, &entry, strings.data(), strings.size(), &found) != 0 || found == nullptr)
        return std::nullopt;
    const uid_t uid = entry.pw_uid;
    const gid_t gid = entry.pw_gid;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(user, gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(user, gid, groups.data(), &count) < 0) return std::nullopt;
    }
    // The service opens the file by its own path from its own folder: every folder from the
    // root on must let the user through, whatever folder this check runs in.
    std::error_code error;
    const std::string absolute = std::filesystem::absolute(path, error).string();
    if (error) return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0) return std::nullopt;
    if (child == 0) {
        // Only calls that are safe between fork and exit.
        if (::setgroups(static_cast<std::size_t>(count), groups.data()) != 0 ||
            ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(2);
        const int fd = ::open(absolute.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        ::_exit(fd >= 0 ? 0 : (errno == EACCES || errno == EPERM) ? 1 : 2);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return std::nullopt;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) return std::nullopt;
    return WEXITSTATUS(status) == 0;
}
#else
std::optional<bool> user_can_read(const std::string&, const char*) {
    return std::nullopt;
}
#endif

}  // namespace travo_check
