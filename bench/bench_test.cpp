// The benchmark's own helpers: a wrong split or a wrong stream would make every figure wrong.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <vector>

#include "app/config.h"
#include "bench/child.h"
#include "bench/stats.h"
#include "bench/stream.h"
#include "insim/builders.h"
#include "insim/records.h"

namespace {

TEST(SplitBySize, TakesWholePacketsOnly) {
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::size_t used;
        std::size_t packets;
    } cases[] = {
        {"empty", {}, 0, 0},
        {"one whole", {4, 3, 0, 0}, 4, 1},
        {"two and a part", {4, 3, 0, 0, 2, 9, 8, 11}, 6, 2},
        {"only a part", {8, 11, 0, 0}, 0, 0},
        {"zero size first", {0, 3, 0, 0}, 0, 0},
        {"zero size after one", {2, 9, 0, 3}, 2, 1},
    };
    for (const auto& c : cases) {
        std::size_t packets = 0;
        std::uint64_t types = 0;
        EXPECT_EQ(bench::split_by_size(c.bytes.data(), c.bytes.size(), packets, types), c.used)
            << c.name;
        EXPECT_EQ(packets, c.packets) << c.name;
    }
}

TEST(Quantile, NearestRank) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i);
    const struct {
        std::vector<double> values;
        double q;
        double expected;
    } cases[] = {
        {{}, 0.5, 0},        {{7}, 0.99, 7},  {hundred, 0.5, 50},
        {hundred, 0.99, 99}, {hundred, 0, 1}, {hundred, 1, 100},
    };
    for (const auto& c : cases) EXPECT_EQ(bench::quantile(c.values, c.q), c.expected) << c.q;
}

// Splits a stream and counts its packets by type.
std::vector<std::size_t> types_in(const bench::Stream& s) {
    std::vector<std::size_t> by_type(256, 0);
    std::size_t pos = 0;
    while (pos < s.bytes.size()) {
        const auto head =
            insim::record_from<insim::Header>(s.bytes.data() + pos, s.bytes.size() - pos);
        const std::size_t size = head.Size;
        if (size == 0 || pos + size > s.bytes.size()) break;
        ++by_type[head.Type];
        pos += size;
    }
    EXPECT_EQ(pos, s.bytes.size());
    return by_type;
}

TEST(Streams, MixedFloodHoldsWhatItCounts) {
    const bench::Stream s = bench::mixed_flood(25000);
    const auto by_type = types_in(s);
    EXPECT_EQ(s.packets, 25000u);
    EXPECT_EQ(by_type[insim::ISP_MCI], s.of(bench::Kind::kMultiCar));
    EXPECT_EQ(by_type[insim::ISP_TINY], s.of(bench::Kind::kKeepAlive));
    EXPECT_EQ(by_type[insim::ISP_NCN], s.of(bench::Kind::kJoin));
    EXPECT_EQ(by_type[insim::ISP_MSO], s.of(bench::Kind::kChat) + s.of(bench::Kind::kFacebook) +
                                           s.of(bench::Kind::kOtherCommand));
    EXPECT_GT(s.of(bench::Kind::kMultiCar), s.packets * 9 / 10);
    EXPECT_EQ(insim::record_from<insim::Header>(s.bytes.data(), s.bytes.size()).Size, 244);

    // Every piece but the timing depends on it: each ends on a keep-alive, the last one too.
    ASSERT_FALSE(s.piece_ends.empty());
    EXPECT_EQ(s.piece_ends.back(), s.bytes.size());
    std::size_t keepalives = 0;
    for (std::size_t i = 0; i < s.piece_ends.size(); ++i) {
        const std::size_t end = s.piece_ends[i];
        ASSERT_GE(end, sizeof(insim::IS_TINY));
        const auto last = insim::record_from<insim::IS_TINY>(
            s.bytes.data() + end - sizeof(insim::IS_TINY), sizeof(insim::IS_TINY));
        EXPECT_EQ(last.Size, 4) << i;
        EXPECT_EQ(last.Type, insim::ISP_TINY) << i;
        keepalives += s.keepalives_per_piece[i];
    }
    EXPECT_EQ(keepalives, s.of(bench::Kind::kKeepAlive));
}

TEST(Streams, UniformStreamsEndOnOneKeepAlive) {
    const struct {
        bench::Kind kind;
        std::uint8_t type;
    } cases[] = {{bench::Kind::kMultiCar, insim::ISP_MCI},
                 {bench::Kind::kJoin, insim::ISP_NCN},
                 {bench::Kind::kFacebook, insim::ISP_MSO}};
    for (const auto& c : cases) {
        const bench::Stream s = bench::uniform_stream(c.kind, 120);
        const auto by_type = types_in(s);
        EXPECT_EQ(by_type[c.type], 120u);
        EXPECT_EQ(by_type[insim::ISP_TINY], 1u);
        EXPECT_EQ(s.packets, 121u);
    }
}

TEST(ConfigDirectory, TravoReadsTheHostAndPortBack) {
    std::string path;
    {
        testsupport::ConfigDir dir(bench::travo_config(29999));
        ASSERT_TRUE(dir.ok());
        path = dir.path();
        std::ifstream in(path + "/" + app::kConfigFileName, std::ios::binary);
        app::ConfigValues values{};
        app::read_config(in, values);
        EXPECT_STREQ(values.host, "127.0.0.1");
        EXPECT_EQ(app::port_from_text(values.port), 29999);
        EXPECT_STREQ(values.facebook_name, "travo.team");
        EXPECT_STREQ(values.panel_text_2, "^2B");
    }
    EXPECT_FALSE(std::ifstream(path + "/" + app::kConfigFileName).good());
}

}  // namespace
