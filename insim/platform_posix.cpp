#include "insim/platform.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace platform {

namespace {

sockaddr_in ipv4(std::uint32_t address_be, std::uint16_t port) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address_be;
    sa.sin_port = htons(port);
    return sa;
}

// The operating system's calls, made directly.
class PosixPlatform final : public Platform {
  public:
    int socket_layer_start() override { return 0; }
    void socket_layer_stop() override {}

    SocketHandle open_tcp_socket() override { return ::socket(AF_INET, SOCK_STREAM, 0); }
    SocketHandle open_udp_socket() override { return ::socket(AF_INET, SOCK_DGRAM, 0); }

    void close_socket(SocketHandle s) override {
        if (s >= 0) ::close(s);
    }

    bool lookup_ipv4(const char* host, std::uint32_t* address_be) override {
        // gethostbyname is what the host tools on both platforms understand; it also takes dotted
        // addresses, and inet_addr remains the fall-back when the resolver fails outright.
        if (const hostent* he = ::gethostbyname(host);
            he != nullptr && he->h_addrtype == AF_INET && he->h_addr_list[0] != nullptr) {
            std::memcpy(address_be, he->h_addr_list[0], 4);
            return true;
        }
        const in_addr_t a = ::inet_addr(host);
        if (a == INADDR_NONE) return false;
        *address_be = a;
        return true;
    }

    LookupResult lookup_ipv4_within(const char* host, std::uint32_t* address_be,
                                    long milliseconds) override {
        return lookup_on_own_thread(*this, host, address_be, milliseconds);
    }

    int connect_ipv4(SocketHandle s, std::uint32_t address_be, std::uint16_t port) override {
        const sockaddr_in sa = ipv4(address_be, port);
        int r;
        do {
            r = ::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
        } while (r < 0 && errno == EINTR);
        return r < 0 ? -1 : 0;
    }

    int connect_ipv4_within(SocketHandle s, std::uint32_t address_be, std::uint16_t port,
                            long milliseconds) override {
        const int flags = ::fcntl(s, F_GETFL);
        if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0) return -1;
        const sockaddr_in sa = ipv4(address_be, port);
        int error = 0;
        if (::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) < 0) error = errno;
        bool timed_out = false;
        if (error == EINPROGRESS || error == EINTR) {
            pollfd p{s, POLLOUT, 0};
            int ready;
            do {
                ready = ::poll(&p, 1, static_cast<int>(milliseconds));
            } while (ready < 0 && errno == EINTR);
            socklen_t length = sizeof error;
            if (ready == 0) {
                timed_out = true;
            } else if (ready < 0 || ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) < 0) {
                error = errno;
            }
        }
        ::fcntl(s, F_SETFL, flags);
        if (timed_out) return -2;
        if (error == 0) return 0;
        return error == ECONNREFUSED ? -3 : -1;
    }

    int bind_any_ipv4(SocketHandle s, std::uint16_t port) override {
        const sockaddr_in sa = ipv4(htonl(INADDR_ANY), port);
        return ::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) < 0 ? -1 : 0;
    }

    WaitResult wait_readable(SocketHandle s, long seconds, long microseconds) override {
        if (s < 0 || s >= FD_SETSIZE) return WaitResult::kFailed;
        fd_set read_set;
        fd_set error_set;
        FD_ZERO(&read_set);
        FD_ZERO(&error_set);
        FD_SET(s, &read_set);
        FD_SET(s, &error_set);
        timeval limit{seconds, microseconds};
        const int r = ::select(s + 1, &read_set, nullptr, &error_set, &limit);
        if (r == 0) return WaitResult::kTimeout;
        if (r < 0) return errno == EINTR ? WaitResult::kTimeout : WaitResult::kFailed;
        if (FD_ISSET(s, &read_set)) return WaitResult::kReadable;
        if (FD_ISSET(s, &error_set)) return WaitResult::kException;
        return WaitResult::kTimeout;
    }

    int wait_writable(SocketHandle s, long milliseconds) override {
        pollfd p{s, POLLOUT, 0};
        const int r = ::poll(&p, 1, static_cast<int>(milliseconds));
        if (r < 0 && errno == EINTR) return 0;
        if (r <= 0) return r;
        return (p.revents & POLLOUT) != 0 ? 1 : -1;
    }

    long receive_bytes(SocketHandle s, void* buffer, std::size_t length) override {
        ssize_t r;
        do {
            r = ::recv(s, buffer, length, 0);
        } while (r < 0 && errno == EINTR);
        return static_cast<long>(r);
    }

    long receive_waiting(SocketHandle s, void* buffer, std::size_t length) override {
        ssize_t r;
        do {
            r = ::recv(s, buffer, length, MSG_DONTWAIT);
        } while (r < 0 && errno == EINTR);
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return kWouldBlock;
        return static_cast<long>(r);
    }

    long send_bytes(SocketHandle s, const void* data, std::size_t length) override {
        ssize_t r;
        do {
            r = ::send(s, data, length, MSG_NOSIGNAL);
        } while (r < 0 && errno == EINTR);
        return static_cast<long>(r);
    }

    void set_no_delay(SocketHandle s) override {
        const int on = 1;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }

    void set_keep_alive(SocketHandle s) override {
        // 30 s of silence, then a probe every 5 s; the sixth unanswered one ends the connection.
        const int on = 1;
        const int idle = 30;
        const int interval = 5;
        const int probes = (kDeadPeerSeconds - idle) / interval;
        ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        ::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
        ::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
        ::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
#ifdef TCP_USER_TIMEOUT
        const unsigned int user_timeout_ms = kDeadPeerSeconds * 1000u;
        ::setsockopt(s, IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout_ms, sizeof user_timeout_ms);
#endif
    }

    void sleep_ms(unsigned long milliseconds) override {
        timespec left{static_cast<time_t>(milliseconds / 1000),
                      static_cast<long>(milliseconds % 1000) * 1000000L};
        while (::nanosleep(&left, &left) < 0 && errno == EINTR) {
        }
    }

    unsigned long long monotonic_ms() override {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<unsigned long long>(now.tv_sec) * 1000ULL +
               static_cast<unsigned long long>(now.tv_nsec / 1000000L);
    }
};

}  // namespace

Platform& os() noexcept {
    static PosixPlatform the_os;
    return the_os;
}

}  // namespace platform
