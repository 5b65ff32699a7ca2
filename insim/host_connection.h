// The client end of one InSim connection: handshake, framing of received packets, automatic
// keep-alive answers, and sending of packet records under a lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "insim/framing.h"
#include "insim/platform.h"
#include "insim/records.h"

namespace insim {

class HostConnection {
  public:
    // The operating system's sockets unless another platform, such as the scripted one, is given;
    // it must outlive the connection.
    explicit HostConnection(platform::Platform& platform = platform::os()) noexcept;
    ~HostConnection();
    HostConnection(const HostConnection&) = delete;
    HostConnection& operator=(const HostConnection&) = delete;

    // The failure status of every call below, and the one of a receive that the host ended.
    static constexpr int kFailed = -1;
    static constexpr int kClosed = -2;

    // 0 connected, kFailed not. With a version record the handshake waits for the host's IS_VER,
    // at most kHandshakeLimitMs: a port that accepts and never answers must not hold us for ever.
    static constexpr unsigned long long kHandshakeLimitMs = 30000;
    int connect_host(const char* host, std::uint16_t tcp_port, const char* app_name,
                     const char* admin_password, insim::IS_VER* version, std::uint8_t prefix,
                     std::uint16_t flags, std::uint16_t interval_ms, std::uint16_t udp_port);

    int close_connection();

    // 0 a new packet is current, kFailed socket or protocol error, kClosed the host closed the
    // connection.
    int receive_packet();

    // receive_packet under a deadline on the platform's clock, for callers that must tell apart why
    // no packet came; keep-alive answers wait to be sent no later than the deadline either.
    static constexpr int kTimeUp = -3;      // no whole packet by the deadline
    static constexpr int kNotRecords = -4;  // a record of size zero: not a stream of records
    static constexpr int kLate = -5;  // the peer stopped reading, or kept sending past the deadline
    static constexpr unsigned long long kNoDeadline = ~0ULL;
    int receive_packet_until(unsigned long long deadline_ms);
    // Keep-alives answered so far on this connection.
    unsigned long keep_alives_answered() const { return keep_alives_answered_; }
    // Bytes received that make no whole packet yet: the start of a record, or something else.
    const std::uint8_t* unframed_data() const { return framer.front(); }
    std::size_t unframed_size() const { return framer.buffered(); }

    // Type byte of the current packet; 0 before the first one.
    std::int8_t packet_type() const {
        return current_size >= 2 ? static_cast<std::int8_t>(current_packet[1]) : std::int8_t{0};
    }
    // The current packet, or null before the first one. Valid until the next receive.
    const std::uint8_t* packet_data() const {
        return packet_type() != 0 ? current_packet.data() : nullptr;
    }
    // Size of the current packet; readers never look past it.
    std::size_t packet_size() const { return current_size; }

    // Sends a record: 0 sent, kFailed not. Writes the Size of an IS_MTC or IS_BTN into the record
    // first, from its text; a record that cannot go out so is not sent.
    int send_packet(void* packet);
    // send_packet that first waits, until the deadline at most, for the peer to take bytes:
    // kLate when it never did.
    int send_packet_until(void* packet, unsigned long long deadline_ms) {
        if (deadline_ms != kNoDeadline) {
            if (const int waited = wait_to_send(deadline_ms); waited != 0) return waited;
        }
        return send_packet(packet);
    }

    // Takes over a TCP socket connected through the same platform, in place of connect_host.
    void adopt_socket(platform::SocketHandle s) { tcp_socket = s; }
    // Closes the sockets without a goodbye to the host and without stopping the socket layer.
    void release_sockets();

    platform::Platform& platform() const { return platform_; }

    int receive_udp_packet();
    std::int8_t udp_packet_type() const;
    const std::uint8_t* udp_packet_data() const;

  private:
    void close_sockets();
    int receive_framed(unsigned long long deadline_ms);
    // Waits for room to send until the deadline: 0 there is, kLate there was none, -1 failed.
    int wait_to_send(unsigned long long deadline_ms);

    platform::Platform& platform_;
    platform::SocketHandle tcp_socket = platform::kNoSocket;
    platform::SocketHandle udp_socket = platform::kNoSocket;
    std::uint8_t udp_open = 0;
    insim::StreamFramer framer;
    std::array<std::uint8_t, 512> current_packet{};
    std::size_t current_size = 0;
    unsigned long keep_alives_answered_ = 0;
    long wait_seconds = 5;
    std::array<std::uint8_t, 512> udp_buffer{};
    std::uint32_t udp_buffer_len = 0;
    std::array<std::uint8_t, 512> current_udp_packet{};
    platform::Mutex send_lock;
};

}  // namespace insim
