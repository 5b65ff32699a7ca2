// The calls only the host's side of a loopback connection makes (the virtual host, the tests'
// fake host), never travo: one implementation file per operating system. Everything else goes
// through the operating system's platform, platform::os().
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "insim/platform.h"

namespace hostside {

// Connections the system holds until they are accepted: a burst of them (several programs
// restarted at once, a port scan) is taken without the system dropping any for a second.
inline constexpr int kListenBacklog = 16;

// Listens on 127.0.0.1; port 0 picks a free one, written to `bound_port` when that is not null.
// kNoSocket when it cannot.
platform::SocketHandle listen_loopback(std::uint16_t port, std::uint16_t* bound_port);
platform::SocketHandle accept_client(platform::SocketHandle listener);
// Makes the next close send a reset instead of an orderly shutdown.
void set_reset_on_close(platform::SocketHandle s);

// A send that never blocks: the number of bytes the system took (maybe fewer than asked),
// platform::kWouldBlock when it takes none now, negative when the connection failed.
long send_waiting(platform::SocketHandle s, const void* data, std::size_t length);
// A client's connection as the virtual host keeps it: `send_buffer` bytes at most held by the
// system for a client that does not read, and urgent data read as part of the stream, so that
// it is neither lost nor taken for a failed connection.
void tune_client(platform::SocketHandle s, int send_buffer);

struct Watched {
    platform::SocketHandle socket;
    bool write;  // also wake when a send would go out
};
// Waits until one of `sockets` can be read (or written, where asked) or has failed, or until
// `milliseconds` pass; a signal ends the wait early.
void wait_any(const std::vector<Watched>& sockets, long milliseconds);

}  // namespace hostside
