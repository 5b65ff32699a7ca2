// The calls only the host's side of a loopback connection makes (the virtual host, the tests'
// fake host), never travo: one implementation file per operating system. Everything else goes
// through the operating system's platform, platform::os().
#pragma once

#include <cstdint>

#include "insim/platform.h"

namespace hostside {

// Listens on 127.0.0.1; port 0 picks a free one, written to `bound_port` when that is not null.
// kNoSocket when it cannot.
platform::SocketHandle listen_loopback(std::uint16_t port, std::uint16_t* bound_port);
platform::SocketHandle accept_client(platform::SocketHandle listener);
// Makes the next close send a reset instead of an orderly shutdown.
void set_reset_on_close(platform::SocketHandle s);

}  // namespace hostside
