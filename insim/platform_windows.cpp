#include "insim/platform.h"

#include <winsock2.h>

// After winsock2.h: on its own, windows.h would pull in the old winsock.h.
#include <windows.h>

// SIO_KEEPALIVE_VALS and its record; needs winsock2.h first.
#include <mstcpip.h>

#include <climits>
#include <cstring>

namespace platform {

namespace {

SOCKET native(SocketHandle s) {
    return static_cast<SOCKET>(s);
}

SocketHandle handle(SOCKET s) {
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

int clamp_length(std::size_t length) {
    return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

sockaddr_in ipv4(std::uint32_t address_be, std::uint16_t port) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address_be;
    sa.sin_port = htons(port);
    return sa;
}

// One select on one socket: in the read or the write set, and in the exception set.
// Winsock ignores select's first argument: sets hold handles, not descriptor numbers.
struct Selected {
    int result;  // select's: 0 timed out, SOCKET_ERROR failed
    bool ready;  // readable or writable, as asked
    bool exception;
};

Selected select_one(SOCKET s, bool for_writing, timeval limit) {
    fd_set ready_set;
    fd_set error_set;
    FD_ZERO(&ready_set);
    FD_ZERO(&error_set);
    FD_SET(s, &ready_set);
    FD_SET(s, &error_set);
    const int r = for_writing ? ::select(0, nullptr, &ready_set, &error_set, &limit)
                              : ::select(0, &ready_set, nullptr, &error_set, &limit);
    const bool counted = r != 0 && r != SOCKET_ERROR;
    return {r, counted && FD_ISSET(s, &ready_set) != 0, counted && FD_ISSET(s, &error_set) != 0};
}

// The operating system's calls, made directly.
class WindowsPlatform final : public Platform {
  public:
    int socket_layer_start() override {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0 ? 0 : -1;
    }

    void socket_layer_stop() override { ::WSACleanup(); }

    SocketHandle open_tcp_socket() override {
        return handle(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    }

    SocketHandle open_udp_socket() override {
        return handle(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    }

    void close_socket(SocketHandle s) override {
        if (s != kNoSocket) ::closesocket(native(s));
    }

    bool lookup_ipv4(const char* host, std::uint32_t* address_be) override {
        // Winsock resolves no name before it is started, and travo-check looks names up without a
        // connection. Starts are counted, so one of our own changes nothing for travo.
        WSADATA data;
        const bool started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
        bool found = false;
        if (const hostent* he = ::gethostbyname(host);
            he != nullptr && he->h_addrtype == AF_INET && he->h_addr_list[0] != nullptr) {
            std::memcpy(address_be, he->h_addr_list[0], 4);
            found = true;
        }
        if (started) ::WSACleanup();
        if (found) return true;
        const unsigned long a = ::inet_addr(host);
        if (a == INADDR_NONE) return false;
        *address_be = static_cast<std::uint32_t>(a);
        return true;
    }

    LookupResult lookup_ipv4_within(const char* host, std::uint32_t* address_be,
                                    long milliseconds) override {
        return lookup_on_own_thread(*this, host, address_be, milliseconds);
    }

    int connect_ipv4(SocketHandle s, std::uint32_t address_be, std::uint16_t port) override {
        const sockaddr_in sa = ipv4(address_be, port);
        const int r = ::connect(native(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
        return r == SOCKET_ERROR ? -1 : 0;
    }

    int connect_ipv4_within(SocketHandle s, std::uint32_t address_be, std::uint16_t port,
                            long milliseconds) override {
        u_long non_blocking = 1;
        if (::ioctlsocket(native(s), FIONBIO, &non_blocking) == SOCKET_ERROR) return -1;
        const sockaddr_in sa = ipv4(address_be, port);
        int error = 0;
        if (::connect(native(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR)
            error = ::WSAGetLastError();
        bool timed_out = false;
        if (error == WSAEWOULDBLOCK) {
            // Winsock reports a failed connect in the exception set, a finished one as writable.
            const Selected r =
                select_one(native(s), true, {milliseconds / 1000, (milliseconds % 1000) * 1000});
            if (r.result == 0) {
                timed_out = true;
            } else if (r.result == SOCKET_ERROR) {
                error = ::WSAGetLastError();
            } else if (r.ready) {
                error = 0;
            } else {
                int length = sizeof error;
                if (::getsockopt(native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                                 &length) == SOCKET_ERROR ||
                    error == 0)
                    error = WSAECONNABORTED;
            }
        }
        u_long blocking = 0;
        ::ioctlsocket(native(s), FIONBIO, &blocking);
        if (timed_out) return -2;
        if (error == 0) return 0;
        return error == WSAECONNREFUSED ? -3 : -1;
    }

    int bind_any_ipv4(SocketHandle s, std::uint16_t port) override {
        const sockaddr_in sa = ipv4(htonl(INADDR_ANY), port);
        const int r = ::bind(native(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
        return r == SOCKET_ERROR ? -1 : 0;
    }

    WaitResult wait_readable(SocketHandle s, long seconds, long microseconds) override {
        if (s == kNoSocket) return WaitResult::kFailed;
        const Selected r = select_one(native(s), false, {seconds, microseconds});
        if (r.result == 0) return WaitResult::kTimeout;
        if (r.result == SOCKET_ERROR) return WaitResult::kFailed;
        if (r.ready) return WaitResult::kReadable;
        if (r.exception) return WaitResult::kException;
        return WaitResult::kTimeout;
    }

    int wait_writable(SocketHandle s, long milliseconds) override {
        if (s == kNoSocket) return -1;
        const Selected r =
            select_one(native(s), true, {milliseconds / 1000, (milliseconds % 1000) * 1000});
        if (r.result == 0) return 0;
        return r.result != SOCKET_ERROR && r.ready ? 1 : -1;
    }

    long receive_bytes(SocketHandle s, void* buffer, std::size_t length) override {
        const int r = ::recv(native(s), static_cast<char*>(buffer), clamp_length(length), 0);
        return r == SOCKET_ERROR ? -1 : r;
    }

    long receive_waiting(SocketHandle s, void* buffer, std::size_t length) override {
        // Only bytes already queued are taken; a closed or failed connection is left to the wait,
        // which reports it as readable or exceptional.
        u_long queued = 0;
        if (::ioctlsocket(native(s), FIONREAD, &queued) == SOCKET_ERROR || queued == 0)
            return kWouldBlock;
        return receive_bytes(s, buffer, length);
    }

    long send_bytes(SocketHandle s, const void* data, std::size_t length) override {
        // Windows raises no signal on a broken connection, so no flag is needed.
        const int r = ::send(native(s), static_cast<const char*>(data), clamp_length(length), 0);
        return r == SOCKET_ERROR ? -1 : r;
    }

    void set_no_delay(SocketHandle s) override {
        const BOOL on = TRUE;
        ::setsockopt(native(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                     sizeof on);
    }

    void set_keep_alive(SocketHandle s) override {
        // Windows before 10 1703 (and Wine) take no probe count: it is fixed at 10 there. 30 s of
        // silence and a probe every 3 s keep 10 probes within the minute.
        constexpr DWORD kIdleMs = 30000;
        constexpr DWORD kIntervalMs = 3000;
        constexpr DWORD kProbes = (kDeadPeerSeconds * 1000 - kIdleMs) / kIntervalMs;
        tcp_keepalive values{};
        values.onoff = 1;
        values.keepalivetime = kIdleMs;
        values.keepaliveinterval = kIntervalMs;
        DWORD returned = 0;
        ::WSAIoctl(native(s), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
                   nullptr, nullptr);
        // Option numbers of the Windows SDK's ws2ipdef.h, which older MinGW headers lack. Systems
        // that do not know them refuse them, which is harmless.
        constexpr int kTcpMaxRetransmissionTime = 5;  // TCP_MAXRT, in seconds
        constexpr int kTcpKeepCount = 16;             // TCP_KEEPCNT
        const DWORD probes = kProbes;
        ::setsockopt(native(s), IPPROTO_TCP, kTcpKeepCount, reinterpret_cast<const char*>(&probes),
                     sizeof probes);
        const DWORD max_retransmission_seconds = kDeadPeerSeconds;
        ::setsockopt(native(s), IPPROTO_TCP, kTcpMaxRetransmissionTime,
                     reinterpret_cast<const char*>(&max_retransmission_seconds),
                     sizeof max_retransmission_seconds);
    }

    void sleep_ms(unsigned long milliseconds) override {
        ::Sleep(static_cast<DWORD>(milliseconds));
    }

    unsigned long long monotonic_ms() override { return ::GetTickCount64(); }
};

}  // namespace

Platform& os() noexcept {
    static WindowsPlatform the_os;
    return the_os;
}

}  // namespace platform
