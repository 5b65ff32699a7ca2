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

}  // namespace
