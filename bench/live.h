// The figures taken from the real travo process: start-up, keep-alive round trip when idle,
// CPU time and wake-ups while the host is quiet, and peak resident memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct LiveOptions {
    std::string travo;
    int startup_runs = 20;
    int rtt_samples = 1000;
    int idle_seconds = 60;
    int join_samples = 20;
};

struct LiveFigures {
    bool ok = false;
    std::string failure;
    std::vector<double> startup_ms;
    std::vector<double> idle_rtt_us;
    std::vector<double> join_ms;  // join notice sent to the last welcome line received
    double idle_cpu_ms = 0;
    std::uint64_t idle_wakeups = 0;
    std::uint64_t idle_preemptions = 0;
    std::uint64_t hwm_after_greeting_kib = 0;
    std::uint64_t hwm_at_end_kib = 0;
    std::uint64_t rss_at_end_kib = 0;
};

LiveFigures measure_live(const LiveOptions& options);

}  // namespace bench
