// The connection doctor's reading of what a peer answers, over the scripted platform: only a
// version record of exactly 20 bytes is a version, and every other answer is named for what it is.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/config.h"
#include "tests/support/fault_platform.h"
#include "tools/check/connect.h"
#include "tools/host_side/fake_host.h"

namespace {

using Event = hostside::ScriptedPlatform::Event;
using Outcome = travo_check::ConnectReport::Outcome;
using hostside::Bytes;
using namespace std::chrono_literals;

app::ConfigValues values(const char* host, const char* port) {
    app::ConfigValues v{};
    std::snprintf(v.host, sizeof v.host, "%s", host);
    std::snprintf(v.port, sizeof v.port, "%s", port);
    return v;
}

// The version record with another Size byte, cut or padded to `length` bytes.
Bytes version_of_size(std::uint8_t size_byte, std::size_t length) {
    Bytes b = hostside::version_packet("0.7F", 10);
    b.resize(length, 0);
    b[0] = size_byte;
    return b;
}

TEST(DoctorAnswers, OnlyATwentyByteVersionIsAVersion) {
    const Bytes keep_alive = hostside::tiny_packet(insim::TINY_NONE);
    const struct {
        const char* peer;
        std::vector<Bytes> answer;
        Outcome outcome;
        const char* says;
    } cases[] = {
        {"a version record",
         {hostside::version_packet("0.7F", 9)},
         Outcome::connected,
         "host version 0.7F, InSim version 9"},
        {"a version of 4 bytes",
         {version_of_size(4, 4)},
         Outcome::not_a_version,
         "answered with a record of the version's type (2) of 4 bytes: a version record has "
         "exactly 20"},
        {"a version of 8 bytes", {version_of_size(8, 8)}, Outcome::not_a_version, "of 8 bytes"},
        {"a version of 255 bytes",
         {version_of_size(255, 255)},
         Outcome::not_a_version,
         "of 255 bytes"},
        {"a version of 24 bytes", {version_of_size(24, 24)}, Outcome::not_a_version, "of 24 bytes"},
        // A host of a newer protocol, counting Size in 4-byte units: 5 means 20 bytes.
        {"a version whose Size byte is 5",
         {version_of_size(5, 20)},
         Outcome::four_byte_units,
         "whose Size byte is 5 (host version \"0.7F\", InSim version 10): the host counts Size in "
         "4-byte units"},
        {"a Size byte of 5 and no more",
         {version_of_size(5, 5)},
         Outcome::not_a_version,
         "of 5 bytes"},
        {"keep-alives and nothing else",
         {keep_alive, keep_alive, keep_alive},
         Outcome::keep_alives_only,
         "sent only keep-alives (3) and no version within 10 s"},
        {"keep-alives, then the version",
         {keep_alive, hostside::version_packet("0.7F", 9)},
         Outcome::connected,
         "connected"},
    };
    hostside::ScriptedPlatform host;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.peer);
        host.reset();
        for (const Bytes& b : c.answer) host.add_bytes(b);
        host.add_event(Event::timeout, 3);
        const auto report = travo_check::connect_check(values("127.0.0.1", "29999"), 10s, host);
        EXPECT_EQ(report.outcome, c.outcome) << report.line;
        EXPECT_EQ(report.exit_code, c.outcome == Outcome::connected ? 0 : 1);
        EXPECT_NE(report.line.find(c.says), std::string::npos) << report.line;
        EXPECT_EQ(report.line.find('\n'), std::string::npos) << report.line;
    }
}

// An empty or zero port names line 5 and connects nowhere; a name says which address was tried.
TEST(DoctorAnswers, PortAndAddressAreNamed) {
    const struct {
        const char* host;
        const char* port;
        Outcome outcome;
        const char* says;
    } cases[] = {
        {"127.0.0.1", "", Outcome::no_port,
         "line 5, the port, is empty: travo would connect to "
         "port 0, which always fails"},
        {"127.0.0.1", "0", Outcome::no_port, "line 5, the port, is \"0\""},
        {"127.0.0.1", "65536", Outcome::no_port, "line 5, the port, is \"65536\""},
        {"host.example", "29999", Outcome::connected,
         "connected to host.example:29999 (address 127.0.0.1, the first the name gives, which "
         "travo uses too)"},
        {"127.0.0.1", "29999", Outcome::connected, "connected to 127.0.0.1:29999: host version"},
    };
    hostside::ScriptedPlatform host;
    testsupport::FaultPlatform net{host};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.host) + ":" + c.port);
        net.reset();
        host.add_bytes(hostside::version_packet("0.7F", 9));
        const auto report = travo_check::connect_check(values(c.host, c.port), 10s, net);
        EXPECT_EQ(report.outcome, c.outcome) << report.line;
        EXPECT_NE(report.line.find(c.says), std::string::npos) << report.line;
        if (c.outcome == Outcome::no_port) {
            EXPECT_EQ(net.log().sockets_opened, 0);
            EXPECT_TRUE(net.log().lookups.empty());
        }
    }
}

}  // namespace
