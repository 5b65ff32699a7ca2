// Starting the real travo binary and reading what /proc says about it (Linux).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace bench {

// A fresh directory with a quintaro.travo that points at 127.0.0.1:port; removed on destruction.
class ConfigDirectory {
  public:
    explicit ConfigDirectory(std::uint16_t port);
    ~ConfigDirectory();
    ConfigDirectory(const ConfigDirectory&) = delete;
    ConfigDirectory& operator=(const ConfigDirectory&) = delete;

    bool ok() const { return ok_; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    bool ok_ = false;
};

// Starts `program` in `directory` with its standard streams on /dev/null; -1 on failure.
pid_t start_child(const std::string& program, const std::string& directory);

// Waits for the child's exit; after `timeout` kills it (by its pid) and reaps it.
std::optional<int> end_child(pid_t pid, std::chrono::milliseconds timeout);

struct CpuSample {
    std::uint64_t cpu_ns = 0;  // user and system time
    std::uint64_t voluntary_switches = 0;
    std::uint64_t involuntary_switches = 0;
};

std::optional<CpuSample> sample_cpu(pid_t pid);

// The number after `field` ("VmHWM:", in KiB, for instance) in /proc/PID/status.
std::optional<std::uint64_t> status_value(pid_t pid, const char* field);

}  // namespace bench
