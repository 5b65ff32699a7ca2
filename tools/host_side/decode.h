// Packets in words: for the virtual host's trace and its reports of faulty client packets.
#pragma once

#include <string>
#include <vector>

#include "tools/host_side/fake_host.h"

namespace hostside {

// One line: type name and fields, e.g. "IS_BFN ReqI=1 SubT=0 UCID=255 ClickID=10".
// The admin password of IS_ISI is never shown, only whether one was given.
std::string describe_packet(const Bytes& packet);

// What is wrong with a packet the client sent; empty when it is well-formed.
std::vector<std::string> client_packet_faults(const Bytes& packet);

// Buttons that reach past the 200-unit grid: not a fault of the record, but worth a note.
std::string grid_overhang_note(const Bytes& packet);

}  // namespace hostside
