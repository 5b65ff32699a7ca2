// A platform whose peer is a script, for running travo's own code with no network (tests,
// fuzzers, travo-check --picture): receives are served from the script, every send is kept, and
// the clock moves only when a wait times out or a sleep is asked for. Pass an object to
// HostConnection in place of the operating system's platform. Each object is a machine of its
// own; one object is not for use from several threads. Failing calls on request and counting
// them is tests/support/fault_platform.h, a wrapper around this one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "insim/builders.h"
#include "insim/platform.h"

namespace hostside {

using insim::Bytes;

class ScriptedPlatform final : public platform::Platform {
  public:
    // The next wait_readable, or a receive, meets the events in this order.
    enum class Event {
        bytes,    // readable; receives take from these bytes, at most one event per receive
        timeout,  // one wait that ends in a time-out; receive_waiting meanwhile has nothing
        close,    // the peer closed: every receive from here on returns 0
        reset,    // the peer reset: every receive and send from here on returns -1
    };

    ScriptedPlatform() = default;
    ScriptedPlatform(const ScriptedPlatform&) = delete;
    ScriptedPlatform& operator=(const ScriptedPlatform&) = delete;

    // Forgets the script, the sends and the clock: a fresh machine with no sockets.
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
    bool script_pending() const { return next_ < script_.size(); }
    // Whether the peer has closed or reset: nothing more will come.
    bool peer_gone() const { return peer_closed_ || peer_reset_; }
    bool is_open(platform::SocketHandle s) const;

    // Every byte sent since the last reset(), in order.
    const Bytes& sent() const { return sent_; }
    // The bytes sent since `from` (an offset into sent()), cut into the sends that made them.
    std::vector<Bytes> sends_since(std::size_t from = 0) const;
    // Milliseconds that waits and sleeps have taken on the platform's clock since the last reset.
    unsigned long long elapsed_ms() const { return clock_ms_; }

    int socket_layer_start() override { return 0; }
    void socket_layer_stop() override {}
    platform::SocketHandle open_tcp_socket() override { return open_socket(); }
    platform::SocketHandle open_udp_socket() override { return open_socket(); }
    void close_socket(platform::SocketHandle s) override;
    // Every name is this machine; a dotted address stands for itself.
    bool lookup_ipv4(const char* host, std::uint32_t* address_be) override;
    int connect_ipv4(platform::SocketHandle s, std::uint32_t address_be,
                     std::uint16_t port) override;
    int connect_ipv4_within(platform::SocketHandle s, std::uint32_t address_be, std::uint16_t port,
                            long milliseconds) override;
    int bind_any_ipv4(platform::SocketHandle s, std::uint16_t port) override;
    // A wait or receive that finds the script run out fails: the real peer would leave the call
    // blocked for ever. receive_waiting finds nothing there.
    platform::WaitResult wait_readable(platform::SocketHandle s, long seconds,
                                       long microseconds) override;
    int wait_writable(platform::SocketHandle s, long milliseconds) override;
    long receive_bytes(platform::SocketHandle s, void* buffer, std::size_t length) override;
    long receive_waiting(platform::SocketHandle s, void* buffer, std::size_t length) override;
    long send_bytes(platform::SocketHandle s, const void* data, std::size_t length) override;
    void set_no_delay(platform::SocketHandle /*s*/) override {}
    void set_keep_alive(platform::SocketHandle /*s*/) override {}
    // Sleeps take no time: they move the platform's clock on.
    void sleep_ms(unsigned long milliseconds) override { clock_ms_ += milliseconds; }
    unsigned long long monotonic_ms() override { return clock_ms_; }

  private:
    struct Item {
        Event event;
        std::size_t begin;  // bytes: the part of `incoming_` not yet received
        std::size_t end;
    };

    platform::SocketHandle open_socket();
    long receive(platform::SocketHandle s, void* buffer, std::size_t length, bool waiting);

    Bytes incoming_;
    std::vector<Item> script_;
    std::size_t next_ = 0;
    bool peer_closed_ = false;
    bool peer_reset_ = false;
    std::vector<platform::SocketHandle> open_sockets_;
    platform::SocketHandle next_handle_ = 3;
    unsigned long long clock_ms_ = 0;
    Bytes sent_;
    std::vector<std::size_t> send_ends_;  // offset in `sent_` after each send
};

}  // namespace hostside
