#include "tools/host_side/listen.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hostside {

using platform::kNoSocket;
using platform::SocketHandle;

SocketHandle listen_loopback(std::uint16_t port, std::uint16_t* bound_port) {
    const SocketHandle s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return kNoSocket;
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    socklen_t len = sizeof sa;
    if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) < 0 ||
        ::listen(s, kListenBacklog) < 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) < 0) {
        ::close(s);
        return kNoSocket;
    }
    if (bound_port != nullptr) *bound_port = ntohs(sa.sin_port);
    return s;
}

SocketHandle accept_client(SocketHandle listener) {
    int r;
    do {
        r = ::accept(listener, nullptr, nullptr);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? kNoSocket : r;
}

void set_reset_on_close(SocketHandle s) {
    linger l{1, 0};
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

long send_waiting(SocketHandle s, const void* data, std::size_t length) {
    ssize_t r;
    do {
        r = ::send(s, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (r < 0 && errno == EINTR);
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return platform::kWouldBlock;
    return static_cast<long>(r);
}

void tune_client(SocketHandle s, int send_buffer) {
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof send_buffer);
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on);
}

void wait_any(const std::vector<Watched>& sockets, long milliseconds) {
    std::vector<pollfd> polled;
    polled.reserve(sockets.size());
    for (const Watched& w : sockets)
        polled.push_back({w.socket, static_cast<short>(POLLIN | (w.write ? POLLOUT : 0)), 0});
    ::poll(polled.data(), polled.size(), static_cast<int>(milliseconds));
}

}  // namespace hostside
