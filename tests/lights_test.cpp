#include "lights/start_lights.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "insim/host_connection.h"
#include "insim/platform.h"
#include "insim/records.h"
#include "tests/support/wire.h"
#include "tools/host_side/fake_host.h"
#include "tools/host_side/scripted_platform.h"

namespace {

// The machine these tests run on: one for the whole program, reset by each test.
hostside::ScriptedPlatform host;

using hostside::Bytes;

constexpr std::uint8_t kWaitMarker = 200;
// Stands for a sleep among the records sent.
const Bytes kWait{4, insim::ISP_TINY, 0, kWaitMarker};

std::vector<unsigned long> sleeps;
std::vector<std::size_t> sleep_positions;  // sends made before each sleep

// The light sleeps through its connection's platform: this one notes each sleep and where it came
// among the sends, and leaves everything else to the scripted host.
class SleepRecorder final : public platform::PlatformWrapper {
  public:
    SleepRecorder() noexcept : PlatformWrapper(host) {}
    void sleep_ms(unsigned long milliseconds) override {
        sleeps.push_back(milliseconds);
        sleep_positions.push_back(host.sends_since(0).size());
        host.sleep_ms(milliseconds);
    }
};
SleepRecorder net;

Bytes lamp(std::uint8_t click_id, std::uint8_t top, std::string_view text) {
    return testsupport::button_bytes(16, click_id, 0, 164, top, 38, 38, text);
}

class StartLightTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host.reset();
        sleeps.clear();
        sleep_positions.clear();
        lights::set_random_state(1);
    }
    void TearDown() override { host.reset(); }
};

TEST_F(StartLightTest, DrawsCountsDownAndDeletesWithTheWaitsInPlace) {
    insim::HostConnection conn{net};
    ASSERT_EQ(conn.connect_host("127.0.0.1", 29999, "t", "", nullptr, '!', 32, 1000, 0), 0);
    const std::size_t before = host.sends_since(0).size();  // IS_ISI

    EXPECT_EQ(lights::run_start_lights(conn), 0);

    // The records sent, with kWait where each sleep came.
    const std::vector<Bytes> sends = host.sends_since(0);
    std::vector<Bytes> got;
    std::size_t next_sleep = 0;
    for (std::size_t i = before; i <= sends.size(); ++i) {
        while (next_sleep < sleep_positions.size() && sleep_positions[next_sleep] == i) {
            got.push_back(kWait);
            ++next_sleep;
        }
        if (i < sends.size()) got.push_back(sends[i]);
    }

    const std::string_view unlit = "^0\x95", red = "^1\x95", green = "^2\x95", yellow = "^3\x95";
    const std::vector<Bytes> housing{
        testsupport::button_bytes(24, 2, insim::ISB_LIGHT, 178, 120, 10, 5,
                                  "^3\x95 \x95 \x95 ^2\x95"),
        testsupport::button_bytes(12, 3, insim::ISB_LIGHT, 178, 55, 10, 65, ""),
        testsupport::button_bytes(12, 4, insim::ISB_LIGHT, 178, 55, 10, 65, ""),
        testsupport::button_bytes(12, 5, insim::ISB_DARK, 179, 56, 8, 63, ""),
        testsupport::button_bytes(12, 6, insim::ISB_DARK, 179, 56, 8, 63, ""),
    };
    std::vector<Bytes> want = housing;
    for (const Bytes& b :
         {lamp(7, 45, unlit), lamp(8, 59, unlit), lamp(9, 73, unlit), lamp(10, 90, red)})
        want.push_back(b);
    want.insert(want.end(), housing.begin(), housing.end());
    for (const Bytes& b : {kWait, lamp(7, 45, yellow), kWait, lamp(8, 59, yellow), kWait,
                           lamp(9, 73, yellow), kWait, lamp(10, 90, green), kWait})
        want.push_back(b);
    for (std::uint8_t id = 2; id <= 10; ++id) want.push_back(Bytes{8, 42, 1, 0, 255, id, 0, 0});

    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "packet " << i;
    EXPECT_EQ(sleeps, (std::vector<unsigned long>{7000, 1000, 1000, 3342, 5000}));
    // The light slept on its connection's platform, whose clock took every pause.
    EXPECT_EQ(host.elapsed_ms(), 17342u);
}

TEST_F(StartLightTest, RandomPauseRepeatsFromRunToRunAndFailedSendsChangeNothing) {
    insim::HostConnection unconnected{net};  // every send fails
    for (int run = 0; run < 3; ++run) EXPECT_EQ(lights::run_start_lights(unconnected), 0);
    EXPECT_EQ(sleeps, (std::vector<unsigned long>{7000, 1000, 1000, 3342, 5000,  //
                                                  7000, 1000, 1000, 4768, 5000,  //
                                                  7000, 1000, 1000, 4535, 5000}));
}

TEST(RandomBetween, EveryDrawMapsIntoOneTo1700WithTheRemainderBias) {
    constexpr std::uint32_t kMul = 214013u, kAdd = 2531011u;
    // Inverse of the odd multiplier modulo 2^32: Newton's step doubles the correct low bits.
    std::uint32_t inverse = kMul;
    for (int i = 0; i < 5; ++i) inverse *= 2u - kMul * inverse;
    ASSERT_EQ(kMul * inverse, 1u);

    std::vector<int> tally(1701, 0);
    int outside = 0;
    std::vector<std::uint32_t> wrong_draws;
    for (std::uint32_t r = 0; r < 32768; ++r) {
        // A state whose next step holds r in bits 16..30; the ignored bits vary with r.
        const std::uint32_t next = (r << 16) | (r % 2 == 1 ? 0x8000FFFFu : 0u);
        const std::uint32_t state = (next - kAdd) * inverse;
        lights::set_random_state(state);
        if (lights::random_between(0, 32767) != static_cast<int>(r)) wrong_draws.push_back(r);
        lights::set_random_state(state);
        const int v = lights::random_between(1, 1700);
        if (v < 1 || v > 1700) {
            ++outside;
        } else {
            ++tally[static_cast<std::size_t>(v)];
        }
    }
    EXPECT_TRUE(wrong_draws.empty())
        << wrong_draws.size() << " draws differ, first r " << wrong_draws.front();
    EXPECT_EQ(outside, 0);

    std::vector<int> uneven;
    for (int v = 1; v <= 1700; ++v) {
        if (tally[static_cast<std::size_t>(v)] != (v <= 468 ? 20 : 19)) uneven.push_back(v);
    }
    EXPECT_TRUE(uneven.empty()) << uneven.size() << " results drawn wrongly often, first "
                                << uneven.front();
    EXPECT_GT(tally[1], 0);
    EXPECT_GT(tally[1700], 0);
}

}  // namespace
