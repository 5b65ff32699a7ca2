#include "bench/stream.h"

#include <cstring>

#include "tools/host_side/fake_host.h"

namespace bench {

namespace {

constexpr std::size_t kMultiCarSize = 244;
constexpr std::size_t kPieceEvery = 1000;

hostside::Bytes multi_car() {
    // The builder stops at 8 cars (228 bytes); the host's larger packets only add car records.
    hostside::Bytes b = hostside::mci_packet(8);
    b.resize(kMultiCarSize, 0);
    auto head = insim::record_from<insim::Header>(b);
    head.Size = static_cast<std::uint8_t>(kMultiCarSize);
    std::memcpy(b.data(), &head, sizeof head);
    return b;
}

struct Builder {
    Stream s;
    const hostside::Bytes mci = multi_car();
    const hostside::Bytes chat = hostside::say_packet("Driver", "good race everyone, see you");
    const hostside::Bytes keepalive = hostside::tiny_packet(0);
    const hostside::Bytes fb = hostside::say_packet("Driver", "!fb");
    const hostside::Bytes join = hostside::ncn_packet("Newcomer", 7);
    std::uint32_t keepalives_in_piece = 0;

    void add(Kind k, const hostside::Bytes& b) {
        s.bytes.insert(s.bytes.end(), b.begin(), b.end());
        ++s.packets;
        ++s.count[static_cast<int>(k)];
        if (k == Kind::kKeepAlive) ++keepalives_in_piece;
    }
    void add(Kind k) {
        switch (k) {
            case Kind::kMultiCar:
                return add(k, mci);
            case Kind::kChat:
                return add(k, chat);
            case Kind::kKeepAlive:
                return add(k, keepalive);
            case Kind::kFacebook:
                return add(k, fb);
            case Kind::kJoin:
                return add(k, join);
            case Kind::kOtherCommand:
                return add(k, hostside::say_packet("Driver", "!web"));
        }
    }
    void end_piece() {
        if (s.piece_ends.empty() ? s.bytes.empty() : s.piece_ends.back() == s.bytes.size()) return;
        s.piece_ends.push_back(s.bytes.size());
        s.keepalives_per_piece.push_back(keepalives_in_piece);
        keepalives_in_piece = 0;
    }
};

}  // namespace

Stream mixed_flood(std::size_t packets) {
    Builder b;
    b.s.bytes.reserve(packets * kMultiCarSize);
    const char* const once[] = {"!web", "!r1", "!r0", "!luz"};
    for (std::size_t i = 0; i < packets; ++i) {
        const bool last = i + 1 == packets;
        if (last || i % kPieceEvery == kPieceEvery - 1) {
            b.add(Kind::kKeepAlive);
            b.end_piece();
        } else if (i % 100 == 7) {
            b.add(Kind::kChat);
        } else if (i % 10000 == 3001) {
            b.add(Kind::kFacebook);
        } else if (i % 10000 == 6001) {
            b.add(Kind::kJoin);
        } else if (i % 100000 == 9001 && i / 100000 < 4) {
            b.add(Kind::kOtherCommand, hostside::say_packet("Driver", once[i / 100000]));
        } else {
            b.add(Kind::kMultiCar);
        }
    }
    return std::move(b.s);
}

Stream uniform_stream(Kind kind, std::size_t packets) {
    Builder b;
    for (std::size_t i = 0; i < packets; ++i) {
        b.add(kind);
        // Short pieces: a join brings back 18 packets, which must fit the host's buffers until
        // the host takes them in after its next piece.
        if (i % 50 == 49) b.end_piece();
    }
    b.add(Kind::kKeepAlive);
    b.end_piece();
    return std::move(b.s);
}

std::optional<Kind> kind_from_name(std::string_view name) {
    if (name == "ignored") return Kind::kMultiCar;
    if (name == "keepalive") return Kind::kKeepAlive;
    if (name == "fb") return Kind::kFacebook;
    if (name == "join") return Kind::kJoin;
    if (name == "chat") return Kind::kChat;
    return std::nullopt;
}

std::size_t split_by_size(const std::uint8_t* data, std::size_t length, std::size_t& packets,
                          std::uint64_t& type_sum) {
    std::size_t pos = 0;
    while (pos < length) {
        const std::size_t size = data[pos];
        if (size == 0 || length - pos < size) break;
        type_sum += size > 1 ? data[pos + 1] : 0;
        ++packets;
        pos += size;
    }
    return pos;
}

}  // namespace bench
