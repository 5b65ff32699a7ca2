// One pass of a stream over loopback, into travo's connection and packet loop or into the bare
// anchor loop, with the host's side timed on the sending thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "bench/alloc_count.h"
#include "bench/stream.h"
#include "insim/platform.h"

namespace bench {

using Clock = std::chrono::steady_clock;

struct PassResult {
    bool ok = false;
    const char* failure = "";
    double seconds = 0;               // from the host's first send to the receiver's end of stream
    double receiver_cpu_seconds = 0;  // CPU time of the receiving thread over the same span
    std::size_t packets_seen = 0;     // anchor only: what the split found
    AllocationCount allocations{};
    std::vector<double> keepalive_rtt_us;  // travo only
    std::size_t keepalive_replies = 0;
    std::size_t other_replies = 0;
};

// travo's HostConnection and run_packet_loop on a thread of this process.
PassResult travo_pass(const Stream& stream);

// recv() of at most 512 bytes at a time, split by the Size byte, nothing else.
PassResult anchor_pass(const Stream& stream);

// The anchor's loop until the end of the stream; false on a zero Size.
bool read_and_split(platform::SocketHandle s, std::size_t& packets);

}  // namespace bench
