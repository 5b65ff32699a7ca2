// The client end of one InSim connection: handshake, framing of received packets, automatic
// keep-alive answers, and sending of packet records under a lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "insim/framing.h"
#include "insim/platform.h"
#include "insim/records.h"

class HostConnection {
  public:
    HostConnection() noexcept;
    ~HostConnection();
    HostConnection(const HostConnection&) = delete;
    HostConnection& operator=(const HostConnection&) = delete;

    // 0 connected, -1 failed. With a version record the handshake waits for the host's IS_VER,
    // at most kHandshakeLimitMs: a port that accepts and never answers must not hold us for ever.
    static constexpr unsigned long long kHandshakeLimitMs = 30000;
    int connect_host(const char* host, std::uint16_t tcp_port, const char* app_name,
                     const char* admin_password, insim::IS_VER* version, std::uint8_t prefix,
                     std::uint16_t flags, std::uint16_t interval_ms, std::uint16_t udp_port);

    int close_connection();

    // 0 a new packet is current, -1 socket or protocol error, -2 the host closed the connection.
    int receive_packet();

    // Type byte of the current packet; 0 before the first one.
    std::int8_t packet_type() const;
    // The current packet, or null before the first one. Valid until the next receive.
    const std::uint8_t* packet_data() const;
    // Size of the current packet; readers never look past it.
    std::size_t packet_size() const { return current_size; }

    // Sends a record; fixes up the Size of IS_MTC and IS_BTN from their text. 0 sent, -1 not.
    int send_packet(void* packet);

    int receive_udp_packet();
    std::int8_t udp_packet_type() const;
    const std::uint8_t* udp_packet_data() const;

  private:
    void close_sockets();
    // receive_packet that gives up with -1 once the platform's clock reaches `deadline_ms`.
    int receive_packet_until(unsigned long long deadline_ms);

    platform::SocketHandle tcp_socket = platform::kNoSocket;
    platform::SocketHandle udp_socket = platform::kNoSocket;
    std::uint8_t udp_open = 0;
    insim::StreamFramer framer;
    std::array<std::uint8_t, 512> current_packet{};
    std::size_t current_size = 0;
    long wait_seconds = 5;
    std::array<std::uint8_t, 512> udp_buffer{};
    std::uint32_t udp_buffer_len = 0;
    std::array<std::uint8_t, 512> current_udp_packet{};
    platform::Mutex send_lock;
};
