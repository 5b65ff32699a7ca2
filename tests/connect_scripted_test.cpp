// The connection doctor over the scripted platform: what it does when a send cannot go out.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "app/config.h"
#include "tests/support/fault_platform.h"
#include "tools/check/connect.h"
#include "tools/host_side/fake_host.h"

namespace {

using testsupport::Call;
using Event = hostside::ScriptedPlatform::Event;

// The machine these tests run on: one for the whole program, reset by each test.
hostside::ScriptedPlatform host;
testsupport::FaultPlatform net{host};
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
        host.add_bytes(hostside::tiny_packet(insim::TINY_NONE));
        host.add_bytes(hostside::version_packet("0.7F", 9));
        net.fail(Call::write_wait, c.failing_wait);
        const auto report = travo_check::connect_check(values(), 10s, net);
        EXPECT_EQ(report.outcome, Outcome::no_answer) << report.line;
        EXPECT_NE(report.line.find("stopped reading what travo-check sent"), std::string::npos)
            << report.line;
        EXPECT_EQ(host.sends_since(0).size(), c.sends);
        EXPECT_EQ(net.log().sockets_closed, 1);
        EXPECT_EQ(net.log().layer_stops, 1);
    }
}

// A connect that fails each way is told apart: in time, refused, or unreachable.
TEST(ConnectDoctorConnects, TellsTimeOutRefusalAndUnreachableApart) {
    const struct {
        Call call;
        std::chrono::milliseconds limit;
        Outcome outcome;
        const char* says;
        unsigned long long elapsed_ms;
    } cases[] = {
        {Call::connect_late, 2500ms, Outcome::no_answer,
         "no answer from 127.0.0.1:29999 within 2.5 s", 2500},
        {Call::connect_late, 2050ms, Outcome::no_answer, "within 2.05 s", 2050},
        {Call::connect_refused, 2500ms, Outcome::refused, "127.0.0.1:29999 refused the connection",
         0},
        {Call::connect, 2500ms, Outcome::failed, "the network or the host is unreachable", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        net.reset();
        net.fail(c.call, 1);
        const auto report = travo_check::connect_check(values(), c.limit, net);
        EXPECT_EQ(report.outcome, c.outcome) << report.line;
        EXPECT_NE(report.line.find(c.says), std::string::npos) << report.line;
        EXPECT_EQ(report.exit_code, 1);
        EXPECT_EQ(net.log().connect_limit_ms, c.limit.count());
        EXPECT_EQ(host.elapsed_ms(), c.elapsed_ms);
        EXPECT_TRUE(host.sends_since(0).empty());
        EXPECT_EQ(net.log().sockets_closed, 1);
        EXPECT_EQ(net.log().layer_stops, 1);
    }
}

// Each kind of peer, scripted, and the one line that names it.
TEST(ConnectDoctorReceives, TellsEachScriptedPeerApart) {
    const hostside::Bytes keep_alive = hostside::tiny_packet(insim::TINY_NONE);
    const hostside::Bytes version = hostside::version_packet("0.7F", 9);
    const hostside::Bytes half(version.begin(), version.begin() + 6);
    const std::string ssh = "SSH-2.0-OpenSSH_9.2\r\n";
    const hostside::Bytes banner(ssh.begin(), ssh.end());
    hostside::Bytes flood;
    for (int i = 0; i < 100; ++i) flood.insert(flood.end(), keep_alive.begin(), keep_alive.end());
    const struct {
        const char* peer;
        std::vector<hostside::Bytes> bytes;
        int timeouts_first;  // each wait that times out takes up to 5 s of the 10 s limit
        Event then;
        Outcome outcome;
        const char* says;
    } cases[] = {
        {"answers", {version}, 0, Event::close, Outcome::connected, "host version 0.7F"},
        {"floods keep-alives past the limit",
         {flood, version},
         2,
         Event::close,
         Outcome::no_answer,
         "stopped reading what travo-check sent"},
        {"sends half its version, then nothing",
         {half},
         0,
         Event::timeout,
         Outcome::cut_short,
         "sent 6 of the 20 bytes of its version and no more"},
        {"sends half its version and closes",
         {half},
         0,
         Event::close,
         Outcome::closed,
         "closed it after 6 of the 20 bytes of its version"},
        {"sends a record of size zero",
         {{0, 3, 0, 0}},
         0,
         Event::close,
         Outcome::not_insim,
         "sent bytes that are not InSim"},
        {"sends one keep-alive, then nothing",
         {keep_alive},
         0,
         Event::timeout,
         Outcome::keep_alives_only,
         "sent only keep-alives (1)"},
        {"resets", {}, 0, Event::reset, Outcome::reset, "reset it during the handshake"},
        {"closes without a word",
         {},
         0,
         Event::close,
         Outcome::closed,
         "closed it during the handshake (a wrong admin password is a possible cause)"},
        {"sends a keep-alive and closes",
         {keep_alive},
         0,
         Event::close,
         Outcome::closed,
         "sent only keep-alives (1) and closed it"},
        {"sends half its version and resets",
         {half},
         0,
         Event::reset,
         Outcome::reset,
         "reset it after 6 of the 20 bytes of its version"},
        {"sends an SSH banner and resets",
         {banner},
         0,
         Event::reset,
         Outcome::not_insim,
         "(\"SSH-2.0-OpenSSH_9.2\\x0D\\x0A\") and reset it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.peer);
        net.reset();
        host.add_event(Event::timeout, c.timeouts_first);
        for (const auto& b : c.bytes) host.add_bytes(b);
        host.add_event(c.then, c.then == Event::timeout ? 3 : 1);
        const auto report = travo_check::connect_check(values(), 10s, net);
        EXPECT_EQ(report.outcome, c.outcome) << report.line;
        EXPECT_NE(report.line.find(c.says), std::string::npos) << report.line;
        // A host that refuses the password has read the handshake and ends without a word.
        EXPECT_EQ(report.line.find("password") != std::string::npos,
                  c.bytes.empty() && c.then == Event::close)
            << report.line;
        EXPECT_EQ(net.log().sockets_closed, 1);
        EXPECT_EQ(net.log().layer_stops, 1);
    }
}

// A name server that never answers: the lookup ends by the same limit and is named as such.
TEST(ConnectDoctorLooksUp, ANameServerThatNeverAnswersEndsByTheLimit) {
    net.reset();
    net.fail(Call::lookup_unanswered);
    app::ConfigValues v = values();
    std::snprintf(v.host, sizeof v.host, "%s", "quintaro.example");
    const unsigned long long start = host.monotonic_ms();
    const auto report = travo_check::connect_check(v, 1500ms, net);
    EXPECT_EQ(report.outcome, Outcome::no_name_answer) << report.line;
    EXPECT_EQ(report.line,
              "travo-check: no answer from the name server within 1.5 s for the host name "
              "\"quintaro.example\": the name server is down or out of reach from here");
    EXPECT_EQ(host.monotonic_ms() - start, 1500u);
    EXPECT_EQ(net.log().sockets_opened, 0);
    EXPECT_EQ(report.exit_code, 1);
}

}  // namespace
