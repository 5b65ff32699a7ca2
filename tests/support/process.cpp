#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/value_lines.h"

namespace testsupport {

namespace {

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool make_pipe(int (&fds)[2]) {
    // Close-on-exec, so that children started from other threads never hold our pipe ends.
    return ::pipe2(fds, O_CLOEXEC) == 0;
}

std::string without_cr_before_lf(std::string text) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        text[kept++] = text[i];
    }
    text.resize(kept);
    return text;
}

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void exec_child(char* const* argv, const char* directory, int stdin_fd, int out_fd,
                             int err_fd, int status_fd, long max_fd) {
    auto fail = [&status_fd]() {
        const int e = errno;
        [[maybe_unused]] const ssize_t n = ::write(status_fd, &e, sizeof e);
        ::_exit(127);
    };
    // Move the status pipe out of the way of 0 to 2 before those are replaced.
    status_fd = ::fcntl(status_fd, F_DUPFD_CLOEXEC, 3);
    if (status_fd < 0) ::_exit(127);
    if (::dup2(stdin_fd, 0) < 0 || ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0) fail();
    if (status_fd != 3) {
        if (::dup2(status_fd, 3) < 0) fail();
        status_fd = 3;
        ::fcntl(status_fd, F_SETFD, FD_CLOEXEC);
    }
    // A group of its own, so that a kill reaches what a shell line started too (a pipeline's
    // other commands would otherwise outlive the test and run on).
    ::setpgid(0, 0);
    // Sockets of fake hosts in this test process are not close-on-exec; a child that kept one
    // would hold that connection open after the host closed it.
    // One call where the C library has it: closing up to max_fd one by one takes milliseconds.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    if (::close_range(4, ~0U, 0) != 0)
#endif
        for (long fd = 4; fd < max_fd; ++fd) ::close(static_cast<int>(fd));
    if (directory != nullptr && ::chdir(directory) != 0) fail();
    ::execv(argv[0], argv);
    fail();
    ::_exit(127);
}

}  // namespace

Process::Process(ProcessOptions options) : crlf_as_lf_(options.crlf_as_lf) {
    result_.started_at = result_.ended_at = Clock::now();

    std::vector<std::string> args;
    args.push_back(options.program);
    args.insert(args.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const char* directory =
        options.working_directory.empty() ? nullptr : options.working_directory.c_str();
    long max_fd = ::sysconf(_SC_OPEN_MAX);
    if (max_fd < 0 || max_fd > 65536) max_fd = 65536;

    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    int status[2] = {-1, -1};
    int wake[2] = {-1, -1};
    int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    auto close_all = [&]() {
        for (int* p : {out, err, status, wake}) {
            close_fd(p[0]);
            close_fd(p[1]);
        }
        close_fd(null_fd);
    };
    if (null_fd < 0 || !make_pipe(out) || !make_pipe(err) || !make_pipe(status) ||
        !make_pipe(wake)) {
        result_.start_error = errno;
        close_all();
        return;
    }

    const pid_t pid = ::fork();
    if (pid < 0) {
        result_.start_error = errno;
        close_all();
        return;
    }
    if (pid == 0) exec_child(argv.data(), directory, null_fd, out[1], err[1], status[1], max_fd);
    ::setpgid(pid, pid);  // also here: either side may run first

    close_fd(out[1]);
    close_fd(err[1]);
    close_fd(status[1]);
    close_fd(null_fd);

    // The status pipe closes on exec; an errno arrives only when the start failed.
    int child_errno = 0;
    ssize_t n;
    do {
        n = ::read(status[0], &child_errno, sizeof child_errno);
    } while (n < 0 && errno == EINTR);
    close_fd(status[0]);
    if (n == static_cast<ssize_t>(sizeof child_errno)) {
        int ignored;
        while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
        result_.start_error = child_errno;
        close_all();
        return;
    }

    pid_ = pid;
    out_fd_ = out[0];
    err_fd_ = err[0];
    wake_read_ = wake[0];
    wake_write_ = wake[1];
    result_.started = true;
    reader_ = std::thread(&Process::read_output, this);
    waiter_ = std::thread(&Process::await_exit, this);
}

Process::~Process() {
    if (started()) wait(std::chrono::milliseconds(0));
    close_fd(wake_read_);
    close_fd(wake_write_);
}

void Process::read_output() {
    std::array<pollfd, 3> fds{
        {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}}};
    std::string* sinks[2] = {&result_.out, &result_.err};
    bool draining = false;
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        const int r = ::poll(fds.data(), fds.size(), draining ? 0 : -1);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;  // failure, or nothing left to drain after a wake-up
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard<std::mutex> hold(mutex_);
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
        if (fds[2].revents != 0) {
            draining = true;
            fds[2].fd = -1;
        }
    }
    for (int i = 0; i < 2; ++i)
        if (fds[i].fd >= 0) ::close(fds[i].fd);
    std::lock_guard<std::mutex> hold(mutex_);
    output_closed_ = true;
    changed_.notify_all();
}

void Process::await_exit() {
    // Wait without reaping: until the pid is reaped below, a SIGKILL cannot hit a recycled pid.
    siginfo_t info{};
    int r;
    do {
        r = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
    } while (r < 0 && errno == EINTR);
    const auto ended = Clock::now();

    std::lock_guard<std::mutex> hold(mutex_);
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(pid_, &status, 0);
    } while (got < 0 && errno == EINTR);
    if (got == pid_) {
        if (WIFEXITED(status)) result_.exit_code = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
    }
    result_.ended_at = ended;
    reaped_ = true;
    changed_.notify_all();
}

void Process::stop_reader() {
    if (!reader_.joinable()) return;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wake_write_, &byte, 1);
    reader_.join();
}

ProcessResult Process::wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!started() || finished_) return result_;
    if (!changed_.wait_for(lock, timeout, [this] { return reaped_; })) {
        result_.timed_out = true;
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        changed_.wait(lock, [this] { return reaped_; });
    }
    // The pipes close with the child unless a descendant inherited them; don't wait on that.
    changed_.wait_for(lock, std::chrono::seconds(2), [this] { return output_closed_; });
    lock.unlock();
    stop_reader();
    waiter_.join();
    lock.lock();
    finished_ = true;
    if (crlf_as_lf_) {
        result_.out = without_cr_before_lf(std::move(result_.out));
        result_.err = without_cr_before_lf(std::move(result_.err));
    }
    return result_;
}

std::string Process::out_so_far() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return crlf_as_lf_ ? without_cr_before_lf(result_.out) : result_.out;
}

std::string Process::err_so_far() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return crlf_as_lf_ ? without_cr_before_lf(result_.err) : result_.err;
}

ProcessOptions travo_options(const std::string& binary, const std::string& working_directory) {
    ProcessOptions options{binary, {}, working_directory};
    const char* command = std::getenv("TRAVO_UNDER_TEST");
    if (command == nullptr || *command == '\0') return options;
    std::istringstream words(command);
    std::string word;
    words >> options.program;
    while (words >> word) options.arguments.push_back(word);
    // What runs this way is travo.exe under an emulator, whose console ends lines with CR LF.
    options.crlf_as_lf = true;
    return options;
}

ProcessResult run_process(const ProcessOptions& options, std::chrono::milliseconds timeout) {
    Process p(options);
    return p.wait(timeout);
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/travo-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool TempDir::write_file(const std::string& name, const std::string& bytes) const {
    if (path_.empty()) return false;
    std::ofstream f(file(name), std::ios::out | std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    f.close();
    return static_cast<bool>(f);
}

namespace {

struct ValueLine {
    int line;
    const char* name;
};

constexpr ValueLine kValueLines[] = {
    {2, "host"},           {5, "port"},          {8, "admin_password"}, {11, "lights_message"},
    {14, "facebook_name"}, {17, "web_page"},     {20, "welcome_extra"}, {23, "rule_1"},
    {24, "rule_2"},        {25, "rule_3"},       {26, "rule_4"},        {27, "rule_5"},
    {30, "server_name"},   {33, "panel_text_1"}, {36, "panel_text_2"},
};

constexpr int kConfigLines = 36;

}  // namespace

std::string describe(const ProcessResult& r) {
    std::string s =
        "started " + std::to_string(r.started) + ", timed out " + std::to_string(r.timed_out);
    if (r.exit_code) s += ", exit " + std::to_string(*r.exit_code);
    if (r.signal) s += ", signal " + std::to_string(*r.signal);
    return s + "\nstdout:\n" + r.out + "\nstderr:\n" + r.err;
}

std::string config_text(const ConfigMap& values) {
    for (const auto& [name, value] : values) {
        bool known = false;
        for (const auto& v : kValueLines) known = known || name == v.name;
        if (!known) throw std::invalid_argument("unknown configuration value: " + name);
    }
    std::map<int, std::string> lines;
    // Captions as a person would write them; the reader must skip them whatever they say.
    for (const auto& v : kValueLines) {
        if (v.line > 1 && (v.line - 1 < 23 || v.line - 1 > 27)) lines[v.line - 1] = v.name;
    }
    lines[22] = "rules";
    for (const auto& v : kValueLines) {
        const auto it = values.find(v.name);
        lines[v.line] = it != values.end() ? it->second : "";
    }
    return config_file_text(kConfigLines, lines, [](int) { return std::string(); });
}

ConfigDir::ConfigDir(const ConfigMap& values) {
    written_ = write_file(kConfigFileName, config_text(values));
}

}  // namespace testsupport
