// The real travo binary's configuration, and what /proc says about the running process (Linux).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

#include "tests/support/process.h"

namespace bench {

// The configuration the benchmark's travo runs with: host 127.0.0.1 at `port`, and a value of
// typical length on every other line.
testsupport::ConfigMap travo_config(std::uint16_t port);

struct CpuSample {
    std::uint64_t cpu_ns = 0;  // user and system time
    std::uint64_t voluntary_switches = 0;
    std::uint64_t involuntary_switches = 0;
};

std::optional<CpuSample> sample_cpu(pid_t pid);

// The number after `field` ("VmHWM:", in KiB, for instance) in /proc/PID/status.
std::optional<std::uint64_t> status_value(pid_t pid, const char* field);

}  // namespace bench
