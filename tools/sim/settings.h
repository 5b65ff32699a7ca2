// What every part of travo-sim shares: its name, its options and whether it was told to stop.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "tools/common/messages.h"

namespace sim {

using Clock = std::chrono::steady_clock;

inline constexpr toolkit::Tool kTool{"travo-sim"};

struct Options {
    std::uint16_t port = 29999;
    std::string version = "0.7F";
    std::uint16_t insim_version = 9;
    std::string admin_password;
    double keepalive = 30;
    int cars = 0;
    // Size counts bytes (1) or 4-byte units (4) in every record sent.
    int size_unit = 1;
    std::string script;
    std::string snapshot;
    std::string ready_file;
    double wait_client = 60;
    bool forever = false;
    bool trace = false;
    bool ansi = false;
};

// True once SIGINT or SIGTERM came (with --forever).
bool stopping();

inline Clock::duration seconds(double s) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

}  // namespace sim
