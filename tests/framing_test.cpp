#include "insim/framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using insim::StreamFramer;
using State = StreamFramer::State;
using Bytes = std::vector<std::uint8_t>;

// A packet whose every byte after Size is `fill`, so a mix-up of packets shows in the bytes.
Bytes packet(std::uint8_t size, std::uint8_t fill) {
    Bytes b(size, fill);
    b[0] = size;
    return b;
}

void feed(StreamFramer& f, const std::uint8_t* data, std::size_t n) {
    ASSERT_LE(n, f.write_room());
    std::memcpy(f.write_position(), data, n);
    f.commit(n);
}
void feed(StreamFramer& f, const Bytes& b) {
    feed(f, b.data(), b.size());
}

Bytes front(const StreamFramer& f) {
    return Bytes(f.front(), f.front() + f.front_size());
}

TEST(Framing, WholePacketIsReadyThenDropped) {
    StreamFramer f;
    f.drop_front();  // the first receive drops from an empty buffer
    EXPECT_EQ(f.state(), State::kNeedBytes);
    const Bytes p = packet(8, 11);
    feed(f, p);
    ASSERT_EQ(f.state(), State::kPacketReady);
    EXPECT_EQ(front(f), p);
    f.drop_front();
    EXPECT_EQ(f.state(), State::kNeedBytes);
    EXPECT_EQ(f.buffered(), 0u);
}

TEST(Framing, SplitPacketIsReadyOnlyWithItsLastByte) {
    const Bytes p = packet(136, 11);
    for (std::size_t split = 1; split < p.size(); ++split) {
        StreamFramer f;
        feed(f, p.data(), split);
        EXPECT_EQ(f.state(), State::kNeedBytes) << "split at " << split;
        feed(f, p.data() + split, p.size() - split);
        ASSERT_EQ(f.state(), State::kPacketReady) << "split at " << split;
        EXPECT_EQ(front(f), p);
    }
}

TEST(Framing, GluedPacketsComeOutInOrder) {
    const std::vector<Bytes> packets{packet(4, 3), packet(20, 2), packet(136, 11), packet(56, 18)};
    Bytes stream;
    for (const Bytes& p : packets) stream.insert(stream.end(), p.begin(), p.end());
    // The last packet is cut short: its rest arrives later.
    StreamFramer f;
    feed(f, stream.data(), stream.size() - 30);
    for (std::size_t i = 0; i + 1 < packets.size(); ++i) {
        ASSERT_EQ(f.state(), State::kPacketReady) << "packet " << i;
        EXPECT_EQ(front(f), packets[i]);
        f.drop_front();
    }
    EXPECT_EQ(f.state(), State::kNeedBytes);
    feed(f, stream.data() + stream.size() - 30, 30);
    ASSERT_EQ(f.state(), State::kPacketReady);
    EXPECT_EQ(front(f), packets.back());
}

TEST(Framing, FullBufferIsCompactedToMakeRoomForTheRest) {
    StreamFramer f;
    for (int i = 0; i < 5; ++i) feed(f, packet(100, static_cast<std::uint8_t>(i + 1)));
    const Bytes tail = packet(200, 77);
    feed(f, tail.data(), 12);
    ASSERT_EQ(f.write_room(), 0u);

    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(f.state(), State::kPacketReady);
        EXPECT_EQ(front(f), packet(100, static_cast<std::uint8_t>(i + 1)));
        f.drop_front();
    }
    EXPECT_EQ(f.state(), State::kNeedBytes);
    EXPECT_EQ(f.buffered(), 12u);
    EXPECT_EQ(f.write_room(), StreamFramer::kCapacity - 12);
    feed(f, tail.data() + 12, tail.size() - 12);
    ASSERT_EQ(f.state(), State::kPacketReady);
    EXPECT_EQ(front(f), tail);
}

TEST(Framing, RoomLeftByADroppedPacketAtTheBuffersEndCanBeFilledWhole) {
    for (const std::uint8_t first : {1, 2, 3, 4, 5, 200}) {
        SCOPED_TRACE(testing::Message() << "first packet of " << int{first} << " bytes");
        // The first packet, whole ones behind it, then the start of one that the room completes.
        const Bytes last = packet(static_cast<std::uint8_t>(12 + first), 0);
        std::vector<Bytes> whole;
        std::size_t filled = first + 8;
        while (filled < StreamFramer::kCapacity) {
            const std::size_t n = std::min<std::size_t>(StreamFramer::kCapacity - filled, 255);
            whole.push_back(packet(static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n)));
            filled += n;
        }
        StreamFramer f;
        feed(f, packet(first, 9));
        for (const Bytes& p : whole) feed(f, p);
        feed(f, last.data(), 8);
        ASSERT_EQ(f.write_room(), 0u);

        f.drop_front();
        ASSERT_EQ(f.write_room(), first);
        feed(f, last.data() + 8, first);
        for (const Bytes& p : whole) {
            ASSERT_EQ(f.state(), State::kPacketReady);
            EXPECT_EQ(front(f), p);
            f.drop_front();
        }
        EXPECT_EQ(f.state(), State::kNeedBytes);
        feed(f, last.data() + 8 + first, 4);
        ASSERT_EQ(f.state(), State::kPacketReady);
        EXPECT_EQ(front(f), last);
    }
}

TEST(Framing, ZeroSizeIsReportedAndNeverSkipped) {
    StreamFramer alone;
    feed(alone, Bytes{0, 3, 0, 0});
    EXPECT_EQ(alone.state(), State::kZeroSize);
    alone.drop_front();
    EXPECT_EQ(alone.state(), State::kZeroSize);

    StreamFramer behind;
    feed(behind, packet(4, 3));
    feed(behind, Bytes{0});
    ASSERT_EQ(behind.state(), State::kPacketReady);
    behind.drop_front();
    EXPECT_EQ(behind.state(), State::kZeroSize);
}

TEST(Framing, ShortPacketAfterLongOneTakesItsOwnSize) {
    StreamFramer f;
    feed(f, packet(136, 11));
    f.drop_front();
    // Only the new Size byte has arrived; the long packet's bytes must not complete it.
    const Bytes p = packet(20, 2);
    feed(f, p.data(), 1);
    EXPECT_EQ(f.state(), State::kNeedBytes);
    feed(f, p.data() + 1, p.size() - 1);
    ASSERT_EQ(f.state(), State::kPacketReady);
    EXPECT_EQ(front(f), p);
}

}  // namespace
