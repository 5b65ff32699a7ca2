// An arbitrary byte stream from the host, in arbitrary pieces, through the real connection over
// the scripted platform. Input: byte 0 picks the chunking (bits 0-1), a time-out before every
// piece (bit 2), a reset instead of a close at the end (bit 3) and a failed keep-alive answer
// (bit 4, the answer numbered by bits 5-6); byte 1 is the chunking's parameter; the rest is the
// stream.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "insim/host_connection.h"
#include "tests/support/fault_platform.h"

namespace {

using testsupport::Call;
using Event = hostside::ScriptedPlatform::Event;

// The machine these tests run on: one for the whole program, reset by each test.
hostside::ScriptedPlatform host;
testsupport::FaultPlatform net{host};

[[noreturn]] void fail(const char* what, std::size_t at) {
    (void)std::fprintf(stderr, "fuzz_receive: %s (stream offset %zu)\n", what, at);
    std::abort();
}

// Serves the stream in pieces: mode 0 all at once, 1 byte by byte, 2 split at one point, 3
// fixed-size pieces; each after a time-out when asked. Returns the number of pieces.
std::size_t add_stream(std::uint8_t mode, std::uint8_t parameter, const std::uint8_t* stream,
                       std::size_t length, bool time_outs) {
    const auto pieces = [](std::size_t n, std::size_t piece) { return (n + piece - 1) / piece; };
    std::size_t piece = length;
    switch (mode % 4) {
        case 1:
            piece = 1;
            break;
        case 2: {
            const std::size_t split = length * parameter / 255;
            host.add_bytes_in_pieces(stream, split, split, time_outs);
            host.add_bytes_in_pieces(stream + split, length - split, length - split, time_outs);
            return (split > 0 ? 1 : 0) + (length > split ? 1 : 0);
        }
        case 3:
            piece = std::size_t{parameter} + 1;
            break;
        default:
            break;
    }
    host.add_bytes_in_pieces(stream, length, piece, time_outs);
    return length == 0 ? 0 : pieces(length, piece);
}

// What the framing must do with the stream: every packet is the next Size bytes; keep-alives
// (Size >= 4, Type 3, SubT 0) are answered and skipped; a Size of 0 is an error; the end of the
// stream gives -2 after a close, -1 after a reset.
class Model {
  public:
    Model(const std::uint8_t* stream, std::size_t length, int end_result, int failing_answer)
        : s_(stream), n_(length), end_result_(end_result), failing_answer_(failing_answer) {}

    // Checks one receive_packet result; false when the connection has ended.
    bool check(const insim::HostConnection& c, int result, std::size_t& answers) {
        answers = 0;
        while (keep_alive_at(pos_)) {
            pos_ += s_[pos_];
            ++answered_;
            if (answered_ == failing_answer_) {
                if (result != -1) fail("a failed keep-alive answer did not give -1", pos_);
                return false;
            }
            ++answers;
        }
        if (pos_ < n_ && s_[pos_] == 0) {
            if (result != -1) fail("a Size of 0 did not end with -1", pos_);
            return false;
        }
        if (pos_ < n_ && pos_ + s_[pos_] <= n_) {
            if (result != 0) fail("a whole packet was not delivered", pos_);
            check_packet(c);
            pos_ += s_[pos_];
            return true;
        }
        if (result != end_result_) fail("the end of the stream did not give its result", pos_);
        return false;
    }

  private:
    bool keep_alive_at(std::size_t p) const {
        return p < n_ && s_[p] >= 4 && p + s_[p] <= n_ && s_[p + 1] == 3 && s_[p + 3] == 0;
    }

    void check_packet(const insim::HostConnection& c) const {
        const std::size_t size = s_[pos_];
        if (c.packet_size() != size) fail("delivered size differs from the Size byte", pos_);
        const std::uint8_t* data = c.packet_data();
        const bool typed = size >= 2 && s_[pos_ + 1] != 0;
        if (typed && data == nullptr) fail("no data for a typed packet", pos_);
        if (typed && c.packet_type() != static_cast<std::int8_t>(s_[pos_ + 1]))
            fail("delivered type differs from the Type byte", pos_);
        if (data != nullptr && std::memcmp(data, s_ + pos_, size) != 0)
            fail("delivered bytes differ from the stream", pos_);
    }

    const std::uint8_t* s_;
    std::size_t n_;
    int end_result_;
    int failing_answer_;  // 0: every answer goes out
    int answered_ = 0;
    std::size_t pos_ = 0;
};

// Every keep-alive answer is 4, 3, 0, 0, and nothing else is sent while receiving.
void check_answers(std::size_t& sent_at, std::size_t answers) {
    const insim::Bytes& sent = host.sent();
    if (sent.size() - sent_at != answers * 4) fail("keep-alive answers missing or extra", 0);
    static constexpr std::uint8_t kAnswer[4] = {4, 3, 0, 0};
    for (std::size_t i = sent_at; i < sent.size(); i += 4)
        if (std::memcmp(sent.data() + i, kAnswer, 4) != 0) fail("answer is not 4,3,0,0", i);
    sent_at = sent.size();
}

void end_of_script() {
    fail("a receive after the connection had ended", 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > 65536) return -1;
    const std::uint8_t mode = data[0];
    const std::uint8_t* stream = data + 2;
    const std::size_t length = size - 2;
    const bool time_outs = (mode & 4) != 0;
    const bool reset = (mode & 8) != 0;
    const int failing_answer = (mode & 16) != 0 ? ((mode >> 5) & 3) + 1 : 0;

    net.reset();
    insim::HostConnection connection{net};
    if (connection.connect_host("127.0.0.1", 29999, "fuzz", "", nullptr, '!', 0, 0, 0) != 0)
        fail("cannot connect", 0);
    std::size_t sent_at = host.sent().size();

    const std::size_t pieces = add_stream(mode, data[1], stream, length, time_outs);
    const std::size_t time_outs_added = time_outs ? pieces : 0;
    host.add_event(reset ? Event::reset : Event::close);
    if (failing_answer != 0) net.fail(Call::send, failing_answer);
    net.on_empty(end_of_script);

    Model model(stream, length, reset ? -1 : -2, failing_answer);
    for (;;) {
        std::size_t answers = 0;
        const bool open = model.check(connection, connection.receive_packet(), answers);
        check_answers(sent_at, answers);
        if (!open) break;
    }

    // Waiting happens only after a look that found nothing, and always for the full 5 s.
    const testsupport::CallLog& r = net.log();
    if (r.waits.size() != static_cast<std::size_t>(r.empty_receives))
        fail("a wait without a look first, or a look without a wait", 0);
    if (r.waits.size() > time_outs_added) fail("more waits than time-outs", 0);
    for (const testsupport::Wait& w : r.waits)
        if (w.seconds != 5 || w.microseconds != 0) fail("a wait shorter than 5 s", 0);
    return 0;
}
