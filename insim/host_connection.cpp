#include "insim/host_connection.h"

#include "insim/builders.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <mutex>

using insim::StreamFramer;
using platform::WaitResult;

namespace {

void critical(std::ostream& out, const char* what) {
    out << "(HostConnection)Critical: " << what << std::endl;
}

}  // namespace

namespace insim {

HostConnection::HostConnection(platform::Platform& platform) noexcept : platform_(platform) {}

// Sockets are left to the end of the process, as the program never closes them explicitly.
HostConnection::~HostConnection() = default;

void HostConnection::close_sockets() {
    if (udp_open) platform_.close_socket(udp_socket);
    platform_.close_socket(tcp_socket);
    platform_.socket_layer_stop();
}

void HostConnection::release_sockets() {
    if (udp_open) platform_.close_socket(udp_socket);
    if (tcp_socket != platform::kNoSocket) platform_.close_socket(tcp_socket);
    udp_open = 0;
    tcp_socket = udp_socket = platform::kNoSocket;
}

int HostConnection::connect_host(const char* host, std::uint16_t tcp_port, const char* app_name,
                                 const char* admin_password, insim::IS_VER* version,
                                 std::uint8_t prefix, std::uint16_t flags,
                                 std::uint16_t interval_ms, std::uint16_t udp_port) {
    if (platform_.socket_layer_start() != 0) {
        critical(std::cout, "Cannot create socket");
        platform_.socket_layer_stop();
        return kFailed;
    }

    tcp_socket = platform_.open_tcp_socket();
    if (tcp_socket == platform::kNoSocket) {
        platform_.socket_layer_stop();
        critical(std::cerr, "Cannot get socket handle");
        return kFailed;
    }

    std::uint32_t address = 0;
    if (!platform_.lookup_ipv4(host, &address) ||
        platform_.connect_ipv4(tcp_socket, address, tcp_port) != 0) {
        platform_.close_socket(tcp_socket);
        platform_.socket_layer_stop();
        critical(std::cerr, "Cannot connect");
        return kFailed;
    }
    // Records go out as they are sent: a burst such as the welcome panel must not wait for the
    // host's delayed acknowledgement.
    platform_.set_no_delay(tcp_socket);
    // A host that vanishes without closing must end the receive loop, not hang it for ever.
    platform_.set_keep_alive(tcp_socket);

    if (udp_port != 0) {
        std::cout << "Trying to use UDP" << std::endl;
        udp_socket = platform_.open_udp_socket();
        if (udp_socket == platform::kNoSocket) {
            platform_.close_socket(tcp_socket);
            platform_.socket_layer_stop();
            return kFailed;
        }
        platform_.bind_any_ipv4(udp_socket, udp_port);
        std::uint32_t udp_address = 0;
        if (!platform_.lookup_ipv4(host, &udp_address) ||
            platform_.connect_ipv4(udp_socket, udp_address, tcp_port) != 0) {
            platform_.close_socket(udp_socket);
            platform_.close_socket(tcp_socket);
            platform_.socket_layer_stop();
            return kFailed;
        }
        udp_open = 1;
    }

    insim::IS_ISI isi_p = insim::make_isi(app_name, admin_password, version != nullptr, prefix,
                                          flags, interval_ms, udp_port);
    if (send_packet(&isi_p) < 0) {
        close_sockets();
        return kFailed;
    }

    wait_seconds = 5;
    if (version == nullptr) return 0;

    // Keep-alives before the answer are answered but do not extend the limit.
    const unsigned long long deadline = platform_.monotonic_ms() + kHandshakeLimitMs;
    if (receive_packet_until(deadline) < 0 || packet_type() != insim::ISP_VER) {
        if (close_connection() != 0) close_sockets();
        return kFailed;
    }
    // A short answer leaves the fields it does not reach empty rather than stale.
    std::memset(version, 0, sizeof *version);
    std::memcpy(version, current_packet.data(), std::min(current_size, sizeof *version));
    return 0;
}

int HostConnection::close_connection() {
    insim::IS_TINY cl_packet = insim::make_tiny(insim::TINY_CLOSE);
    if (send_packet(&cl_packet) < 0) return kFailed;
    close_sockets();
    return 0;
}

// Inlined into both callers, so that the packet loop's copy has no deadline to look at.
[[gnu::always_inline]] inline int HostConnection::receive_framed(unsigned long long deadline_ms) {
    for (;;) {
        framer.drop_front();
        // A peer that floods keep-alives keeps the framer full: the deadline holds here too.
        if (deadline_ms != kNoDeadline && framer.state() != StreamFramer::State::kNeedBytes &&
            platform_.monotonic_ms() >= deadline_ms) {
            return kLate;
        }
        for (;;) {
            const StreamFramer::State state = framer.state();
            if (state == StreamFramer::State::kPacketReady) break;
            if (state == StreamFramer::State::kZeroSize) return kNotRecords;
            // Under load the data is already there: take it without a wait first.
            long got =
                platform_.receive_waiting(tcp_socket, framer.write_position(), framer.write_room());
            if (got == platform::kWouldBlock) {
                long seconds = wait_seconds;
                long microseconds = 0;
                if (deadline_ms != kNoDeadline) {
                    const unsigned long long now = platform_.monotonic_ms();
                    if (now >= deadline_ms) return kTimeUp;
                    const unsigned long long left = deadline_ms - now;
                    if (left < static_cast<unsigned long long>(wait_seconds) * 1000) {
                        seconds = static_cast<long>(left / 1000);
                        microseconds = static_cast<long>(left % 1000) * 1000;
                    }
                }
                switch (platform_.wait_readable(tcp_socket, seconds, microseconds)) {
                    case WaitResult::kTimeout:
                        continue;
                    case WaitResult::kReadable:
                        got = platform_.receive_bytes(tcp_socket, framer.write_position(),
                                                      framer.write_room());
                        break;
                    case WaitResult::kException:
                    case WaitResult::kFailed:
                        return kFailed;
                }
            }
            if (got == 0) return kClosed;
            if (got < 0) return kFailed;
            framer.commit(static_cast<std::size_t>(got));
        }

        current_size = framer.front_size();
        std::memcpy(current_packet.data(), framer.front(), current_size);

        if (insim::is_keep_alive(current_packet.data(), current_size)) {
            insim::IS_TINY keepalive = insim::make_tiny(insim::TINY_NONE);
            if (const int sent = send_packet_until(&keepalive, deadline_ms); sent < 0) return sent;
            ++keep_alives_answered_;
            continue;
        }
        return 0;
    }
}

int HostConnection::receive_packet() {
    const int result = receive_framed(kNoDeadline);
    return result < kClosed ? kFailed : result;
}

int HostConnection::receive_packet_until(unsigned long long deadline_ms) {
    return receive_framed(deadline_ms);
}

int HostConnection::send_packet(void* packet) {
    auto* bytes = static_cast<std::uint8_t*>(packet);
    std::lock_guard<platform::Mutex> hold(send_lock);

    if (bytes[1] == insim::ISP_MTC || bytes[1] == insim::ISP_BTN) {
        const std::size_t size = insim::trimmed_size(bytes);
        if (size == 0) return kFailed;
        bytes[0] = static_cast<std::uint8_t>(size);
    }

    return platform_.send_bytes(tcp_socket, bytes, bytes[0]) < 0 ? kFailed : 0;
}

int HostConnection::wait_to_send(unsigned long long deadline_ms) {
    const unsigned long long now = platform_.monotonic_ms();
    const long left = now < deadline_ms ? static_cast<long>(deadline_ms - now) : 0L;
    const int ready = platform_.wait_writable(tcp_socket, left);
    return ready > 0 ? 0 : ready == 0 ? kLate : kFailed;
}

int HostConnection::receive_udp_packet() {
    udp_buffer.fill(0);
    udp_buffer_len = 0;
    while (udp_buffer_len < 1) {
        switch (platform_.wait_readable(udp_socket, wait_seconds, 0)) {
            case WaitResult::kTimeout:
                continue;
            case WaitResult::kReadable: {
                const long got = platform_.receive_bytes(
                    udp_socket, udp_buffer.data() + udp_buffer_len, 512 - udp_buffer_len);
                if (got < 0) return kFailed;
                udp_buffer_len += static_cast<std::uint32_t>(got);
                continue;
            }
            case WaitResult::kException:
            case WaitResult::kFailed:
                return kFailed;
        }
    }
    std::memcpy(current_udp_packet.data(), udp_buffer.data(), udp_buffer[0]);
    return 0;
}

std::int8_t HostConnection::udp_packet_type() const {
    return static_cast<std::int8_t>(current_udp_packet[1]);
}

const std::uint8_t* HostConnection::udp_packet_data() const {
    return current_udp_packet.data();
}

}  // namespace insim
