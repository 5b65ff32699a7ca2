#include "insim/host_connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "insim/builders.h"
#include "insim/platform.h"
#include "tests/support/wire.h"
#include "tools/host_side/fake_host.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

using namespace std::chrono_literals;
using hostside::Bytes;
using hostside::FakeHost;

constexpr auto kLimit = 2s;

class HostConnectionTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(fake.listen()); }

    // Connects without asking for the version, so the host side need not answer.
    void connect() {
        ASSERT_EQ(conn.connect_host("127.0.0.1", fake.port(), "test", "", nullptr, '!', 0, 0, 0),
                  0);
        ASSERT_TRUE(fake.accept(kLimit));
        ASSERT_TRUE(fake.next_packet(kLimit));  // IS_ISI
    }

    // receive_packet with a deadline; on a miss the host hangs up so that a call still waiting
    // on the socket returns instead of blocking the test.
    int receive(std::chrono::milliseconds limit = kLimit) {
        auto pending = std::async(std::launch::async, [this] { return conn.receive_packet(); });
        if (pending.wait_for(limit) != std::future_status::ready) {
            ADD_FAILURE() << "receive_packet did not return within " << limit.count() << " ms";
            fake.close();
        }
        return pending.get();
    }

    Bytes current() const {
        return Bytes(conn.packet_data(), conn.packet_data() + conn.packet_size());
    }

    FakeHost fake;
    insim::HostConnection conn;
};

// The start light's waits: a sleep is never shorter than asked, below a second too. Windows may
// end one early by up to a tick of its clock.
TEST(PlatformSleep, LastsAtLeastAsLongAsAsked) {
#ifdef _WIN32
    constexpr long long kEarly = 16000;
#else
    constexpr long long kEarly = 0;
#endif
    for (const unsigned long ms : {1ul, 120ul, 999ul, 1250ul}) {
        const auto start = std::chrono::steady_clock::now();
        platform::os().sleep_ms(ms);
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start);
        EXPECT_GE(took.count(), static_cast<long long>(ms) * 1000 - kEarly) << ms << " ms";
        EXPECT_LT(took.count(), static_cast<long long>(ms) * 1000 + 1000000) << ms << " ms";
    }
}

TEST(HostConnectionIdle, NoPacketBeforeTheFirstReceive) {
    insim::HostConnection conn;
    EXPECT_EQ(conn.packet_type(), 0);
    EXPECT_EQ(conn.packet_data(), nullptr);
}

TEST_F(HostConnectionTest, TwoPacketsInOneWriteServeTwoCalls) {
    connect();
    const Bytes first = hostside::mso_packet(6, "Alex: !fb");
    const Bytes second = hostside::ncn_packet("Alex");
    ASSERT_TRUE(fake.send_raw(testsupport::concat({first, second})));

    ASSERT_EQ(receive(), 0);
    EXPECT_EQ(current(), first);
    // Nothing more is sent: the second packet must come from what was already read.
    ASSERT_EQ(receive(), 0);
    EXPECT_EQ(conn.packet_type(), insim::ISP_NCN);
    EXPECT_EQ(current(), second);
}

TEST_F(HostConnectionTest, PacketArrivingByteByByteIsDeliveredWhenComplete) {
    connect();
    const Bytes p = hostside::mso_packet(6, "Alex: !luz");
    auto pending = std::async(std::launch::async, [this] { return conn.receive_packet(); });
    for (std::size_t i = 0; i < p.size(); ++i) {
        // The wait doubles as the pause between the bytes.
        EXPECT_EQ(pending.wait_for(2ms), std::future_status::timeout) << "after " << i << " bytes";
        ASSERT_TRUE(fake.send_raw(&p[i], 1));
    }
    if (pending.wait_for(kLimit) != std::future_status::ready) fake.close();
    ASSERT_EQ(pending.get(), 0);
    EXPECT_EQ(current(), p);
}

TEST_F(HostConnectionTest, KeepAliveIsAnsweredAndNotDelivered) {
    connect();
    const Bytes chat = hostside::mso_packet(6, "Alex: hi");
    ASSERT_TRUE(
        fake.send_raw(testsupport::concat({hostside::tiny_packet(insim::TINY_NONE), chat})));
    ASSERT_EQ(receive(), 0);
    EXPECT_EQ(current(), chat);
    const auto reply = fake.next_packet(kLimit);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes, (Bytes{4, 3, 0, 0}));
}

TEST_F(HostConnectionTest, TinyWithOtherSubtypeIsDeliveredUnanswered) {
    connect();
    const Bytes tiny = hostside::tiny_packet(5, 7);
    ASSERT_TRUE(fake.send_raw(tiny));
    ASSERT_EQ(receive(), 0);
    EXPECT_EQ(conn.packet_type(), insim::ISP_TINY);
    EXPECT_EQ(current(), tiny);
    EXPECT_FALSE(fake.next_packet(50ms));
}

TEST_F(HostConnectionTest, ZeroSizeFailsPromptlyEveryTime) {
    connect();
    ASSERT_TRUE(fake.send_raw(Bytes{0, 3, 0, 0}));
    EXPECT_EQ(receive(), -1);
    EXPECT_EQ(receive(), -1);
}

TEST_F(HostConnectionTest, ShorterPacketLeavesTheRestOfTheLongerOne) {
    connect();
    const Bytes longer = hostside::mso_packet(6, std::string(127, 'm'));
    const Bytes shorter = hostside::version_packet("0.7F", 9);
    ASSERT_EQ(longer.size(), 136u);
    ASSERT_TRUE(fake.send_raw(testsupport::concat({longer, shorter})));
    ASSERT_EQ(receive(), 0);
    ASSERT_EQ(receive(), 0);
    ASSERT_EQ(conn.packet_size(), 20u);
    const std::uint8_t* data = conn.packet_data();
    EXPECT_EQ(Bytes(data, data + 20), shorter);
    EXPECT_EQ(Bytes(data + 20, data + 136), Bytes(longer.begin() + 20, longer.end()));
}

TEST_F(HostConnectionTest, OrderlyCloseGivesMinusTwo) {
    connect();
    fake.close();
    EXPECT_EQ(receive(), -2);
}

TEST_F(HostConnectionTest, ResetGivesMinusOne) {
    connect();
    fake.reset();
    EXPECT_EQ(receive(), -1);
}

TEST_F(HostConnectionTest, HandshakeSendsExactIsiAndFillsVersion) {
    insim::IS_VER version;
    std::memset(&version, 0xFF, sizeof version);
    int result = 99;
    std::thread client([&] {
        result = conn.connect_host("127.0.0.1", fake.port(), "ABCDEFGHIJKLMNOPQRST",
                                   "0123456789abcdefXYZ", &version, '!', 32, 1000, 0);
    });
    EXPECT_TRUE(fake.accept(kLimit));
    const auto isi = fake.next_packet(kLimit);
    // A keep-alive ahead of IS_VER is answered and skipped.
    fake.send_raw(hostside::tiny_packet(insim::TINY_NONE));
    const auto reply = fake.next_packet(kLimit);
    fake.send_raw(hostside::version_packet("0.7F", 9));
    client.join();

    ASSERT_TRUE(isi);
    Bytes expected{44, 1, 1, 0, 0, 0, 32, 0, 0, 33, 232, 3};
    const std::string admin = "0123456789abcdef";
    const std::string name = "ABCDEFGHIJKLMNO";
    expected.insert(expected.end(), admin.begin(), admin.end());
    expected.insert(expected.end(), name.begin(), name.end());
    expected.push_back(0);
    EXPECT_EQ(isi->bytes, expected);

    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes, (Bytes{4, 3, 0, 0}));
    ASSERT_EQ(result, 0);
    const Bytes sent = hostside::version_packet("0.7F", 9);
    EXPECT_EQ(0, std::memcmp(&version, sent.data(), sizeof version));
}

TEST_F(HostConnectionTest, ShortVersionAnswerLeavesTheRestZero) {
    insim::IS_VER version;
    std::memset(&version, 0xFF, sizeof version);
    int result = 99;
    std::thread client([&] {
        result = conn.connect_host("127.0.0.1", fake.port(), "t", "", &version, '!', 0, 0, 0);
    });
    EXPECT_TRUE(fake.accept(kLimit));
    fake.next_packet(kLimit);
    fake.send_raw(Bytes{8, insim::ISP_VER, 1, 0, '0', '.', '7', 0});
    client.join();

    ASSERT_EQ(result, 0);
    EXPECT_STREQ(version.Version, "0.7");
    EXPECT_EQ(version.Product[0], 0);
    EXPECT_EQ(version.InSimVer.get(), 0);
}

TEST_F(HostConnectionTest, FirstPacketOtherThanVersionClosesTheConnection) {
    insim::IS_VER version{};
    int result = 99;
    std::thread client([&] {
        result = conn.connect_host("127.0.0.1", fake.port(), "t", "", &version, '!', 0, 0, 0);
    });
    EXPECT_TRUE(fake.accept(kLimit));
    fake.next_packet(kLimit);
    fake.send_raw(hostside::ncn_packet("Alex"));
    const auto close_request = fake.next_packet(kLimit);
    client.join();

    EXPECT_EQ(result, -1);
    ASSERT_TRUE(close_request);
    EXPECT_EQ(close_request->bytes, (Bytes{4, 3, 0, 2}));
    EXPECT_TRUE(fake.client_closed(kLimit));
}

TEST_F(HostConnectionTest, WithoutVersionRecordAsksNothingAndDoesNotWait) {
    // Returns before the host side has even accepted, so it cannot have waited for an answer.
    ASSERT_EQ(conn.connect_host("127.0.0.1", fake.port(), "t", "", nullptr, '!', 0, 0, 0), 0);
    ASSERT_TRUE(fake.accept(kLimit));
    const auto isi = fake.next_packet(kLimit);
    ASSERT_TRUE(isi);
    ASSERT_EQ(isi->bytes.size(), 44u);
    EXPECT_EQ(insim::record_from<insim::IS_ISI>(isi->bytes).ReqI, 0);
}

TEST(HostConnectionRefused, ReportsCannotConnect) {
    std::uint16_t port = 0;
    {
        FakeHost gone;
        ASSERT_TRUE(gone.listen());
        port = gone.port();
    }
    insim::HostConnection conn;
    testing::internal::CaptureStderr();
    const int result = conn.connect_host("127.0.0.1", port, "t", "", nullptr, '!', 0, 0, 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(err, "(HostConnection)Critical: Cannot connect\n");

    // Below it, the platform tells the refusal apart, for the doctor to name it.
    platform::Platform& os = platform::os();
    ASSERT_EQ(os.socket_layer_start(), 0);
    std::uint32_t address = 0;
    ASSERT_TRUE(os.lookup_ipv4("127.0.0.1", &address));
    const platform::SocketHandle s = os.open_tcp_socket();
    ASSERT_NE(s, platform::kNoSocket);
    EXPECT_EQ(os.connect_ipv4_within(s, address, port, 5000), -3);
    os.close_socket(s);
    os.socket_layer_stop();
}

// True once a send fails; the first sends after a peer's close may still be accepted locally.
bool send_until_refused(insim::HostConnection& conn) {
    insim::IS_TINY tiny{4, insim::ISP_TINY, 0, 0};
    for (int i = 0; i < 100; ++i) {
        if (conn.send_packet(&tiny) < 0) return true;
        platform::os().sleep_ms(1);
    }
    return false;
}

struct TextSizeCase {
    std::uint8_t type;
    std::size_t text_length;
    int result;
    std::uint8_t size;  // Size on the wire; 0 when nothing may be sent
};

TEST_F(HostConnectionTest, SendSetsSizeFromTextOrRefuses) {
    connect();
    const TextSizeCase cases[] = {
        {insim::ISP_BTN, 0, 0, 12},    {insim::ISP_BTN, 1, 0, 16},    {insim::ISP_BTN, 4, 0, 16},
        {insim::ISP_BTN, 5, 0, 20},    {insim::ISP_BTN, 239, 0, 252}, {insim::ISP_BTN, 240, 0, 252},
        {insim::ISP_MTC, 0, 0, 12},    {insim::ISP_MTC, 3, 0, 12},    {insim::ISP_MTC, 4, 0, 16},
        {insim::ISP_MTC, 127, 0, 136}, {insim::ISP_MTC, 128, -1, 0},
    };
    for (const TextSizeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << int{c.type} << ", text " << c.text_length);
        std::uint8_t record[252] = {};
        std::size_t text_at = offsetof(insim::IS_BTN, Text);
        if (c.type == insim::ISP_BTN) {
            const insim::IS_BTN b = insim::make_button(3, insim::ISB_DARK, 1, 2, 3, 4);
            std::memcpy(record, &b, sizeof b);
        } else {
            insim::IS_MTC m{};
            m.Size = sizeof m;
            m.Type = insim::ISP_MTC;
            m.UCID = insim::UCID_ALL;
            std::memcpy(record, &m, sizeof m);
            text_at = offsetof(insim::IS_MTC, Text);
        }
        std::memset(record + text_at, 'x', c.text_length);
        const Bytes head(record, record + text_at);

        ASSERT_EQ(conn.send_packet(record), c.result);
        // A marker behind each case shows that a refused record sent nothing.
        insim::IS_TINY marker{4, insim::ISP_TINY, 0, 9};
        ASSERT_EQ(conn.send_packet(&marker), 0);

        if (c.size != 0) {
            const auto p = fake.next_packet(kLimit);
            ASSERT_TRUE(p);
            ASSERT_EQ(p->bytes.size(), c.size);
            EXPECT_EQ(Bytes(p->bytes.begin() + 1, p->bytes.begin() + text_at),
                      Bytes(head.begin() + 1, head.end()));
            Bytes text(c.size - text_at, 0);
            std::fill_n(text.begin(), c.text_length, std::uint8_t{'x'});
            EXPECT_EQ(Bytes(p->bytes.begin() + text_at, p->bytes.end()), text);
        }
        const auto after = fake.next_packet(kLimit);
        ASSERT_TRUE(after);
        EXPECT_EQ(after->bytes, (Bytes{4, 3, 0, 9}));
    }
}

TEST_F(HostConnectionTest, SendAfterHostClosedFailsWithoutSignal) {
    connect();
    fake.close();
    // A child process takes the risk: SIGPIPE would end it, not the test run.
    EXPECT_EXIT(std::exit(send_until_refused(conn) ? 0 : 1), testing::ExitedWithCode(0), "");
}

}  // namespace

#ifndef _WIN32
namespace {

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

TEST_F(HostConnectionTest, UdpPacketsArriveOnTheSocketBoundToTheRequestedPort) {
    // The host sends its datagrams from the InSim port to the port the client asked for.
    const int host_udp = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in host_addr = loopback(fake.port());
    ASSERT_EQ(::bind(host_udp, reinterpret_cast<sockaddr*>(&host_addr), sizeof host_addr), 0);
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in probe_addr = loopback(0);
    socklen_t len = sizeof probe_addr;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&probe_addr), sizeof probe_addr), 0);
    ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&probe_addr), &len), 0);
    const std::uint16_t udp_port = ntohs(probe_addr.sin_port);
    ::close(probe);

    testing::internal::CaptureStdout();
    ASSERT_EQ(conn.connect_host("127.0.0.1", fake.port(), "test", "", nullptr, '!', 0, 0, udp_port),
              0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Trying to use UDP\n");
    ASSERT_TRUE(fake.accept(kLimit));
    const auto isi = fake.next_packet(kLimit);
    ASSERT_TRUE(isi);
    EXPECT_EQ(insim::record_from<insim::IS_ISI>(isi->bytes).UDPPort.get(), udp_port);

    const std::uint8_t datagram[] = {8, insim::ISP_MCI, 0, 1, 9, 9, 9, 9};
    const sockaddr_in client = loopback(udp_port);
    ASSERT_EQ(::sendto(host_udp, datagram, sizeof datagram, 0,
                       reinterpret_cast<const sockaddr*>(&client), sizeof client),
              static_cast<ssize_t>(sizeof datagram));
    ASSERT_EQ(conn.receive_udp_packet(), 0);
    EXPECT_EQ(conn.udp_packet_type(), insim::ISP_MCI);
    EXPECT_EQ(std::memcmp(conn.udp_packet_data(), datagram, sizeof datagram), 0);

    // Packets still go out over TCP.
    insim::IS_TINY tiny{4, insim::ISP_TINY, 0, 7};
    ASSERT_EQ(conn.send_packet(&tiny), 0);
    const auto sent = fake.next_packet(kLimit);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->bytes, (Bytes{4, 3, 0, 7}));
    ::close(host_udp);
}
}  // namespace
#endif
