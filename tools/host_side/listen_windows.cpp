#include "tools/host_side/listen.h"

#include <winsock2.h>

#include <cstring>

namespace hostside {

using platform::kNoSocket;
using platform::SocketHandle;

namespace {

SOCKET native(SocketHandle s) {
    return static_cast<SOCKET>(s);
}

SocketHandle handle(SOCKET s) {
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

}  // namespace

SocketHandle listen_loopback(std::uint16_t port, std::uint16_t* bound_port) {
    // The host side has no start/stop of its own; this reference is kept for the process's life,
    // so a client's WSACleanup cannot pull the layer from under a listener in the same process.
    static const bool started = platform::os().socket_layer_start() == 0;
    if (!started) return kNoSocket;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSocket;
    // No SO_REUSEADDR: on Windows it lets a second socket take over a port that is in use.
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    int len = sizeof sa;
    if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR ||
        ::listen(s, kListenBacklog) == SOCKET_ERROR ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) == SOCKET_ERROR) {
        ::closesocket(s);
        return kNoSocket;
    }
    if (bound_port != nullptr) *bound_port = ntohs(sa.sin_port);
    return handle(s);
}

SocketHandle accept_client(SocketHandle listener) {
    return handle(::accept(native(listener), nullptr, nullptr));
}

void set_reset_on_close(SocketHandle s) {
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    ::setsockopt(native(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
}

long send_waiting(SocketHandle s, const void* data, std::size_t length) {
    // Non-blocking for this one send: the same socket's other calls stay as they were.
    u_long on = 1;
    if (::ioctlsocket(native(s), FIONBIO, &on) == SOCKET_ERROR) return -1;
    const int most = length > 1 << 30 ? 1 << 30 : static_cast<int>(length);
    const int r = ::send(native(s), static_cast<const char*>(data), most, 0);
    const int error = ::WSAGetLastError();
    u_long off = 0;
    ::ioctlsocket(native(s), FIONBIO, &off);
    if (r == SOCKET_ERROR) return error == WSAEWOULDBLOCK ? platform::kWouldBlock : -1;
    return r;
}

void tune_client(SocketHandle s, int send_buffer) {
    ::setsockopt(native(s), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&send_buffer),
                 sizeof send_buffer);
    const BOOL on = TRUE;
    ::setsockopt(native(s), SOL_SOCKET, SO_OOBINLINE, reinterpret_cast<const char*>(&on),
                 sizeof on);
}

void wait_any(const std::vector<Watched>& sockets, long milliseconds) {
    // select() takes up to FD_SETSIZE (64) sockets on Windows, whatever their numbers.
    fd_set read_set;
    fd_set write_set;
    fd_set error_set;
    FD_ZERO(&read_set);
    FD_ZERO(&write_set);
    FD_ZERO(&error_set);
    for (const Watched& w : sockets) {
        FD_SET(native(w.socket), &read_set);
        FD_SET(native(w.socket), &error_set);
        if (w.write) FD_SET(native(w.socket), &write_set);
    }
    if (sockets.empty()) {
        ::Sleep(static_cast<DWORD>(milliseconds));
        return;
    }
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    ::select(0, &read_set, &write_set, &error_set, &limit);
}

}  // namespace hostside
