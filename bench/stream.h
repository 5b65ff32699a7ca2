// The byte streams the host side pushes: the mixed flood and streams of one kind of packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace bench {

enum class Kind { kMultiCar, kChat, kKeepAlive, kFacebook, kJoin, kOtherCommand };

struct Stream {
    std::vector<std::uint8_t> bytes;
    // The host sends the stream in pieces; each keep-alive is timed from the end of its piece.
    std::vector<std::size_t> piece_ends;
    std::vector<std::uint32_t> keepalives_per_piece;
    std::size_t packets = 0;
    std::size_t count[6] = {};

    std::size_t of(Kind k) const { return count[static_cast<int>(k)]; }
};

// Mostly 244-byte multi-car packets, 1% chat lines that are not commands, one keep-alive in
// 1,000 (each closing a piece), one "!fb" and one join in 10,000, and "!web", "!r1", "!r0" and
// "!luz" once each. Ends with a keep-alive, whose reply shows that everything was handled.
Stream mixed_flood(std::size_t packets);

// `packets` packets of one kind followed by a single keep-alive.
Stream uniform_stream(Kind kind, std::size_t packets);

std::optional<Kind> kind_from_name(std::string_view name);

// Walks the whole packets at the front of `data` by their Size byte and returns how many bytes
// they take; `packets` and `type_sum` accumulate. Nothing on a zero Size: the caller stops.
std::size_t split_by_size(const std::uint8_t* data, std::size_t length, std::size_t& packets,
                          std::uint64_t& type_sum);

}  // namespace bench
