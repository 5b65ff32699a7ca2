// What a program run sees from its first moment: nothing here rewinds the random source, so this
// binary holds this one test and nothing else draws from it first.
#include <gtest/gtest.h>

#include <vector>

#include "app/config.h"
#include "app/handlers.h"
#include "insim/host_connection.h"
#include "tests/support/fault_platform.h"
#include "tools/host_side/fake_host.h"

namespace {

// The machine these tests run on: one for the whole program, reset by each test.
hostside::ScriptedPlatform host;
testsupport::FaultPlatform net{host};

TEST(FreshRun, FirstTwoStartLightsPauseForTheirOwnTimes) {
    net.reset();
    insim::HostConnection conn{net};
    ASSERT_EQ(conn.connect_host("127.0.0.1", 29999, "t", "", nullptr, '!', 32, 1000, 0), 0);
    const app::ConfigValues config{};
    for (int light = 0; light < 2; ++light) {
        host.add_bytes(hostside::say_packet("Alex", "!luz"));
        ASSERT_EQ(conn.receive_packet(), 0);
        app::handle_mso(conn, config);
    }
    // The random pause of the first light is 3.342 s, of the second 4.768 s.
    EXPECT_EQ(net.log().sleeps, (std::vector<unsigned long>{7000, 1000, 1000, 3342, 5000,  //
                                                            7000, 1000, 1000, 4768, 5000}));
}

}  // namespace
