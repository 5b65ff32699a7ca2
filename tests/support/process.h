// Runs a program as a child process for the process-level tests (POSIX): own working directory,
// stdin from /dev/null, stdout and stderr captured, exit awaited with a limit.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

using Clock = std::chrono::steady_clock;

struct ProcessOptions {
    std::string program{};                 // a path; PATH is not searched
    std::vector<std::string> arguments{};  // argv[1] onwards; argv[0] is the program
    std::string working_directory{};       // empty: the caller's
    bool crlf_as_lf = false;               // a Windows program's line ends read as LF
};

struct ProcessResult {
    bool started = false;
    int start_error = 0;     // errno of a failed start
    bool timed_out = false;  // the limit passed and the child was killed with SIGKILL
    std::optional<int> exit_code;
    std::optional<int> signal;
    std::string out;
    std::string err;
    Clock::time_point started_at;
    Clock::time_point ended_at;

    bool exited_with(int code) const { return exit_code && *exit_code == code; }
};

class Process {
  public:
    // Starts the child at once; started() tells whether that worked.
    explicit Process(ProcessOptions options);
    // A child still running is killed with its process group (what it started) and reaped.
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Waits for the child to end and for its output pipes to close. After `timeout` the child is
    // killed with SIGKILL and the result says timed_out. Later calls return the same result.
    ProcessResult wait(std::chrono::milliseconds timeout);

    // What the child has written so far.
    std::string out_so_far() const;
    std::string err_so_far() const;

  private:
    void read_output();
    void await_exit();
    void stop_reader();

    ProcessResult result_;
    bool crlf_as_lf_ = false;
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    int wake_read_ = -1;
    int wake_write_ = -1;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool reaped_ = false;
    bool output_closed_ = false;
    bool finished_ = false;
    std::thread reader_;
    std::thread waiter_;
};

// How to start travo in `working_directory`: `binary`, or the command in the environment variable
// TRAVO_UNDER_TEST (blank-separated words, e.g. an emulator, its arguments and travo.exe).
ProcessOptions travo_options(const std::string& binary, const std::string& working_directory);

// Starts the program and waits for it.
ProcessResult run_process(const ProcessOptions& options, std::chrono::milliseconds timeout);

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes `bytes` unchanged (no line-end conversion).
    bool write_file(const std::string& name, const std::string& bytes) const;

  private:
    std::string path_;
};

// Values of travo's configuration file by name: host, port, admin_password, lights_message,
// facebook_name, web_page, welcome_extra, rule_1 to rule_5, server_name, panel_text_1,
// panel_text_2. An unknown name throws std::invalid_argument.
using ConfigMap = std::map<std::string, std::string>;

inline constexpr const char* kConfigFileName = "quintaro.travo";

// The 36 lines, LF-ended; values missing from the map are empty, label lines carry captions.
std::string config_text(const ConfigMap& values);

// How a run ended and what it printed, for a failed expectation's message.
std::string describe(const ProcessResult& r);

// A temporary directory holding quintaro.travo written from `values`.
class ConfigDir : public TempDir {
  public:
    explicit ConfigDir(const ConfigMap& values);
    bool ok() const { return TempDir::ok() && written_; }

  private:
    bool written_ = false;
};

}  // namespace testsupport
