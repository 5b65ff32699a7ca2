#include "tools/check/connect.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "app/startup.h"
#include "insim/builders.h"
#include "insim/framing.h"
#include "insim/platform.h"
#include "insim/records.h"

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

class Socket {
  public:
    explicit Socket(platform::SocketHandle s) : s_(s) {}
    ~Socket() { platform::close_socket(s_); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    platform::SocketHandle get() const { return s_; }

  private:
    platform::SocketHandle s_;
};

struct SocketLayer {
    bool started = platform::socket_layer_start() == 0;
    ~SocketLayer() { platform::socket_layer_stop(); }
};

}  // namespace

ConnectReport connect_check(const ConfigValues& values, std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    const auto left_ms = [&] {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return left > 0 ? static_cast<long>(left) : 0L;
    };
    const std::uint16_t port = port_from_text(values.port);
    const std::string where = std::string(values.host) + ":" + std::to_string(port);
    const auto report = [](Outcome o, const std::string& text) {
        return ConnectReport{o, "travo-check: " + text, o == Outcome::connected ? 0 : 1};
    };

    const SocketLayer layer;
    if (!layer.started) return report(Outcome::failed, "the socket layer did not start");
    std::uint32_t address = 0;
    if (!platform::lookup_ipv4(values.host, &address)) {
        return report(Outcome::not_found,
                      "the host name \"" + std::string(values.host) +
                          "\" was not found: it does not resolve here and is no IPv4 address");
    }
    const Socket socket(platform::open_tcp_socket());
    if (socket.get() == platform::kNoSocket) {
        return report(Outcome::failed, "the system gave no socket");
    }
    switch (platform::connect_ipv4_within(socket.get(), address, port, left_ms())) {
        case 0:
            break;
        case -2:
            return report(Outcome::no_answer,
                          "no answer from " + where + " within " + seconds_text(limit) +
                              ": the host is down, or a firewall drops the connection");
        case -3:
            return report(Outcome::refused,
                          where +
                              " refused the connection: nothing listens on that port, or "
                              "InSim is not enabled there (/insim PORT on the host)");
        default:
            return report(Outcome::failed, "could not connect to " + where +
                                               ": the network or the host is unreachable");
    }
    platform::set_no_delay(socket.get());

    const insim::IS_ISI isi = insim::make_isi(kInsimName, values.admin_password, true, kInsimPrefix,
                                              kInsimFlags, kInsimIntervalMs, 0);
    if (platform::send_bytes(socket.get(), &isi, sizeof isi) != static_cast<long>(sizeof isi)) {
        return report(Outcome::reset, where +
                                          " took the connection but the handshake could not "
                                          "be sent");
    }

    const std::string during = where + " accepted the connection, then ";
    // Bytes that never made a whole packet: shown as text, as other services speak it.
    const auto foreign = [&](const insim::StreamFramer& f) {
        std::string shown;
        for (std::size_t i = 0; i < f.buffered() && shown.size() < 24; ++i) {
            const auto c = static_cast<unsigned char>(f.front()[i]);
            shown += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
        }
        return during + "sent " + std::to_string(f.buffered()) + " bytes that are not InSim (\"" +
               shown + "\"): another service may listen on that port";
    };
    const std::string password_hint =
        " during the handshake (a wrong admin password is a possible cause)";
    insim::StreamFramer framer;
    for (;;) {
        framer.drop_front();
        while (framer.state() == insim::StreamFramer::State::kNeedBytes) {
            const long left = left_ms();
            const auto waited =
                left == 0 ? platform::WaitResult::kTimeout
                          : platform::wait_readable(socket.get(), left / 1000, left % 1000 * 1000);
            const bool over = waited == platform::WaitResult::kTimeout && left_ms() == 0;
            if (over && framer.buffered() > 0) return report(Outcome::not_insim, foreign(framer));
            if (over) {
                return report(Outcome::no_answer,
                              during + "sent no answer within " + seconds_text(limit) +
                                  ": the port may belong to another service, or the host is not "
                                  "an InSim host");
            }
            if (waited == platform::WaitResult::kTimeout) continue;
            const long got = waited == platform::WaitResult::kReadable
                                 ? platform::receive_bytes(socket.get(), framer.write_position(),
                                                           framer.write_room())
                                 : -1;
            if (got == 0 && framer.buffered() > 0) {
                return report(Outcome::not_insim, foreign(framer));
            }
            if (got == 0) return report(Outcome::closed, during + "closed it" + password_hint);
            if (got < 0) return report(Outcome::reset, during + "reset it" + password_hint);
            framer.commit(static_cast<std::size_t>(got));
        }
        const std::uint8_t* p = framer.front();
        const std::size_t size = framer.front_size();
        if (framer.state() == insim::StreamFramer::State::kZeroSize || size < 4) {
            return report(Outcome::not_insim,
                          during +
                              "sent bytes that are not InSim: another service may listen on "
                              "that port");
        }
        if (insim::is_keep_alive(p, size)) {
            const insim::IS_TINY keepalive = insim::make_tiny(insim::TINY_NONE);
            platform::send_bytes(socket.get(), &keepalive, sizeof keepalive);
            continue;
        }
        if (p[1] != insim::ISP_VER) {
            return report(Outcome::not_insim,
                          during + "answered with a packet of type " + std::to_string(p[1]) +
                              " instead of its version: another service may listen on that port");
        }
        insim::IS_VER version{};
        std::memcpy(&version, p, std::min(size, sizeof version));
        const std::string_view text(version.Version, sizeof version.Version);
        const insim::IS_TINY close = insim::make_tiny(insim::TINY_CLOSE);
        platform::send_bytes(socket.get(), &close, sizeof close);
        return report(Outcome::connected,
                      "connected to " + where + ": host version " +
                          std::string(text.substr(0, text.find('\0'))) + ", InSim version " +
                          std::to_string(version.InSimVer.get()) +
                          "; the handshake worked, closed again without a chat line or button");
    }
}

}  // namespace travo_check
