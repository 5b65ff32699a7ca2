#include "tests/support/fault_platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "insim/platform.h"

namespace {

using testsupport::Call;
using Event = hostside::ScriptedPlatform::Event;

// The machine these tests run on: one for the whole program, reset by each test.
hostside::ScriptedPlatform host;
testsupport::FaultPlatform net{host};
using insim::Bytes;
using platform::WaitResult;

class ScriptedPlatformTest : public testing::Test {
  protected:
    void SetUp() override {
        net.reset();
        s = net.open_tcp_socket();
        ASSERT_NE(s, platform::kNoSocket);
    }
    void TearDown() override { net.reset(); }

    Bytes receive(std::size_t room) {
        Bytes buffer(room);
        const long n = net.receive_bytes(s, buffer.data(), buffer.size());
        buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return buffer;
    }

    platform::SocketHandle s = platform::kNoSocket;
};

TEST_F(ScriptedPlatformTest, ServesEachEventInOrderAndNeverTwoAtOnce) {
    host.add_bytes(Bytes{1, 2, 3, 4, 5});
    host.add_event(Event::timeout);
    host.add_bytes(Bytes{6});
    host.add_event(Event::close);

    EXPECT_EQ(net.wait_readable(s, 5, 0), WaitResult::kReadable);
    EXPECT_EQ(receive(3), (Bytes{1, 2, 3}));  // the rest stays for the next receive
    std::uint8_t b[8];
    EXPECT_EQ(net.receive_waiting(s, b, sizeof b), 2);
    EXPECT_EQ(net.receive_waiting(s, b, sizeof b), platform::kWouldBlock);
    EXPECT_EQ(net.wait_readable(s, 5, 250000), WaitResult::kTimeout);
    EXPECT_EQ(receive(8), (Bytes{6}));
    EXPECT_EQ(net.receive_bytes(s, b, sizeof b), 0);
    EXPECT_EQ(net.receive_bytes(s, b, sizeof b), 0);  // closed stays closed
    EXPECT_FALSE(host.script_pending());

    EXPECT_EQ(host.elapsed_ms(), 5250u);
    EXPECT_EQ(net.log().waits.size(), 2u);
    EXPECT_EQ(net.log().empty_receives, 1);
}

TEST_F(ScriptedPlatformTest, BytesInPiecesArriveAPieceAtATimeEachAfterItsTimeOut) {
    const Bytes stream{1, 2, 3, 4, 5, 6, 7};
    host.add_bytes_in_pieces(stream.data(), stream.size(), 3, true);
    host.add_bytes_in_pieces(stream.data(), 2, 5);        // no time-outs, one short piece
    host.add_bytes_in_pieces(stream.data(), 0, 4, true);  // nothing at all

    for (const Bytes& piece : {Bytes{1, 2, 3}, Bytes{4, 5, 6}, Bytes{7}}) {
        EXPECT_EQ(net.wait_readable(s, 5, 0), WaitResult::kTimeout);
        EXPECT_EQ(net.wait_readable(s, 5, 0), WaitResult::kReadable);
        EXPECT_EQ(receive(8), piece);
    }
    EXPECT_EQ(receive(8), (Bytes{1, 2}));
    EXPECT_FALSE(host.script_pending());
    EXPECT_EQ(host.elapsed_ms(), 15000u);
}
TEST_F(ScriptedPlatformTest, FailsTheCallAskedForAndRecordsWhatWasSent) {
    net.fail(Call::send, 2);
    const std::uint8_t a[] = {4, 3, 0, 1};
    const std::uint8_t b[] = {4, 3, 0, 2};
    EXPECT_EQ(net.send_bytes(s, a, 4), 4);
    EXPECT_EQ(net.send_bytes(s, b, 4), -1);  // the second send
    EXPECT_EQ(net.send_bytes(s, b, 4), 4);
    EXPECT_EQ(host.sends_since(0), (std::vector<Bytes>{{4, 3, 0, 1}, {4, 3, 0, 2}}));
    EXPECT_EQ(host.sends_since(4), (std::vector<Bytes>{{4, 3, 0, 2}}));

    net.fail(Call::receive, 1, true);
    std::uint8_t buffer[4];
    host.add_bytes(Bytes{1});
    EXPECT_EQ(net.receive_bytes(s, buffer, 4), -1);
    EXPECT_EQ(net.receive_bytes(s, buffer, 4), -1);  // and every later one

    net.close_socket(s);
    EXPECT_EQ(net.send_bytes(s, a, 4), -1);
    EXPECT_EQ(net.log().sockets_closed, 1);
}

TEST_F(ScriptedPlatformTest, AnEmptyScriptAsksTheHookThenFails) {
    int asked = 0;
    net.on_empty([&asked] {
        if (++asked == 1) host.add_bytes(Bytes{9});
    });
    EXPECT_EQ(net.wait_readable(s, 5, 0), WaitResult::kReadable);
    EXPECT_EQ(receive(4), (Bytes{9}));
    EXPECT_EQ(net.wait_readable(s, 5, 0), WaitResult::kFailed);
    EXPECT_EQ(net.log().dry_waits, 1);

    net.on_empty([] { throw std::runtime_error("dry"); });
    EXPECT_THROW(net.wait_readable(s, 5, 0), std::runtime_error);
}

TEST_F(ScriptedPlatformTest, ResetPeerFailsReceivesAndSends) {
    host.add_event(Event::reset);
    std::uint8_t b[4] = {4, 3, 0, 0};
    EXPECT_EQ(net.receive_waiting(s, b, 4), -1);
    EXPECT_EQ(net.wait_readable(s, 5, 0), WaitResult::kReadable);
    EXPECT_EQ(net.send_bytes(s, b, 4), -1);
}

// The scripted platform alone, with no fault injection around it: what a script that has run out,
// a closed socket and the clock do, as travo-check's picture meets them.
TEST(ScriptedPlatformAlone, ARunOutScriptFailsWaitsAndTheClockMovesOnlyWhenWaitedOn) {
    hostside::ScriptedPlatform alone;
    const platform::SocketHandle t = alone.open_tcp_socket();
    std::uint8_t b[4] = {};
    EXPECT_EQ(alone.monotonic_ms(), 0u);
    EXPECT_EQ(alone.wait_readable(t, 5, 0), WaitResult::kFailed);
    EXPECT_EQ(alone.receive_bytes(t, b, 4), -1);
    EXPECT_EQ(alone.receive_waiting(t, b, 4), platform::kWouldBlock);
    EXPECT_EQ(alone.wait_writable(t, 1000), 1);
    EXPECT_EQ(alone.monotonic_ms(), 0u);  // no wait above took any time

    alone.add_event(Event::timeout);
    EXPECT_EQ(alone.wait_readable(t, 2, 500000), WaitResult::kTimeout);
    alone.sleep_ms(40);
    EXPECT_EQ(alone.monotonic_ms(), 2540u);

    alone.add_event(Event::close);
    EXPECT_EQ(alone.receive_waiting(t, b, 4), 0);
    EXPECT_EQ(alone.wait_readable(t, 5, 0),
              WaitResult::kReadable);  // a closed peer reads 0 at once
    EXPECT_TRUE(alone.peer_gone());

    alone.close_socket(t);
    EXPECT_FALSE(alone.is_open(t));
    EXPECT_EQ(alone.send_bytes(t, "x", 1), -1);
    EXPECT_EQ(alone.wait_readable(t, 0, 0), WaitResult::kFailed);
    EXPECT_EQ(alone.connect_ipv4(t, 0, 1), -1);

    alone.reset();
    EXPECT_EQ(alone.monotonic_ms(), 0u);
    EXPECT_TRUE(alone.sent().empty());
    EXPECT_FALSE(alone.script_pending());
    EXPECT_FALSE(alone.peer_gone());
}

TEST(ScriptedPlatformAlone, NamesAreThisMachineAndDottedAddressesStandForThemselves) {
    hostside::ScriptedPlatform alone;
    const struct {
        const char* host;
        bool found;
        std::uint8_t address[4];
    } cases[] = {
        {"10.1.2.3", true, {10, 1, 2, 3}},   {"host.example", true, {127, 0, 0, 1}},
        {"256.1.1.1", true, {127, 0, 0, 1}}, {"1.2.3", true, {127, 0, 0, 1}},
        {"1.2.3.4.5", true, {127, 0, 0, 1}}, {"", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        std::uint32_t address = 0;
        EXPECT_EQ(alone.lookup_ipv4(c.host, &address), c.found);
        if (c.found) {
            EXPECT_EQ(std::memcmp(&address, c.address, 4), 0);
        }
    }
}

// Fault injection: a failure comes at the call asked for and no other, the exceptional condition
// among them; every call is logged, and reset() forgets failures, log and script alike.
TEST_F(ScriptedPlatformTest, FaultsComeAtTheCallAskedForAndResetForgetsThem) {
    host.add_event(Event::timeout, 3);
    net.fail(Call::exception, 2);
    EXPECT_EQ(net.wait_readable(s, 5, 0), WaitResult::kTimeout);
    EXPECT_EQ(net.wait_readable(s, 5, 0), WaitResult::kException);  // the script stays put
    EXPECT_EQ(net.wait_readable(s, 5, 0), WaitResult::kTimeout);
    EXPECT_EQ(net.log().waits.size(), 3u);

    net.fail(Call::write_wait);
    const unsigned long long before = host.elapsed_ms();
    EXPECT_EQ(net.wait_writable(s, 700), 0);  // the peer does not read: the wait takes its time
    EXPECT_EQ(host.elapsed_ms(), before + 700);
    EXPECT_EQ(net.wait_writable(s, 700), 1);

    net.close_socket(s);
    net.close_socket(s);
    EXPECT_EQ(net.log().sockets_closed, 1);
    EXPECT_EQ(net.log().stray_closes, 1);

    net.fail(Call::open_tcp_socket, 1, true);
    net.sleep_ms(5);
    net.reset();
    EXPECT_EQ(net.log().sockets_closed, 0);
    EXPECT_TRUE(net.log().sleeps.empty());
    EXPECT_EQ(host.elapsed_ms(), 0u);
    EXPECT_NE(net.open_tcp_socket(), platform::kNoSocket);
    EXPECT_EQ(net.log().sockets_opened, 1);
}

}  // namespace
