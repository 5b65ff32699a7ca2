#include "tools/common/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>

#include <csignal>
#endif

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <system_error>
#include <utility>

#include "tools/common/escape.h"

namespace toolkit {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_BINARY;
#else
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY;
#endif
// As many links as the system follows before it calls them a loop.
constexpr int kMaxLinks = 40;
constexpr const char* kMountPoint = "it is a mount point, which no other file can replace";

// A name as a message shows it; a name may be as long as a command line.
std::string shown(const std::string& path) {
    return escaped_start(path, Policy::name, 200);
}

bool travo_name(const fs::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".travo";
}

bool ends_in_separator(const std::string& path) {
#ifdef _WIN32
    return path.back() == '/' || path.back() == '\\';
#else
    return path.back() == '/';
#endif
}

#ifdef _WIN32
// NUL, CON, COM1, ...: in every folder, with any extension, Windows opens a device by that name.
bool windows_device(const fs::path& path) {
    std::string stem = path.filename().string();
    if (const std::size_t dot = stem.find('.'); dot != std::string::npos) stem.resize(dot);
    while (!stem.empty() && (stem.back() == ' ')) stem.pop_back();
    for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (stem == device) return true;
    }
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
           stem[3] >= '0' && stem[3] <= '9';
}
#endif

// The file a name leads to: the name itself, or the end of its chain of symbolic links (which
// may not exist yet); nothing for a loop.
std::optional<fs::path> follow_links(const fs::path& name) {
    fs::path p = name;
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(p, error))) return p;
        const fs::path target = fs::read_symlink(p, error);
        if (error) return p;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    return std::nullopt;
}

// The folder a file is created in.
fs::path folder_of(const fs::path& file) {
    const fs::path parent = file.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

// Where a name that may not exist yet would be: for telling apart two names of one new file.
std::string location(const std::string& path) {
    std::error_code error;
    const auto target = follow_links(path);
    const fs::path absolute = fs::absolute(target ? *target : fs::path(path), error);
    if (error) return path;
    const fs::path canonical = fs::weakly_canonical(absolute, error);
    return (error ? absolute.lexically_normal() : canonical).string();
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error) && !error) return true;
    return location(a) == location(b);
}

#ifndef _WIN32
// The system's reason when this process cannot do `mode` to `path`, else empty.
std::string access_denied(const fs::path& path, int mode) {
    if (::access(path.c_str(), mode) == 0) return {};
    return std::strerror(errno);
}

// Where the run's own standard input, output or error is the file at `path`, by any name (a
// link, /dev/stdout, a hard link): "output goes to" and the like, else nothing. Replacing it
// would lose what the run prints, or what the shell gave it. A terminal, a pipe or /dev/null is
// no file and no conflict.
const char* standard_stream(const std::string& path) {
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0 || !S_ISREG(file.st_mode)) return nullptr;
    for (const auto& [fd, where] :
         {std::pair{0, "input comes from"}, std::pair{1, "output goes to"},
          std::pair{2, "error goes to"}}) {
        struct stat stream {};
        if (::fstat(fd, &stream) == 0 && stream.st_dev == file.st_dev &&
            stream.st_ino == file.st_ino)
            return where;
    }
    return nullptr;
}

// Whether a file is mounted over its name (a bind mount, as containers have for /etc/hosts),
// which no rename can replace. A system too old to tell (Linux before 5.8) says so at the rename;
// a device number differing from the folder's would also call files of some overlays mounts.
bool mount_point(const fs::path& file) {
#ifdef STATX_ATTR_MOUNT_ROOT
    struct statx x {};
    return ::statx(AT_FDCWD, file.c_str(), 0, STATX_BASIC_STATS, &x) == 0 &&
           (x.stx_attributes_mask & x.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#else
    (void)file;
    return false;
#endif
}
#endif

// What is at the end of the name: why it may not be written, else empty. `target` is where the
// bytes go: the file itself as the system reaches it through any links, or for a name that
// leads nowhere yet, where the end of its chain of links would be.
std::string kind_refusal(const std::string& path, const std::string& subject, fs::path& target,
                         bool& exists) {
    const std::string cannot = "cannot write " + subject + ": ";
    const std::string loop = subject + " is a symbolic link that leads back to itself (a loop)";
    const std::string device =
        subject + " is a device, not a file; give the name of a new or a regular file";
#ifdef _WIN32
    if (windows_device(path)) return device;
#endif
    std::error_code error;
    fs::file_status status = fs::status(path, error);
    if (error == std::errc::too_many_symbolic_link_levels) return loop;
    exists = fs::exists(status);
    if (exists) {
        // A pipe or a socket has no path of its own to resolve (/proc/self/fd/1). A file without
        // one would have the link that leads to it replaced instead (/dev/stdin itself).
        std::error_code unresolved;
        target = fs::canonical(path, unresolved);
        if (unresolved && fs::is_regular_file(status)) {
            return subject + " leads to a file that has no name any more (deleted while open, " +
                   "or out of reach); give the name of a new or a regular file";
        }
        if (unresolved) target = path;
    } else {
        const auto end = follow_links(path);
        if (!end) return loop;
        target = *end;
        status = fs::status(target, error);
    }
    if (travo_name(target)) {
        return subject + " leads to " + shown(target.string()) +
               ", a configuration file (*.travo); give it a name of its own";
    }
    if (error && status.type() != fs::file_type::not_found) return cannot + error.message();
    switch (status.type()) {
        case fs::file_type::not_found:
            break;
        case fs::file_type::regular:
#ifndef _WIN32
            if (mount_point(target)) return cannot + kMountPoint;
            if (const std::string why = access_denied(target, W_OK); !why.empty())
                return cannot + why;
#endif
            break;
        case fs::file_type::directory:
            return subject + " is a folder; give the name of a file in it";
        case fs::file_type::fifo:
            return subject + " is a named pipe (FIFO), not a file; give the name of a new or a " +
                   "regular file";
        case fs::file_type::socket:
            return subject + " is a socket, not a file; give the name of a new or a regular file";
        case fs::file_type::block:
        case fs::file_type::character:
            return device;
        default:
            return subject + " is not a regular file; give the name of a new or a regular file";
    }
    const fs::path folder = folder_of(target);
    const fs::file_status folder_status = fs::status(folder, error);
    if (!fs::exists(folder_status))
        return cannot + "the folder " + shown(folder.string()) + " does not exist";
    if (!fs::is_directory(folder_status))
        return cannot + shown(folder.string()) + " is not a folder";
#ifndef _WIN32
    // The new text is written beside the file first, then renamed into its place.
    if (const std::string why = access_denied(folder, W_OK | X_OK); !why.empty())
        return cannot + "the folder " + shown(folder.string()) + " takes no new file (" + why + ")";
#endif
    return {};
}

// A fresh file in `folder`: its descriptor and name, or -1 with errno set. The name is short, so
// that a long target name still leaves room for it.
int create_in(const fs::path& folder, fs::path& name) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        name = folder / (std::string(".travo-") + suffix + ".tmp");
        const int fd = ::open(name.string().c_str(), kCreateFlags, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// 0, or the errno of the write that failed.
int write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto n = ::write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
#ifdef _WIN32
    return ::_commit(fd) == 0 ? 0 : errno;
#else
    return ::fsync(fd) == 0 ? 0 : errno;
#endif
}

// Holds the signals that end a tool while the temporary file exists, so that an interrupt
// comes after the rename or the clean-up, never between.
class SignalsHeld {
  public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
#ifndef _WIN32
    sigset_t previous_;
#endif
};

#ifdef _WIN32
// Windows has no such signals to hold.
SignalsHeld::SignalsHeld() = default;
SignalsHeld::~SignalsHeld() = default;
#else
SignalsHeld::SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, s);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
}
SignalsHeld::~SignalsHeld() {
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}
#endif

// Writes a temporary file in the target's folder and renames it over the target: the reason
// when that failed, else empty.
std::string replace(const fs::path& target, bool exists, std::string_view bytes) {
    struct stat old {};
    if (exists && ::stat(target.string().c_str(), &old) != 0) return std::strerror(errno);
    const SignalsHeld held;
    fs::path temporary;
    const int fd = create_in(folder_of(target), temporary);
    if (fd < 0) return std::strerror(errno);
#ifndef _WIN32
    if (exists) {
        // Owner first: a change of owner clears the set-user-ID bits that the mode restores.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)::fchown(fd, old.st_uid, old.st_gid);
        (void)::fchmod(fd, old.st_mode & 07777);
    }
#endif
    int error = write_all(fd, bytes);
    if (::close(fd) != 0 && error == 0) error = errno;
    std::error_code renamed;
    if (error == 0) {
#ifdef _WIN32
        if (exists) fs::permissions(temporary, fs::status(target).permissions(), renamed);
#endif
        fs::rename(temporary, target, renamed);
    }
    if (error == 0 && !renamed) return {};
    std::error_code ignored;
    fs::remove(temporary, ignored);
    if (error != 0) return std::strerror(error);
    // A mount the claim could not tell (mounted since) meets the rename as "busy".
    return renamed == std::errc::device_or_resource_busy ? kMountPoint : renamed.message();
}

}  // namespace

void RunFiles::reads(const std::string& path, std::string_view what) {
    if (path != "-") {
        uses_.push_back({path, std::string(what), false});
        return;
    }
#ifndef _WIN32
    // `tool - < FILE` reads FILE: the system's name of standard input leads to it.
    uses_.push_back({"/dev/stdin", std::string(what), false, true});
#endif
}

std::string RunFiles::claim(const std::string& path, std::string_view what) {
    std::filesystem::path target;
    bool exists = false;
    return check(path, what, target, exists);
}

std::string RunFiles::check(const std::string& path, std::string_view what,
                            std::filesystem::path& target, bool& exists) {
    const std::string subject = std::string(what) + " " + shown(path);
    if (path.empty()) return "the name of " + std::string(what) + " is empty";
    if (path == "-") {
        return std::string(what) +
               " cannot be -: it is never written to standard output; give a file name";
    }
    if (ends_in_separator(path))
        return subject + " ends in a slash, which names a folder; give the name of a file";
    if (travo_name(path)) {
        return subject + " would replace a configuration file (*.travo); give it a name of its own";
    }
    bool known = false;
    for (const Use& use : uses_) {
        const bool same_use = use.output && use.what == what;
        known = known || (same_use && use.path == path);
        if (same_use || !same_file(path, use.path)) continue;
        if (use.standard_input)
            return subject + " is " + use.what +
                   ", read from standard input; give it a name of its own";
        return subject + " is " + (use.output ? "also " : "") + use.what + " " + shown(use.path) +
               (use.output ? "" : " itself") + "; give it a name of its own";
    }
#ifndef _WIN32
    if (const char* where = standard_stream(path))
        return subject + " is the file standard " + where + "; give it a name of its own";
#endif
    if (std::string why = kind_refusal(path, subject, target, exists); !why.empty()) return why;
    if (!known) uses_.push_back({path, std::string(what), true});
    return {};
}

std::string RunFiles::write(const std::string& path, std::string_view bytes,
                            std::string_view what) {
    // Checked again at the write: the file may have changed since the claim.
    std::filesystem::path target;
    bool exists = false;
    if (std::string why = check(path, what, target, exists); !why.empty()) return why;
    if (const std::string why = replace(target, exists, bytes); !why.empty())
        return "cannot write " + std::string(what) + " " + shown(path) + ": " + why;
    return {};
}

}  // namespace toolkit
