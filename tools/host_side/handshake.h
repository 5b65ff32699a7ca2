// The host's side of the InSim handshake, written once for the tests' fake host and travo-sim:
// what a client's first packet is, and the host's answer to it. Plain code with no I/O.
#pragma once

#include <cstdint>
#include <string_view>

#include "insim/builders.h"
#include "insim/records.h"

namespace hostside {

struct HostIdentity {
    std::string_view version = "0.7F";  // IS_VER's Version
    std::uint16_t insim_version = 9;
    std::string_view admin_password;  // empty: any password is taken
};

struct Handshake {
    enum class Outcome { accepted, wrong_password, not_isi };
    Outcome outcome = Outcome::not_isi;
    insim::IS_ISI isi{};  // the client's, when its first packet is one
    // What the host sends back: IS_VER when the client was accepted and asked for it (ReqI not 0),
    // else nothing. A wrong password gets no answer; the host closes the connection.
    insim::Bytes answer;
};

Handshake answer_handshake(const insim::Bytes& first_packet, const HostIdentity& host);

}  // namespace hostside
