#include "tools/host_side/fake_host.h"

#include "tools/host_side/handshake.h"
#include "tools/host_side/listen.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace hostside {

ClientLink::~ClientLink() {
    platform::os().close_socket(socket_);
}

void ClientLink::adopt(platform::SocketHandle socket) {
    platform::os().close_socket(socket_);
    socket_ = socket;
    pending_.clear();
    gone_ = false;
}

bool ClientLink::send_raw(const void* data, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (length > 0) {
        const long n = platform::os().send_bytes(socket_, p, length);
        if (n <= 0) return false;
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

long ClientLink::send_waiting(const std::uint8_t* data, std::size_t length) {
    return hostside::send_waiting(socket_, data, length);
}

bool ClientLink::fill(Clock::time_point deadline) {
    if (gone_ || socket_ == platform::kNoSocket) return false;
    const auto now = Clock::now();
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        std::max(deadline - now, Clock::duration::zero()));
    const auto r = platform::os().wait_readable(socket_, static_cast<long>(left.count() / 1000000),
                                                static_cast<long>(left.count() % 1000000));
    if (r != platform::WaitResult::kReadable) {
        if (r == platform::WaitResult::kException || r == platform::WaitResult::kFailed)
            gone_ = failed_ = true;
        return false;
    }
    std::uint8_t chunk[4096];
    const long n = platform::os().receive_bytes(socket_, chunk, sizeof chunk);
    if (n <= 0) {
        gone_ = true;
        failed_ = n < 0;
        return false;
    }
    pending_.insert(pending_.end(), chunk, chunk + n);
    return true;
}

bool ClientLink::has_whole_packet() const {
    return !pending_.empty() && pending_.size() >= std::max<std::size_t>(1, pending_[0]);
}

std::optional<ReceivedPacket> ClientLink::next_packet(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (has_whole_packet()) {
            const std::size_t size = pending_[0] == 0 ? 1 : pending_[0];
            const auto end = pending_.begin() + static_cast<std::ptrdiff_t>(size);
            ReceivedPacket p{Bytes(pending_.begin(), end), Clock::now()};
            pending_.erase(pending_.begin(), end);
            return p;
        }
        // At least one read, even past the deadline: a packet half read must complete.
        if (!fill(deadline) && (Clock::now() >= deadline || gone_)) return std::nullopt;
    }
}

bool ClientLink::wait_closed(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!gone_ && Clock::now() < deadline) {
        if (!fill(deadline) && gone_) break;
    }
    return gone_;
}

void ClientLink::close() {
    platform::os().close_socket(socket_);
    socket_ = platform::kNoSocket;
}

void ClientLink::reset() {
    set_reset_on_close(socket_);
    close();
}

FakeHost::~FakeHost() {
    platform::os().close_socket(listener_);
}

bool FakeHost::listen(std::uint16_t port) {
    listener_ = listen_loopback(port, &port_);
    return listener_ != platform::kNoSocket;
}

bool FakeHost::accept(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        const auto r =
            platform::os().wait_readable(listener_, static_cast<long>(left.count() / 1000000),
                                         static_cast<long>(left.count() % 1000000));
        if (r == platform::WaitResult::kReadable) {
            const platform::SocketHandle client = accept_client(listener_);
            if (client == platform::kNoSocket) return false;
            platform::os().set_no_delay(client);
            link_.adopt(client);
            return true;
        }
        if (r == platform::WaitResult::kFailed) return false;
    }
    return false;
}

std::optional<ReceivedPacket> FakeHost::next_packet(std::chrono::milliseconds timeout) {
    auto p = link_.next_packet(timeout);
    if (p) received_.push_back(*p);
    return p;
}

std::optional<ReceivedPacket> FakeHost::next_packet_of_type(std::uint8_t type,
                                                            std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        auto p = next_packet(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        if (!p) return std::nullopt;
        if (p->type() == type) return p;
    }
    return std::nullopt;
}

std::optional<insim::IS_ISI> FakeHost::handshake(std::string_view version,
                                                 std::uint16_t insim_version,
                                                 std::chrono::milliseconds timeout) {
    const auto p = next_packet(timeout);
    if (!p) return std::nullopt;
    const Handshake h = answer_handshake(p->bytes, {version, insim_version, {}});
    if (h.outcome != Handshake::Outcome::accepted) return std::nullopt;
    if (!h.answer.empty() && !send_raw(h.answer)) return std::nullopt;
    return h.isi;
}

bool FakeHost::client_closed(std::chrono::milliseconds timeout) {
    const bool gone = link_.wait_closed(timeout);
    // Whole packets that came before the close are still recorded.
    while (link_.has_whole_packet()) next_packet(std::chrono::milliseconds(0));
    return gone;
}

namespace {

template <class R>
Bytes bytes_of(const R& record, std::size_t size = sizeof(R)) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&record);
    return Bytes(b, b + size);
}

}  // namespace

Bytes version_packet(std::string_view version, std::uint16_t insim_version, std::uint8_t reqi) {
    insim::IS_VER v{};
    v.Size = sizeof v;
    v.Type = insim::ISP_VER;
    v.ReqI = reqi;
    std::memcpy(v.Version, version.data(), std::min(version.size(), sizeof v.Version));
    std::memcpy(v.Product, "S3", 2);
    v.InSimVer.set(insim_version);
    return bytes_of(v);
}

Bytes tiny_packet(std::uint8_t subtype, std::uint8_t reqi) {
    insim::IS_TINY t = insim::make_tiny(subtype);
    t.ReqI = reqi;
    return bytes_of(t);
}

Bytes mso_packet(std::uint8_t text_start, std::string_view text) {
    insim::IS_MSO m{};
    const std::size_t msg = std::min(text.size(), sizeof m.Msg - 1);
    // The text, its zero, padded to 4.
    const std::size_t size = offsetof(insim::IS_MSO, Msg) + (msg + 4) / 4 * 4;
    m.Size = static_cast<std::uint8_t>(size);
    m.Type = insim::ISP_MSO;
    m.UCID = 1;
    m.UserType = 1;  // user message
    m.TextStart = text_start;
    std::memcpy(m.Msg, text.data(), msg);
    return bytes_of(m, size);
}

Bytes say_packet(std::string_view name, std::string_view text) {
    std::string msg(name);
    msg += " ^8";
    msg += text;
    return mso_packet(static_cast<std::uint8_t>(std::min<std::size_t>(name.size() + 1, 127)), msg);
}

Bytes ncn_packet(std::string_view player_name, std::uint8_t ucid) {
    insim::IS_NCN n{};
    n.Size = sizeof n;
    n.Type = insim::ISP_NCN;
    n.UCID = ucid;
    std::memcpy(n.UName, "player", 6);
    std::memcpy(n.PName, player_name.data(), std::min<std::size_t>(player_name.size(), 23));
    n.Total = 2;
    return bytes_of(n);
}

Bytes mci_packet(std::uint8_t cars) {
    // Only the header is read by anyone: the car records stay zero.
    constexpr std::size_t kCar = 28;
    insim::Header h{};
    h.Byte3 = std::min<std::uint8_t>(cars, 8);  // NumC
    const std::size_t size = sizeof h + kCar * h.Byte3;
    h.Size = static_cast<std::uint8_t>(size);
    h.Type = insim::ISP_MCI;
    Bytes b(size, 0);
    std::memcpy(b.data(), &h, sizeof h);
    return b;
}

std::string_view chat_text(const Bytes& mst) {
    constexpr std::size_t kMsg = offsetof(insim::IS_MST, Msg);
    if (mst.size() <= kMsg) return {};
    const std::string_view msg(reinterpret_cast<const char*>(mst.data()) + kMsg, mst.size() - kMsg);
    return msg.substr(0, msg.find('\0'));
}

std::string_view chat_text(const ReceivedPacket& mst) {
    return chat_text(mst.bytes);
}

}  // namespace hostside
