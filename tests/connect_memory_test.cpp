// The connection doctor over the in-memory platform: what it does when a send cannot go out.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "app/config.h"
#include "insim/memory_platform.h"
#include "tools/check/connect.h"
#include "tools/host_side/fake_host.h"

namespace {

namespace mem = memory_platform;

// The machine these tests run on: one for the whole program, reset by each test.
mem::MemoryPlatform net;
using Outcome = travo_check::ConnectReport::Outcome;
using namespace std::chrono_literals;

app::ConfigValues values() {
    app::ConfigValues v{};
    std::snprintf(v.host, sizeof v.host, "%s", "127.0.0.1");
    std::snprintf(v.port, sizeof v.port, "%s", "29999");
    return v;
}

// A peer that stops reading: the send that finds no room gives up, and nothing more goes out.
TEST(ConnectDoctorSends, ASendWithNoRoomEndsTheCheckByItsLimit) {
    const struct {
        int failing_wait;  // 1: the handshake; 2: the keep-alive's answer
        std::size_t sends;
    } cases[] = {{1, 0}, {2, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing_wait);
        net.reset();
        net.add_bytes(hostside::tiny_packet(insim::TINY_NONE));
        net.add_bytes(hostside::version_packet("0.7F", 9));
        net.fail(mem::Call::write_wait, c.failing_wait);
        const auto report = travo_check::connect_check(values(), 10s, net);
        EXPECT_EQ(report.outcome, Outcome::no_answer) << report.line;
        EXPECT_NE(report.line.find("stopped reading what travo-check sent"), std::string::npos)
            << report.line;
        EXPECT_EQ(net.sends_since(0).size(), c.sends);
        EXPECT_EQ(net.record().sockets_closed, 1);
        EXPECT_EQ(net.record().layer_stops, 1);
    }
}

// Each kind of peer, scripted, and the one line that names it.
TEST(ConnectDoctorReceives, TellsEachScriptedPeerApart) {
    const hostside::Bytes keep_alive = hostside::tiny_packet(insim::TINY_NONE);
    const hostside::Bytes version = hostside::version_packet("0.7F", 9);
    const hostside::Bytes half(version.begin(), version.begin() + 6);
    hostside::Bytes flood;
    for (int i = 0; i < 100; ++i) flood.insert(flood.end(), keep_alive.begin(), keep_alive.end());
    const struct {
        const char* peer;
        std::vector<hostside::Bytes> bytes;
        int timeouts_first;  // each wait that times out takes up to 5 s of the 10 s limit
        mem::Event then;
        Outcome outcome;
        const char* says;
    } cases[] = {
        {"answers", {version}, 0, mem::Event::close, Outcome::connected, "host version 0.7F"},
        {"floods keep-alives past the limit",
         {flood, version},
         2,
         mem::Event::close,
         Outcome::no_answer,
         "stopped reading what travo-check sent"},
        {"sends half its version, then nothing",
         {half},
         0,
         mem::Event::timeout,
         Outcome::cut_short,
         "sent 6 of the 20 bytes of its version and no more"},
        {"sends half its version and closes",
         {half},
         0,
         mem::Event::close,
         Outcome::closed,
         "closed it after 6 of the 20 bytes of its version"},
        {"sends a record of size zero",
         {{0, 3, 0, 0}},
         0,
         mem::Event::close,
         Outcome::not_insim,
         "sent bytes that are not InSim"},
        {"resets", {}, 0, mem::Event::reset, Outcome::reset, "reset it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.peer);
        net.reset();
        net.add_event(mem::Event::timeout, c.timeouts_first);
        for (const auto& b : c.bytes) net.add_bytes(b);
        net.add_event(c.then, c.then == mem::Event::timeout ? 3 : 1);
        const auto report = travo_check::connect_check(values(), 10s, net);
        EXPECT_EQ(report.outcome, c.outcome) << report.line;
        EXPECT_NE(report.line.find(c.says), std::string::npos) << report.line;
        EXPECT_EQ(net.record().sockets_closed, 1);
        EXPECT_EQ(net.record().layer_stops, 1);
    }
}

}  // namespace
