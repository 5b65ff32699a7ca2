// A second implementation of platform::Platform that keeps everything in memory, for tests,
// fuzzers and tools that run the program's code without a network: receives are served from a
// script of events, sends are recorded, waits and sleeps take no time, and any call can be made
// to fail. Pass an object to HostConnection in place of the operating system's platform. Each
// object is a machine of its own; one object is not for use from several threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "insim/platform.h"

namespace memory_platform {

using Bytes = std::vector<std::uint8_t>;

// The calls that can be made to fail.
enum class Call {
    socket_layer_start,  // returns -1
    open_tcp_socket,     // returns kNoSocket
    open_udp_socket,     // returns kNoSocket
    lookup,              // lookup_ipv4 returns false
    connect,             // connect_ipv4 and connect_ipv4_within return -1
    bind,                // returns -1
    wait,                // wait_readable returns kFailed
    receive,             // receive_bytes and receive_waiting return -1
    send,                // returns -1, nothing is recorded
    write_wait,          // wait_writable times out (returns 0): the peer does not read
    count_
};

// The next wait_readable, or a receive, meets the events in this order.
enum class Event {
    bytes,      // readable; receives take from these bytes, at most one event per receive
    timeout,    // one wait that ends in a time-out; receive_waiting meanwhile has nothing
    exception,  // one wait that reports an exceptional condition
    close,      // the peer closed: every receive from here on returns 0
    reset,      // the peer reset: every receive and send from here on returns -1
};

struct Wait {
    long seconds;
    long microseconds;
};

// Everything the platform was asked, for the test to read.
struct Record {
    Bytes sent;                           // every byte sent, in order
    std::vector<std::size_t> send_ends;   // offset in `sent` after each successful send
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
    int dry_waits = 0;       // waits and receives that found the script empty
};

class MemoryPlatform final : public platform::Platform {
  public:
    MemoryPlatform() = default;
    MemoryPlatform(const MemoryPlatform&) = delete;
    MemoryPlatform& operator=(const MemoryPlatform&) = delete;

    // Forgets every event, failure, hook and record: a fresh machine with no sockets.
    void reset();

    // Adds incoming bytes as one event: a receive takes at most this many of them (fewer when its
    // buffer is smaller; the rest stays for the next receive).
    void add_bytes(const std::uint8_t* data, std::size_t length);
    void add_bytes(const Bytes& bytes);
    // Adds the bytes as a link that delivers them a little at a time: one bytes event for every
    // `piece` of them (the last one shorter), each after a time-out when `time_out_first` is set.
    // The same as calling add_bytes piece by piece, but the bytes are copied once.
    void add_bytes_in_pieces(const std::uint8_t* data, std::size_t length, std::size_t piece,
                             bool time_out_first = false);
    void add_event(Event event, int times = 1);

    // Whether scripted events remain (bytes not yet received included).
    bool script_pending() const;

    // The `nth` call of that kind from now on fails (1 = the next one); with `and_later` every call
    // after it fails too. A later request for the same call replaces an earlier one.
    void fail(Call call, int nth = 1, bool and_later = false);

    // Makes connect_ipv4_within answer -2 (timed out) instead of connecting.
    void time_out_connects(bool on);

    // Called when a wait or a receive finds nothing more to come (the script is empty, or the peer
    // has closed or reset), so that a test can add events or throw to stop a loop that goes on.
    // With the script still empty after it, waits fail and receives return -1: the real peer would
    // leave the call blocked for ever.
    void on_empty(std::function<void()> hook);

    // What has happened since the last reset().
    const Record& record() const;
    // The bytes sent since `from` (an offset into record().sent), cut into the sends that made
    // them.
    std::vector<Bytes> sends_since(std::size_t from = 0) const;
    // Milliseconds that waits and sleeps have taken on the platform's clock since the last reset.
    unsigned long long elapsed_ms() const;

    int socket_layer_start() override;
    void socket_layer_stop() override;
    platform::SocketHandle open_tcp_socket() override;
    platform::SocketHandle open_udp_socket() override;
    void close_socket(platform::SocketHandle s) override;
    // Every name is this machine; a dotted address stands for itself.
    bool lookup_ipv4(const char* host, std::uint32_t* address_be) override;
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
    // Sleeps take no time: they are noted and move the platform's clock on.
    void sleep_ms(unsigned long milliseconds) override;
    unsigned long long monotonic_ms() override;

  private:
    struct Item {
        Event event;
        std::size_t begin;  // bytes: the part of `incoming_` not yet received
        std::size_t end;
    };
    struct Failure {
        int countdown = 0;  // 0: no failure asked for
        bool and_later = false;
        bool failing = false;  // every call fails from now on
    };

    bool fails(Call call);
    bool is_open(platform::SocketHandle s) const;
    platform::SocketHandle open_socket(Call call);
    const Item* front();
    long receive(platform::SocketHandle s, void* buffer, std::size_t length, bool waiting);

    Bytes incoming_;
    std::vector<Item> script_;
    std::size_t next_ = 0;
    bool peer_closed_ = false;
    bool peer_reset_ = false;
    bool connects_time_out_ = false;
    std::array<Failure, static_cast<std::size_t>(Call::count_)> failures_{};
    std::function<void()> hook_;
    std::vector<platform::SocketHandle> open_sockets_;
    platform::SocketHandle next_handle_ = 3;
    unsigned long long clock_ms_ = 0;
    Record record_;
};

}  // namespace memory_platform
