#include "bench/flood.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <thread>

#include "app/config.h"
#include "app/startup.h"
#include "insim/host_connection.h"
#include "insim/platform.h"
#include "tests/support/fault_platform.h"
#include "tools/host_side/fake_host.h"

namespace bench {

namespace {

using std::chrono::milliseconds;

constexpr std::size_t kReceiveSize = 512;

double seconds_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The host on one core and the receiver on the other, the same for both passes, so that the
// comparison does not depend on where the scheduler happens to put them.
void pin_to_cpu(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu % CPU_SETSIZE, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

constexpr int kHostCpu = 0;
constexpr int kReceiverCpu = 1;

// The host's side of a pass: sends the pieces and, between them, takes in what came back.
struct HostPusher {
    hostside::FakeHost& host;
    PassResult& result;
    std::deque<Clock::time_point> unanswered;

    void take_replies(milliseconds timeout) {
        while (auto p = host.next_packet(timeout)) {
            if (p->bytes.size() == sizeof(insim::IS_TINY) &&
                insim::is_keep_alive(p->bytes.data(), p->bytes.size())) {
                ++result.keepalive_replies;
                if (!unanswered.empty()) {
                    result.keepalive_rtt_us.push_back(
                        std::chrono::duration<double, std::micro>(p->at - unanswered.front())
                            .count());
                    unanswered.pop_front();
                }
            } else {
                ++result.other_replies;
            }
            timeout = milliseconds(0);
        }
        host.clear_received();
    }

    bool push(const Stream& stream, bool replies_expected) {
        std::size_t from = 0;
        for (std::size_t i = 0; i < stream.piece_ends.size(); ++i) {
            const std::size_t to = stream.piece_ends[i];
            if (!host.send_raw(stream.bytes.data() + from, to - from)) return false;
            const auto sent = Clock::now();
            if (replies_expected) {
                for (std::uint32_t k = 0; k < stream.keepalives_per_piece[i]; ++k)
                    unanswered.push_back(sent);
            }
            // The anchor looks too, so that both passes cost the host the same.
            take_replies(milliseconds(0));
            from = to;
        }
        // The last keep-alive's answer comes after everything before it has been handled.
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (replies_expected && !unanswered.empty() && Clock::now() < deadline)
            take_replies(milliseconds(100));
        return unanswered.empty();
    }
};

void fill_config(app::ConfigValues& c, std::uint16_t port) {
    std::memset(&c, 0, sizeof c);
    std::snprintf(c.host, sizeof c.host, "%s", "127.0.0.1");
    std::snprintf(c.port, sizeof c.port, "%u", static_cast<unsigned>(port));
    std::snprintf(c.lights_message, sizeof c.lights_message, "%s", "^3Atentos a la luz");
    std::snprintf(c.facebook_name, sizeof c.facebook_name, "%s", "travo.team");
    std::snprintf(c.web_page, sizeof c.web_page, "%s", "www.travo.example");
    std::snprintf(c.welcome_extra, sizeof c.welcome_extra, "%s", "Respeta las reglas");
    std::snprintf(c.rule_1, sizeof c.rule_1, "%s", "^71. No chocar");
    std::snprintf(c.rule_5, sizeof c.rule_5, "%s", "^75. Diviertete");
    std::snprintf(c.server_name, sizeof c.server_name, "%s", "^1Travo ^7Server");
    std::snprintf(c.panel_text_1, sizeof c.panel_text_1, "%s", "^2A");
    std::snprintf(c.panel_text_2, sizeof c.panel_text_2, "%s", "^2B");
}

// Gives the receiver time to block in its first wait before the clock starts.
void settle() {
    std::this_thread::sleep_for(milliseconds(20));
}

}  // namespace

// Out of line so that an instruction counter can be switched on for it alone.
[[gnu::noinline]] bool read_and_split(platform::SocketHandle s, std::size_t& packets) {
    std::uint8_t buffer[kReceiveSize];
    std::size_t length = 0;
    std::uint64_t type_sum = 0;
    platform::Platform& os = platform::os();
    for (;;) {
        const long got = os.receive_bytes(s, buffer + length, sizeof buffer - length);
        if (got <= 0) break;
        length += static_cast<std::size_t>(got);
        const std::size_t used = split_by_size(buffer, length, packets, type_sum);
        if (used < length && buffer[used] == 0) return false;
        std::memmove(buffer, buffer + used, length - used);
        length -= used;
    }
    // Using the sum keeps the split from being optimised away.
    return type_sum != 0 || packets == 0;
}

PassResult travo_pass(const Stream& stream) {
    PassResult result;
    result.keepalive_rtt_us.reserve(stream.of(Kind::kKeepAlive));
    hostside::FakeHost host;
    if (!host.listen()) {
        result.failure = "listen";
        return result;
    }

    static app::ConfigValues config;
    fill_config(config, host.port());
    // Only the mixed flood holds "!luz": the streams of one kind, which the instruction counts
    // use, run over the operating system's platform itself, as travo does.
    testsupport::NoSleepPlatform no_sleep;
    platform::Platform& platform = stream.of(Kind::kOtherCommand) > 0
                                       ? static_cast<platform::Platform&>(no_sleep)
                                       : platform::os();

    Clock::time_point loop_end{};
    int loop_result = 0;
    bool connected = false;
    AllocationCount allocations{};
    std::thread receiver([&] {
        pthread_setname_np(pthread_self(), "travo-loop");  // for profilers
        pin_to_cpu(kReceiverCpu);
        insim::HostConnection local{platform};  // a new object per pass: connected only once
        insim::IS_VER version{};
        if (app::connect_to_host(local, config, version) < 0) return;
        connected = true;
        const double cpu_start = thread_cpu_seconds();
        start_counting_allocations();
        loop_result = app::run_packet_loop(local, config);
        allocations = stop_counting_allocations();
        loop_end = Clock::now();
        result.receiver_cpu_seconds = thread_cpu_seconds() - cpu_start;
    });

    bool pushed = false;
    Clock::time_point start{};
    pin_to_cpu(kHostCpu);
    if (host.accept(std::chrono::seconds(5)) && host.handshake()) {
        settle();
        start = Clock::now();
        HostPusher pusher{host, result, {}};
        pushed = pusher.push(stream, true);
    }
    host.close();
    receiver.join();

    result.allocations = allocations;
    result.seconds = seconds_between(start, loop_end);
    if (!connected) {
        result.failure = "travo did not connect";
    } else if (!pushed) {
        result.failure = "not every keep-alive was answered";
    } else if (loop_result != -2) {
        result.failure = "the loop did not end on the host's close";
    } else {
        result.ok = true;
    }
    return result;
}

PassResult anchor_pass(const Stream& stream) {
    PassResult result;
    hostside::FakeHost host;
    if (!host.listen()) {
        result.failure = "listen";
        return result;
    }
    const std::uint16_t port = host.port();

    Clock::time_point end{};
    bool framing_error = false;
    std::size_t packets = 0;
    std::thread receiver([&] {
        pthread_setname_np(pthread_self(), "anchor-loop");
        pin_to_cpu(kReceiverCpu);
        const platform::SocketHandle s = platform::os().open_tcp_socket();
        std::uint32_t address = 0;
        if (!platform::os().lookup_ipv4("127.0.0.1", &address) ||
            platform::os().connect_ipv4(s, address, port) != 0) {
            platform::os().close_socket(s);
            return;
        }
        const double cpu_start = thread_cpu_seconds();
        framing_error = !read_and_split(s, packets);
        end = Clock::now();
        result.receiver_cpu_seconds = thread_cpu_seconds() - cpu_start;
        platform::os().close_socket(s);
    });

    bool pushed = false;
    Clock::time_point start{};
    pin_to_cpu(kHostCpu);
    if (host.accept(std::chrono::seconds(5))) {
        settle();
        start = Clock::now();
        HostPusher pusher{host, result, {}};
        pushed = pusher.push(stream, false);
    }
    host.close();
    receiver.join();

    result.seconds = seconds_between(start, end);
    result.packets_seen = packets;
    if (!pushed || framing_error) {
        result.failure = "anchor stream broken";
    } else if (packets != stream.packets) {
        result.failure = "anchor saw a different packet count";
    } else {
        result.ok = true;
    }
    return result;
}

}  // namespace bench
