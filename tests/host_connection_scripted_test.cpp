// HostConnection over the scripted platform: the waits, failures and call counts that a real
// socket cannot show or cannot be made to produce on request.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/startup.h"
#include "insim/host_connection.h"
#include "insim/records.h"
#include "tests/support/fault_platform.h"
#include "tests/support/wire.h"
#include "tools/host_side/fake_host.h"

namespace {

using testsupport::Call;
using Event = hostside::ScriptedPlatform::Event;

// The machine these tests run on: one for the whole program, reset by each test.
hostside::ScriptedPlatform host;
testsupport::FaultPlatform net{host};
using insim::Bytes;

const Bytes kKeepAlive{4, insim::ISP_TINY, 0, insim::TINY_NONE};

class ScriptedConnection : public testing::Test {
  protected:
    void SetUp() override { net.reset(); }
    void TearDown() override { net.reset(); }

    // Connected without asking for the version; what was sent so far is forgotten.
    void connect() {
        ASSERT_EQ(conn.connect_host("127.0.0.1", 29999, "t", "", nullptr, '!', 0, 0, 0), 0);
        sent_at = host.sent().size();
    }

    Bytes current() const {
        return Bytes(conn.packet_data(), conn.packet_data() + conn.packet_size());
    }
    std::vector<Bytes> sent() const { return host.sends_since(sent_at); }

    insim::HostConnection conn{net};
    std::size_t sent_at = 0;
};

TEST_F(ScriptedConnection, ConnectsToTheHostAndPortItIsGivenWithoutDelayingRecords) {
    const Bytes version = hostside::version_packet("0.7F", 9);
    host.add_bytes(testsupport::concat({kKeepAlive, version}));
    insim::IS_VER ver{};
    ASSERT_EQ(conn.connect_host("10.1.2.3", 4321, "t", "pw", &ver, '!', 0, 0, 0), 0);

    const testsupport::CallLog& r = net.log();
    EXPECT_EQ(r.lookups, std::vector<std::string>{"10.1.2.3"});
    const std::uint8_t address[4] = {10, 1, 2, 3};
    EXPECT_EQ(std::memcmp(&r.connected_address, address, 4), 0);
    EXPECT_EQ(r.connected_port, 4321);
    EXPECT_EQ(r.no_delay, 1);
    EXPECT_EQ(r.keep_alive, 1);
    const std::vector<Bytes> sends = host.sends_since(0);
    ASSERT_EQ(sends.size(), 2u);  // IS_ISI, then the keep-alive's answer
    EXPECT_EQ(sends[0].size(), 44u);
    EXPECT_EQ(sends[1], kKeepAlive);
    EXPECT_EQ(0, std::memcmp(&ver, version.data(), sizeof ver));
}

struct SetUpFailure {
    Call call;
    const char* out;  // what standard output shows
    const char* err;  // what standard error shows
};

TEST_F(ScriptedConnection, EveryFailedSetUpStepClosesWhatItOpenedAndSaysSo) {
    const SetUpFailure cases[] = {
        {Call::socket_layer_start, "(HostConnection)Critical: Cannot create socket\n", ""},
        {Call::open_tcp_socket, "", "(HostConnection)Critical: Cannot get socket handle\n"},
        {Call::lookup, "", "(HostConnection)Critical: Cannot connect\n"},
        {Call::connect, "", "(HostConnection)Critical: Cannot connect\n"},
        {Call::send, "", ""},  // IS_ISI cannot be sent
    };
    for (const SetUpFailure& c : cases) {
        SCOPED_TRACE(testing::Message() << "failing call " << static_cast<int>(c.call));
        net.reset();
        net.fail(c.call);
        insim::HostConnection fresh{net};
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int result = fresh.connect_host("h", 1, "t", "", nullptr, '!', 0, 0, 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(result, -1);
        const testsupport::CallLog& r = net.log();
        EXPECT_EQ(r.sockets_closed, r.sockets_opened);
        EXPECT_EQ(r.stray_closes, 0);
        EXPECT_EQ(r.layer_stops, 1);
        EXPECT_TRUE(host.sent().empty());
    }
}

TEST_F(ScriptedConnection, HandshakeThatFailsAsksTheHostToClose) {
    host.add_bytes(hostside::ncn_packet("Alex"));
    insim::IS_VER ver{};
    EXPECT_EQ(conn.connect_host("h", 1, "t", "", &ver, '!', 0, 0, 0), -1);
    const std::vector<Bytes> sends = host.sends_since(0);
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[1], (Bytes{4, 3, 0, insim::TINY_CLOSE}));
    // The socket layer stops once, and no socket is closed twice.
    const auto closed_once = [] {
        EXPECT_EQ(net.log().sockets_closed, 1);
        EXPECT_EQ(net.log().stray_closes, 0);
        EXPECT_EQ(net.log().layer_stops, 1);
    };
    closed_once();

    // When even the close request cannot be sent, the socket is closed all the same.
    net.reset();
    host.add_event(Event::reset);
    insim::HostConnection other{net};
    EXPECT_EQ(other.connect_host("h", 1, "t", "", &ver, '!', 0, 0, 0), -1);
    closed_once();
}

// The smallest version answer a host can give: Size and Type. travo connects with every
// field of the version empty.
TEST_F(ScriptedConnection, ATwoByteVersionAnswerConnectsWithEmptyFields) {
    host.add_bytes(Bytes{2, insim::ISP_VER});
    insim::IS_VER ver;
    std::memset(&ver, 0xFF, sizeof ver);
    EXPECT_EQ(conn.connect_host("h", 1, "t", "", &ver, '!', 0, 0, 0), 0);
    EXPECT_EQ(ver.Version[0], 0);
    EXPECT_EQ(ver.Product[0], 0);
    EXPECT_EQ(ver.InSimVer.get(), 0);
    EXPECT_EQ(net.log().sockets_closed, 0);
}

struct SlowHost {
    const char* what;
    void (*script)();  // what the host does after IS_ISI
    int result;
    unsigned long long elapsed_ms;  // on the platform's clock when connect_host returns
};

// The handshake gives up 30 s after IS_ISI whatever arrived meanwhile, and a host that answers
// before then is served as if it had answered at once.
TEST_F(ScriptedConnection, HandshakeWaitsThirtySecondsForTheVersionAndNoLonger) {
    const SlowHost cases[] = {
        {"silent", [] { host.add_event(Event::timeout, 6); }, -1, 30000},
        {"keep-alives do not restart the limit",
         [] {
             host.add_event(Event::timeout, 3);
             host.add_bytes(kKeepAlive);
             host.add_event(Event::timeout, 3);
         },
         -1, 30000},
        {"bytes of a packet that never completes",
         [] {
             const Bytes ver = hostside::version_packet("0.7F", 9);
             host.add_bytes_in_pieces(ver.data(), 6, 1, true);
         },
         -1, 30000},
        {"answers after 25 s, a keep-alive first",
         [] {
             host.add_event(Event::timeout, 4);
             host.add_bytes(kKeepAlive);
             host.add_event(Event::timeout);
             host.add_bytes(hostside::version_packet("0.7F", 9));
         },
         0, 25000},
        {"answers after 10 s",
         [] {
             host.add_event(Event::timeout, 2);
             host.add_bytes(hostside::version_packet("0.7F", 9));
         },
         0, 10000},
    };
    for (const SlowHost& c : cases) {
        SCOPED_TRACE(c.what);
        net.reset();
        c.script();
        insim::HostConnection fresh{net};
        insim::IS_VER ver{};
        testing::internal::CaptureStderr();
        EXPECT_EQ(fresh.connect_host("h", 1, "t", "", &ver, '!', 0, 0, 0), c.result);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(host.elapsed_ms(), c.elapsed_ms);
        EXPECT_FALSE(host.script_pending());
        // A handshake that waited on would have met an empty script.
        EXPECT_EQ(net.log().dry_waits, 0);
        const std::vector<Bytes> sends = host.sends_since(0);
        ASSERT_FALSE(sends.empty());
        const Bytes last = sends.back();
        if (c.result == 0) {
            EXPECT_NE(last, (Bytes{4, 3, 0, insim::TINY_CLOSE}));
            EXPECT_EQ(net.log().sockets_closed, 0);
            EXPECT_EQ(ver.InSimVer.get(), 9);
        } else {
            EXPECT_EQ(last, (Bytes{4, 3, 0, insim::TINY_CLOSE}));
            EXPECT_EQ(net.log().sockets_closed, 1);
        }
        // No wait is longer than five seconds, nor reaches past the limit.
        unsigned long long waited = 0;
        for (const testsupport::Wait& w : net.log().waits) {
            EXPECT_LE(w.seconds * 1000000L + w.microseconds, 5000000L);
            waited += static_cast<unsigned long long>(w.seconds) * 1000 +
                      static_cast<unsigned long long>(w.microseconds) / 1000;
        }
        EXPECT_LE(waited, insim::HostConnection::kHandshakeLimitMs);
    }
}

// The part of a deadline below the five-second wait is waited for in one go, to the microsecond:
// counted in the wrong unit, the last second would spin in short waits.
TEST_F(ScriptedConnection, TheWaitBeforeADeadlineEndsOnIt) {
    const struct {
        unsigned long long limit_ms;
        std::vector<testsupport::Wait> waits;
    } cases[] = {
        {7250, {{5, 0}, {2, 250000}}},
        {800, {{0, 800000}}},
        {10000, {{5, 0}, {5, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit_ms);
        net.reset();
        insim::HostConnection fresh{net};
        ASSERT_EQ(fresh.connect_host("127.0.0.1", 29999, "t", "", nullptr, '!', 0, 0, 0), 0);
        host.add_event(Event::timeout, static_cast<int>(c.waits.size()));
        EXPECT_EQ(fresh.receive_packet_until(host.elapsed_ms() + c.limit_ms),
                  insim::HostConnection::kTimeUp);
        EXPECT_EQ(host.elapsed_ms(), c.limit_ms);
        ASSERT_EQ(net.log().waits.size(), c.waits.size());
        for (std::size_t i = 0; i < c.waits.size(); ++i) {
            EXPECT_EQ(net.log().waits[i].seconds, c.waits[i].seconds) << i;
            EXPECT_EQ(net.log().waits[i].microseconds, c.waits[i].microseconds) << i;
        }
    }
}

// After the handshake the limit is gone: a quiet host is waited for as long as it takes.
TEST_F(ScriptedConnection, TheLimitEndsWithTheHandshake) {
    host.add_bytes(hostside::version_packet("0.7F", 9));
    insim::IS_VER ver{};
    ASSERT_EQ(conn.connect_host("h", 1, "t", "", &ver, '!', 0, 0, 0), 0);
    const Bytes chat = hostside::mso_packet(6, "Alex: hi");
    host.add_event(Event::timeout, 20);
    host.add_bytes(chat);
    ASSERT_EQ(conn.receive_packet(), 0);
    EXPECT_EQ(current(), chat);
    EXPECT_EQ(host.elapsed_ms(), 100000u);
}

TEST_F(ScriptedConnection, EveryWaitIsAFullFiveSecondsAndATimeOutWaitsAgain) {
    connect();
    const Bytes chat = hostside::mso_packet(6, "Alex: hi");
    host.add_event(Event::timeout, 3);
    host.add_bytes(chat);
    ASSERT_EQ(conn.receive_packet(), 0);
    EXPECT_EQ(current(), chat);

    const testsupport::CallLog& r = net.log();
    ASSERT_EQ(r.waits.size(), 3u);
    for (const testsupport::Wait& w : r.waits) {
        EXPECT_EQ(w.seconds, 5);
        EXPECT_EQ(w.microseconds, 0);
    }
    // Each look that found nothing was followed by a wait, never by another look.
    EXPECT_EQ(r.empty_receives, 3);
    EXPECT_EQ(r.receives, 4);
    EXPECT_EQ(host.elapsed_ms(), 15000u);
}

// A packet whose first bytes came before a deadline is finished by the next call, as the watch's
// short slices read the chat: the part already read is kept.
TEST_F(ScriptedConnection, APacketCutByADeadlineIsFinishedByTheNextCall) {
    connect();
    const Bytes first = hostside::ncn_packet("Alex");
    const Bytes chat = hostside::mso_packet(6, "Alex: !fb");
    host.add_bytes(first);
    host.add_bytes(Bytes(chat.begin(), chat.begin() + 10));
    host.add_event(Event::timeout, 2);
    host.add_bytes(Bytes(chat.begin() + 10, chat.end()));
    ASSERT_EQ(conn.receive_packet_until(host.elapsed_ms() + 1000), 0);
    EXPECT_EQ(current(), first);
    EXPECT_EQ(conn.receive_packet_until(host.elapsed_ms() + 1000), insim::HostConnection::kTimeUp);
    ASSERT_EQ(conn.receive_packet_until(host.elapsed_ms() + 1000), 0);
    EXPECT_EQ(current(), chat);
}

TEST_F(ScriptedConnection, APacketAlreadyReadIsServedWithoutTouchingTheSocket) {
    connect();
    const Bytes first = hostside::mso_packet(6, "Alex: !fb");
    const Bytes second = hostside::ncn_packet("Alex");
    host.add_bytes(testsupport::concat({first, second}));
    ASSERT_EQ(conn.receive_packet(), 0);
    EXPECT_EQ(current(), first);
    const int receives = net.log().receives;
    ASSERT_EQ(conn.receive_packet(), 0);
    EXPECT_EQ(current(), second);
    EXPECT_EQ(net.log().receives, receives);
    EXPECT_TRUE(net.log().waits.empty());
}

TEST_F(ScriptedConnection, APacketInPiecesIsDeliveredWithItsLastByte) {
    connect();
    const Bytes p = hostside::mso_packet(6, "Alex: !luz");
    host.add_bytes_in_pieces(p.data(), p.size(), 1, true);
    ASSERT_EQ(conn.receive_packet(), 0);
    EXPECT_EQ(current(), p);
    EXPECT_FALSE(host.script_pending());
}

struct Ending {
    const char* what;
    void (*script)();
    int result;
    bool again;  // a second receive ends the same way without anything new from the host
};

TEST_F(ScriptedConnection, EachWayTheConnectionEndsGivesItsResult) {
    const Ending cases[] = {
        {"orderly close", [] { host.add_event(Event::close); }, -2, true},
        {"reset", [] { host.add_event(Event::reset); }, -1, true},
        {"exceptional condition", [] { net.fail(Call::exception); }, -1, false},
        {"failed wait",
         [] {
             host.add_event(Event::timeout);
             net.fail(Call::wait, 1, true);
         },
         -1, true},
        {"failed receive",
         [] {
             host.add_bytes(Bytes{4, 3});
             net.fail(Call::receive, 2, true);
         },
         -1, true},
        {"keep-alive answer not sent",
         [] {
             host.add_bytes(kKeepAlive);
             net.fail(Call::send);
         },
         -1, false},
        {"Size 0",
         [] {
             host.add_bytes(Bytes{0, 3, 0, 0});
         },
         -1, true},
    };
    for (const Ending& c : cases) {
        SCOPED_TRACE(c.what);
        net.reset();
        insim::HostConnection fresh{net};
        ASSERT_EQ(fresh.connect_host("h", 1, "t", "", nullptr, '!', 0, 0, 0), 0);
        c.script();
        EXPECT_EQ(fresh.receive_packet(), c.result);
        if (c.again) {
            EXPECT_EQ(fresh.receive_packet(), c.result);
        }
        EXPECT_EQ(net.log().dry_waits, 0);
    }
}

TEST_F(ScriptedConnection, KeepAlivesAreAnsweredInOrderAndNeverDelivered) {
    connect();
    const Bytes chat = hostside::mso_packet(6, "Alex: hi");
    host.add_bytes(testsupport::concat({kKeepAlive, kKeepAlive}));
    host.add_bytes(testsupport::concat({kKeepAlive, chat}));
    ASSERT_EQ(conn.receive_packet(), 0);
    EXPECT_EQ(current(), chat);
    EXPECT_EQ(sent(), (std::vector<Bytes>{kKeepAlive, kKeepAlive, kKeepAlive}));
}

TEST_F(ScriptedConnection, AFailedSendIsReportedAndTheNextOneGoesOut) {
    connect();
    insim::IS_TINY tiny{4, insim::ISP_TINY, 0, 7};
    net.fail(Call::send);
    EXPECT_EQ(conn.send_packet(&tiny), -1);
    EXPECT_EQ(conn.send_packet(&tiny), 0);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{4, 3, 0, 7}}));
}

TEST_F(ScriptedConnection, AfterAResetNeitherReceivesNorSendsSucceed) {
    connect();
    host.add_bytes(hostside::ncn_packet("Alex"));
    host.add_event(Event::reset);
    ASSERT_EQ(conn.receive_packet(), 0);
    EXPECT_EQ(conn.receive_packet(), -1);
    insim::IS_TINY tiny{4, insim::ISP_TINY, 0, 7};
    EXPECT_EQ(conn.send_packet(&tiny), -1);
    EXPECT_TRUE(sent().empty());
}

// The loop of the program ends on the first failed receive, whatever the failure (a Size of 0,
// which never reaches the platform, is a process test).
TEST_F(ScriptedConnection, PacketLoopEndsOnTheFirstFailedReceive) {
    const struct {
        const char* what;
        Event ending;
        Bytes before;
        int result;
    } cases[] = {
        {"close", Event::close, {}, -2},
        {"reset", Event::reset, {}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        net.reset();
        insim::HostConnection fresh{net};
        ASSERT_EQ(fresh.connect_host("h", 1, "t", "", nullptr, '!', 0, 0, 0), 0);
        host.add_bytes(hostside::mci_packet(2));
        host.add_bytes(c.before);
        host.add_event(c.ending);
        // A loop that went on receiving would find the script empty.
        net.on_empty([] { throw std::runtime_error("the loop kept receiving"); });
        app::ConfigValues config{};
        EXPECT_EQ(app::run_packet_loop(fresh, config), c.result);
    }
}

}  // namespace
