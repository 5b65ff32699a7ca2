// Fault injection around the scripted platform, for tests and fuzzers: any call can be made to
// fail, a wait can report an exceptional condition, and every call is logged and counted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "insim/platform.h"
#include "tools/host_side/scripted_platform.h"

namespace testsupport {

// The calls that can be made to fail.
enum class Call {
    socket_layer_start,  // returns -1
    open_tcp_socket,     // returns kNoSocket
    open_udp_socket,     // returns kNoSocket
    lookup,              // lookup_ipv4 returns false
    lookup_unanswered,   // lookup_ipv4_within: no answer; the clock moves on by its limit
    connect,             // connect_ipv4 and connect_ipv4_within return -1
    bind,                // returns -1
    wait,                // wait_readable returns kFailed
    exception,           // wait_readable reports an exceptional condition
    receive,             // receive_bytes and receive_waiting return -1
    send,                // returns -1, nothing is sent
    write_wait,          // wait_writable times out (returns 0): the peer does not read
    connect_late,        // connect_ipv4_within returns -2 when its limit has passed on the clock
    connect_refused,     // connect_ipv4_within returns -3: nothing listens there
    count_
};

struct Wait {
    long seconds;
    long microseconds;
};

// What the platform was asked since the last reset, for the test to read.
struct CallLog {
    std::vector<Wait> waits;              // every wait_readable, in order
    std::vector<unsigned long> sleeps;    // every sleep_ms, in milliseconds
    std::vector<std::string> lookups;     // host texts given to lookup_ipv4
    std::uint32_t connected_address = 0;  // of the last successful connect, network byte order
    std::uint16_t connected_port = 0;
    long connect_limit_ms = -1;  // of the last connect_ipv4_within; -1 when there was none
    int layer_starts = 0;
    int layer_stops = 0;
    int sockets_opened = 0;
    int sockets_closed = 0;
    int stray_closes = 0;    // closes of a handle that is not open: closed already, or never opened
    int receives = 0;        // receive_bytes and receive_waiting calls, those that failed too
    int empty_receives = 0;  // receive_waiting calls that found nothing waiting
    int no_delay = 0;        // set_no_delay calls
    int keep_alive = 0;      // set_keep_alive calls
    int dry_waits = 0;       // waits and blocking receives that found the script run out
};

// The operating system's platform whose sleeps take no time: the start light over real sockets.
class NoSleepPlatform final : public platform::PlatformWrapper {
  public:
    NoSleepPlatform() noexcept : PlatformWrapper(platform::os()) {}
    void sleep_ms(unsigned long /*milliseconds*/) override {}
};

class FaultPlatform final : public platform::PlatformWrapper {
  public:
    explicit FaultPlatform(hostside::ScriptedPlatform& host) noexcept
        : PlatformWrapper(host), host_(host) {}

    // Forgets every failure, the hook and the log, and resets the scripted host too.
    void reset();

    // The `nth` call of that kind from now on fails (1 = the next one); with `and_later` every call
    // after it fails too. A later request for the same call replaces an earlier one.
    void fail(Call call, int nth = 1, bool and_later = false);

    // Called when a wait or a receive finds nothing more to come (the script has run out, or the
    // peer has closed or reset), so that a test can add events or throw to stop a loop that goes
    // on.
    void on_empty(std::function<void()> hook) { hook_ = std::move(hook); }

    const CallLog& log() const { return log_; }

    int socket_layer_start() override;
    void socket_layer_stop() override;
    platform::SocketHandle open_tcp_socket() override;
    platform::SocketHandle open_udp_socket() override;
    void close_socket(platform::SocketHandle s) override;
    bool lookup_ipv4(const char* host, std::uint32_t* address_be) override;
    platform::LookupResult lookup_ipv4_within(const char* host, std::uint32_t* address_be,
                                              long milliseconds) override;
    int connect_ipv4(platform::SocketHandle s, std::uint32_t address_be,
                     std::uint16_t port) override;
    int connect_ipv4_within(platform::SocketHandle s, std::uint32_t address_be, std::uint16_t port,
                            long milliseconds) override;
    int bind_any_ipv4(platform::SocketHandle s, std::uint16_t port) override;
    platform::WaitResult wait_readable(platform::SocketHandle s, long seconds,
                                       long microseconds) override;
    int wait_writable(platform::SocketHandle s, long milliseconds) override;
    long receive_bytes(platform::SocketHandle s, void* buffer, std::size_t length) override;
    long receive_waiting(platform::SocketHandle s, void* buffer, std::size_t length) override;
    long send_bytes(platform::SocketHandle s, const void* data, std::size_t length) override;
    void set_no_delay(platform::SocketHandle s) override;
    void set_keep_alive(platform::SocketHandle s) override;
    void sleep_ms(unsigned long milliseconds) override;

  private:
    struct Failure {
        int countdown = 0;  // 0: no failure asked for
        bool and_later = false;
        bool failing = false;  // every call fails from now on
    };

    bool fails(Call call);
    platform::SocketHandle opened(platform::SocketHandle s);
    // Before a wait or receive: the hook when nothing more is to come, and the count of those
    // that will find the script run out.
    void before_reading(bool blocking);

    hostside::ScriptedPlatform& host_;
    std::array<Failure, static_cast<std::size_t>(Call::count_)> failures_{};
    std::function<void()> hook_;
    CallLog log_;
};

}  // namespace testsupport
