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
        ::listen(s, 4) == SOCKET_ERROR ||
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

}  // namespace hostside
