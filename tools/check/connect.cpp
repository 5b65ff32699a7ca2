#include "tools/check/connect.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "app/startup.h"
#include "insim/builders.h"
#include "insim/framing.h"
#include "insim/platform.h"
#include "insim/records.h"
#include "tools/check/checker.h"

namespace travo_check {
namespace {

using Clock = std::chrono::steady_clock;
using Outcome = ConnectReport::Outcome;

// The limit as given, to the millisecond: "10 s", "2.5 s", "0.125 s".
std::string seconds_text(std::chrono::milliseconds limit) {
    const auto ms = limit.count();
    std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    return std::to_string(ms / 1000) + (fraction.empty() ? "" : "." + fraction) + " s";
}

struct SocketLayer {
    bool started = platform::socket_layer_start() == 0;
    ~SocketLayer() { platform::socket_layer_stop(); }
};

// The doctor's one connection under its one deadline: every wait and every send gives up when
// the limit has passed.
class Session {
  public:
    Session(const ConfigValues& values, std::chrono::milliseconds limit)
        : limit_(limit),
          deadline_(Clock::now() + limit),
          where_(printable(values.host) + ":" + std::to_string(port_from_text(values.port))),
          during_(where_ + " accepted the connection, then ") {}

    ~Session() {
        if (socket_ != platform::kNoSocket) platform::close_socket(socket_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    ConnectReport run(const ConfigValues& values);

  private:
    enum class Sent { ok, late, failed };

    long left_ms() const {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        return left > 0 ? static_cast<long>(left) : 0L;
    }
    static ConnectReport report(Outcome o, const std::string& text) {
        return ConnectReport{o, "travo-check: " + text, o == Outcome::connected ? 0 : 1};
    }
    std::optional<ConnectReport> open(const ConfigValues& values);
    Sent send(const void* data, std::size_t size) const;
    std::optional<ConnectReport> fill();
    ConnectReport stopped_reading() const;
    ConnectReport cut_or_foreign(bool closed) const;
    ConnectReport answer();

    std::chrono::milliseconds limit_;
    Clock::time_point deadline_;
    std::string where_;
    std::string during_;
    platform::SocketHandle socket_ = platform::kNoSocket;
    insim::StreamFramer framer_;
    static constexpr const char* kPasswordHint =
        " during the handshake (a wrong admin password is a possible cause)";
};

std::optional<ConnectReport> Session::open(const ConfigValues& values) {
    std::uint32_t address = 0;
    if (!platform::lookup_ipv4(values.host, &address)) {
        return report(Outcome::not_found,
                      "the host name \"" + printable(values.host) +
                          "\" was not found: it does not resolve here and is no IPv4 address");
    }
    socket_ = platform::open_tcp_socket();
    if (socket_ == platform::kNoSocket) return report(Outcome::failed, "the system gave no socket");
    switch (
        platform::connect_ipv4_within(socket_, address, port_from_text(values.port), left_ms())) {
        case 0:
            platform::set_no_delay(socket_);
            return std::nullopt;
        case -2:
            return report(Outcome::no_answer,
                          "no answer from " + where_ + " within " + seconds_text(limit_) +
                              ": the host is down, or a firewall drops the connection");
        case -3:
            return report(Outcome::refused,
                          where_ +
                              " refused the connection: nothing listens on that port, or "
                              "InSim is not enabled there (/insim PORT on the host)");
        default:
            return report(Outcome::failed, "could not connect to " + where_ +
                                               ": the network or the host is unreachable");
    }
}

// A peer that never reads fills the buffers; the send then waits no longer than the deadline.
Session::Sent Session::send(const void* data, std::size_t size) const {
    const int ready = platform::wait_writable(socket_, left_ms());
    if (ready <= 0) return ready == 0 ? Sent::late : Sent::failed;
    return platform::send_bytes(socket_, data, size) == static_cast<long>(size) ? Sent::ok
                                                                                : Sent::failed;
}

ConnectReport Session::stopped_reading() const {
    return report(Outcome::no_answer, during_ +
                                          "stopped reading what travo-check sent and gave no "
                                          "version within " +
                                          seconds_text(limit_) +
                                          ": the host is overloaded or not an InSim host");
}

// Bytes that never made a whole record: the start of the version or a keep-alive that the host
// sent too slowly or stopped sending, or else another service's words, shown as they came.
ConnectReport Session::cut_or_foreign(bool closed) const {
    const std::uint8_t* p = framer_.front();
    const std::size_t n = framer_.buffered();
    const std::size_t size = p[0];
    const bool version = size == sizeof(insim::IS_VER);
    const bool keep_alive = size == sizeof(insim::IS_TINY);
    const std::uint8_t type = version ? insim::ISP_VER : insim::ISP_TINY;
    if ((version || keep_alive) && (n < 2 || p[1] == type)) {
        const std::string part = std::to_string(n) + " of the " + std::to_string(size) +
                                 " bytes of " + (version ? "its version" : "a keep-alive");
        if (closed)
            return report(Outcome::closed, during_ + "closed it after " + part + kPasswordHint);
        return report(Outcome::cut_short, during_ + "sent " + part + " and no more within " +
                                              seconds_text(limit_) +
                                              ": the host or the link is very slow, or the host "
                                              "stopped in the middle of a record");
    }
    const std::string shown(reinterpret_cast<const char*>(p), std::min<std::size_t>(n, 24));
    return report(Outcome::not_insim, during_ + "sent " + std::to_string(n) +
                                          " bytes that are not InSim (\"" + printable(shown) +
                                          "\"): another service may listen on that port");
}

// Receives until the framer holds a whole record; a report when none comes.
std::optional<ConnectReport> Session::fill() {
    while (framer_.state() == insim::StreamFramer::State::kNeedBytes) {
        const long left = left_ms();
        const auto waited = left == 0
                                ? platform::WaitResult::kTimeout
                                : platform::wait_readable(socket_, left / 1000, left % 1000 * 1000);
        if (waited == platform::WaitResult::kTimeout) {
            if (left_ms() > 0) continue;
            if (framer_.buffered() > 0) return cut_or_foreign(false);
            return report(Outcome::no_answer,
                          during_ + "sent no answer within " + seconds_text(limit_) +
                              ": the port may belong to another service, or the host is not "
                              "an InSim host");
        }
        const long got =
            waited == platform::WaitResult::kReadable
                ? platform::receive_bytes(socket_, framer_.write_position(), framer_.write_room())
                : -1;
        if (got == 0 && framer_.buffered() > 0) return cut_or_foreign(true);
        if (got == 0) return report(Outcome::closed, during_ + "closed it" + kPasswordHint);
        if (got < 0) return report(Outcome::reset, during_ + "reset it" + kPasswordHint);
        framer_.commit(static_cast<std::size_t>(got));
    }
    return std::nullopt;
}

// The host's version, once it came: the doctor says goodbye and reports it.
ConnectReport Session::answer() {
    const std::uint8_t* p = framer_.front();
    insim::IS_VER version{};
    std::memcpy(&version, p, std::min(framer_.front_size(), sizeof version));
    const std::string_view text(version.Version, sizeof version.Version);
    const insim::IS_TINY close = insim::make_tiny(insim::TINY_CLOSE);
    (void)send(&close, sizeof close);
    return report(Outcome::connected,
                  "connected to " + where_ + ": host version " +
                      printable(text.substr(0, text.find('\0'))) + ", InSim version " +
                      std::to_string(version.InSimVer.get()) +
                      "; the handshake worked, closed again without a chat line or button");
}

ConnectReport Session::run(const ConfigValues& values) {
    if (auto failed = open(values)) return *failed;
    const insim::IS_ISI isi = insim::make_isi(kInsimName, values.admin_password, true, kInsimPrefix,
                                              kInsimFlags, kInsimIntervalMs, 0);
    switch (send(&isi, sizeof isi)) {
        case Sent::ok:
            break;
        case Sent::late:
            return stopped_reading();
        case Sent::failed:
            return report(Outcome::reset,
                          where_ + " took the connection but the handshake could not be sent");
    }
    for (;;) {
        framer_.drop_front();
        // A host that floods keep-alives keeps the framer full: the deadline holds here too.
        if (left_ms() == 0 && framer_.state() != insim::StreamFramer::State::kNeedBytes)
            return stopped_reading();
        if (auto failed = fill()) return *failed;
        const std::uint8_t* p = framer_.front();
        const std::size_t size = framer_.front_size();
        if (framer_.state() == insim::StreamFramer::State::kZeroSize || size < 4) {
            return report(Outcome::not_insim,
                          during_ +
                              "sent bytes that are not InSim: another service may listen on "
                              "that port");
        }
        if (insim::is_keep_alive(p, size)) {
            const insim::IS_TINY keepalive = insim::make_tiny(insim::TINY_NONE);
            const Sent sent = send(&keepalive, sizeof keepalive);
            if (sent == Sent::late) return stopped_reading();
            if (sent == Sent::failed)
                return report(Outcome::reset, during_ + "reset it" + kPasswordHint);
            continue;
        }
        if (p[1] != insim::ISP_VER) {
            return report(Outcome::not_insim,
                          during_ + "answered with a packet of type " + std::to_string(p[1]) +
                              " instead of its version: another service may listen on that port");
        }
        return answer();
    }
}

}  // namespace

ConnectReport connect_check(const ConfigValues& values, std::chrono::milliseconds limit) {
    const SocketLayer layer;
    if (!layer.started) {
        return ConnectReport{Outcome::failed, "travo-check: the socket layer did not start", 1};
    }
    Session session(values, limit);
    return session.run(values);
}

}  // namespace travo_check
