// An arbitrary byte stream from the host, written in arbitrary pieces, through the real
// connection on loopback. Input: byte 0 picks the chunking, byte 1 its parameter, the rest is
// the stream. The harness only calls receive_packet when the stream written so far decides
// the result, and ends the stream by shutting its write side, so no call waits on a time-out.
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "insim/host_connection.h"
#include "insim/platform.h"
#include "loopback.h"

namespace {

[[noreturn]] void fail(const char* what, std::size_t at) {
    (void)std::fprintf(stderr, "fuzz_receive: %s (stream offset %zu)\n", what, at);
    std::abort();
}

struct Listener {
    platform::SocketHandle socket = platform::kNoSocket;
    std::uint16_t port = 0;
};

const Listener& listener() {
    static const Listener l = [] {
        Listener made;
        made.socket = platform::listen_loopback(0, &made.port);
        if (made.socket == platform::kNoSocket) fail("cannot listen", 0);
        return made;
    }();
    return l;
}

// Chunk lengths: 0 all at once, 1 byte by byte, 2 split at one point, 3 fixed-size pieces.
std::vector<std::size_t> chunking(std::uint8_t mode, std::uint8_t parameter, std::size_t length) {
    std::vector<std::size_t> pieces;
    std::size_t piece = length;
    switch (mode % 4) {
        case 1:
            piece = 1;
            break;
        case 2: {
            const std::size_t split = length * parameter / 255;
            if (split > 0) pieces.push_back(split);
            if (length > split) pieces.push_back(length - split);
            return pieces;
        }
        case 3:
            piece = std::size_t{parameter} + 1;
            break;
        default:
            break;
    }
    for (std::size_t done = 0; done < length; done += piece)
        pieces.push_back(std::min(piece, length - done));
    return pieces;
}

// What the framing must do with the stream: every packet is the next Size bytes; keep-alives
// (Size >= 4, Type 3, SubT 0) are answered and skipped; a Size of 0 is an error.
class Model {
  public:
    explicit Model(const std::uint8_t* stream) : s_(stream) {}

    // Whether the bytes written so far decide the next receive_packet result.
    bool decided(std::size_t written) const {
        std::size_t p = pos_;
        while (keep_alive_at(p, written)) p += s_[p];
        return p < written && (s_[p] == 0 || p + s_[p] <= written);
    }

    // Checks one receive_packet result against the stream; false when the connection has ended.
    bool check(HostConnection& c, int result, std::size_t written, bool ended,
               std::size_t& keep_alives) {
        keep_alives = 0;
        while (keep_alive_at(pos_, written)) {
            pos_ += s_[pos_];
            ++keep_alives;
        }
        if (pos_ < written && s_[pos_] == 0) {
            if (result != -1) fail("a Size of 0 did not end with -1", pos_);
            return false;
        }
        if (pos_ < written && pos_ + s_[pos_] <= written) {
            if (result != 0) fail("a whole packet was not delivered", pos_);
            check_packet(c);
            pos_ += s_[pos_];
            return true;
        }
        if (!ended) fail("receive_packet returned before the stream decided it", pos_);
        if (result != -2) fail("the end of the stream did not give -2", pos_);
        return false;
    }

  private:
    bool keep_alive_at(std::size_t p, std::size_t written) const {
        return p < written && s_[p] >= 4 && p + s_[p] <= written && s_[p + 1] == 3 &&
               s_[p + 3] == 0;
    }

    void check_packet(const HostConnection& c) const {
        const std::size_t size = s_[pos_];
        if (c.packet_size() != size) fail("delivered size differs from the Size byte", pos_);
        const std::uint8_t* data = c.packet_data();
        const bool typed = size >= 2 && s_[pos_ + 1] != 0;
        if (typed && data == nullptr) fail("no data for a typed packet", pos_);
        if (typed && c.packet_type() != static_cast<std::int8_t>(s_[pos_ + 1]))
            fail("delivered type differs from the Type byte", pos_);
        if (data == nullptr) return;
        for (std::size_t i = 0; i < size; ++i)
            if (data[i] != s_[pos_ + i]) fail("delivered bytes differ from the stream", pos_ + i);
    }

    const std::uint8_t* s_;
    std::size_t pos_ = 0;
};

// Every keep-alive answer is 4, 3, 0, 0 and nothing else is sent while receiving.
void check_answers(HostConnection& connection, platform::SocketHandle host,
                   std::size_t keep_alives) {
    const fuzzhost::Bytes sent = fuzzhost::sent_before_marker(connection, host);
    if (sent.size() != keep_alives * 4) fail("keep-alive answers missing or extra bytes sent", 0);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        static constexpr std::uint8_t kAnswer[4] = {4, 3, 0, 0};
        if (sent[i] != kAnswer[i % 4]) fail("keep-alive answer is not 4,3,0,0", i);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > 65536) return -1;
    const std::uint8_t* stream = data + 2;
    const std::size_t length = size - 2;

    auto connection = std::make_unique<HostConnection>();
    const fuzzhost::Ends ends = fuzzhost::connect(*connection, listener().socket, listener().port);
    const platform::SocketHandle host = ends.host;

    Model model(stream);
    std::size_t written = 0;
    std::size_t keep_alives = 0;
    bool open = true;
    for (const std::size_t piece : chunking(data[0], data[1], length)) {
        fuzzhost::write_all(host, stream + written, piece);
        written += piece;
        while (open && model.decided(written)) {
            const int result = connection->receive_packet();
            open = model.check(*connection, result, written, false, keep_alives);
            check_answers(*connection, host, keep_alives);
        }
        if (!open) break;
    }
    ::shutdown(host, SHUT_WR);
    while (open) {
        const int result = connection->receive_packet();
        open = model.check(*connection, result, written, true, keep_alives);
        check_answers(*connection, host, keep_alives);
    }

    fuzzhost::tear_down(ends);
    return 0;
}
