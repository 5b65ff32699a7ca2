// The host end of a real HostConnection on 127.0.0.1, for the fuzz targets (POSIX).
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "insim/host_connection.h"
#include "insim/platform.h"

namespace fuzzhost {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] inline void fail(const char* target, const char* what, std::size_t where) {
    (void)std::fprintf(stderr, "%s: %s (at %zu)\n", target, what, where);
    std::abort();
}

// Sent by the harness after the code under test: everything before it came from that code.
inline constexpr std::uint8_t kMarker[4] = {4, 3, 0, 0xEE};

inline void write_all(platform::SocketHandle s, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const long sent = platform::send_bytes(s, p, n);
        if (sent <= 0) fail("host", "cannot write", n);
        p += sent;
        n -= static_cast<std::size_t>(sent);
    }
}

inline void read_exactly(platform::SocketHandle s, std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const long got = platform::receive_bytes(s, p, n);
        if (got <= 0) fail("host", "cannot read", n);
        p += got;
        n -= static_cast<std::size_t>(got);
    }
}

// The descriptor of the connection's end: the socket whose address is the host end's peer.
inline int client_descriptor(int guess, platform::SocketHandle host) {
    sockaddr_in peer{};
    socklen_t peer_len = sizeof peer;
    if (::getpeername(host, reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0) return -1;
    auto matches = [&peer](int fd) {
        sockaddr_in own{};
        socklen_t own_len = sizeof own;
        return ::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &own_len) == 0 &&
               own.sin_family == AF_INET && own.sin_port == peer.sin_port &&
               own.sin_addr.s_addr == peer.sin_addr.s_addr;
    };
    if (guess >= 0 && matches(guess)) return guess;
    for (int fd = 3; fd < 1024; ++fd)
        if (matches(fd)) return fd;
    return -1;
}

// The lowest free descriptor, which the next socket() takes in a single-threaded process.
inline int next_descriptor() {
    const int fd = ::dup(2);
    if (fd >= 0) ::close(fd);
    // cppcheck-suppress deallocret ; the number is the answer, the descriptor is not used
    return fd;
}

struct Ends {
    platform::SocketHandle host = platform::kNoSocket;
    int client = -1;  // the connection's own socket, found from the outside
};

// Connects `connection` to a fresh host end; the handshake sends IS_ISI and waits for nothing.
inline Ends connect(HostConnection& connection, platform::SocketHandle listener,
                    std::uint16_t port) {
    const int guess = next_descriptor();
    if (connection.connect_host("127.0.0.1", port, "fuzz", "", nullptr, '!', 0, 0, 0) != 0)
        fail("host", "cannot connect", port);
    Ends ends;
    ends.host = platform::accept_client(listener);
    if (ends.host == platform::kNoSocket) fail("host", "cannot accept", port);
    ends.client = client_descriptor(guess, ends.host);
    if (ends.client < 0) fail("host", "cannot find the connection's socket", port);
    // Nagle's algorithm would hold back small records behind an unacknowledged one until the
    // delayed acknowledgement: a cost in time only, so both ends go without it.
    platform::set_no_delay(ends.host);
    platform::set_no_delay(ends.client);
    std::uint8_t isi[44];
    read_exactly(ends.host, isi, sizeof isi);
    return ends;
}

// The host resets, then the connection's socket is closed from outside (the program never
// closes it): neither end is left in TIME_WAIT, however many connections a run makes.
inline void tear_down(const Ends& ends) {
    platform::set_reset_on_close(ends.host);
    platform::close_socket(ends.host);
    ::close(ends.client);
}

// Sends the marker through the connection and returns everything the host got before it, cut
// at record boundaries so that no record's bytes can pass for the marker.
inline Bytes sent_before_marker(HostConnection& connection, platform::SocketHandle host) {
    std::uint8_t marker[4];
    std::memcpy(marker, kMarker, sizeof marker);
    if (connection.send_packet(marker) != 0) fail("host", "cannot send the marker", 0);
    Bytes got;
    std::size_t at = 0;
    std::uint8_t buffer[4096];
    for (;;) {
        while (at < got.size() && got[at] != 0 && at + got[at] <= got.size()) {
            if (got[at] == 4 && std::memcmp(got.data() + at, kMarker, 4) == 0) {
                if (at + 4 != got.size()) fail("host", "bytes after the marker", at);
                got.resize(at);
                return got;
            }
            at += got[at];
        }
        if (at < got.size() && got[at] == 0) fail("host", "record of Size 0 sent", at);
        const long n = platform::receive_bytes(host, buffer, sizeof buffer);
        if (n <= 0) fail("host", "connection ended before the marker", got.size());
        got.insert(got.end(), buffer, buffer + n);
    }
}

}  // namespace fuzzhost
