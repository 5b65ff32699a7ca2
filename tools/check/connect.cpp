#include "tools/check/connect.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "app/config_table.h"
#include "app/startup.h"
#include "insim/builders.h"
#include "insim/host_connection.h"
#include "insim/platform.h"
#include "insim/records.h"
#include "tools/check/checker.h"
#include "tools/common/escape.h"

namespace travo_check {
namespace {

using Outcome = ConnectReport::Outcome;

// A text of the configuration or of the host, as the game's texts are shown.
std::string quoted(std::string_view text) {
    return toolkit::escaped(text, toolkit::Policy::text);
}

std::string dotted(std::uint32_t address_be) {
    unsigned char a[4];
    std::memcpy(a, &address_be, 4);
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]);
}

// The limit as given, to the millisecond: "10 s", "2.5 s", "0.125 s".
std::string seconds_text(std::chrono::milliseconds limit) {
    const auto ms = limit.count();
    std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    return std::to_string(ms / 1000) + (fraction.empty() ? "" : "." + fraction) + " s";
}

// The doctor's one connection under its one deadline, on the platform's clock: every wait and
// every send gives up when the limit has passed. HostConnection frames what comes and answers
// keep-alives; the doctor only names what went wrong.
class Session {
  public:
    Session(const app::ConfigValues& values, std::chrono::milliseconds limit,
            platform::Platform& platform, const WhileConnected& while_connected)
        : platform_(platform),
          while_connected_(while_connected),
          connection_(platform),
          limit_(limit),
          deadline_(platform.monotonic_ms() + static_cast<unsigned long long>(limit.count())),
          port_(app::port_from_text(values.port)) {}

    ~Session() { connection_.release_sockets(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    ConnectReport run(const app::ConfigValues& values);

  private:
    long left_ms() const {
        const unsigned long long now = platform_.monotonic_ms();
        return now < deadline_ ? static_cast<long>(deadline_ - now) : 0L;
    }
    static ConnectReport report(Outcome o, const std::string& text) {
        return doctor_report(o, text, o == Outcome::connected ? 0 : 1);
    }
    std::optional<ConnectReport> open(const app::ConfigValues& values);
    ConnectReport stopped_reading() const;
    enum class Ending { time_up, closed, reset };
    ConnectReport cut_or_foreign(Ending ending) const;
    ConnectReport no_version(int received) const;
    ConnectReport not_a_version() const;
    ConnectReport answer(const std::uint8_t* record);

    platform::Platform& platform_;
    const WhileConnected& while_connected_;
    insim::HostConnection connection_;
    std::chrono::milliseconds limit_;
    unsigned long long deadline_;
    std::uint16_t port_;
    std::string where_;   // the host and port, and the address tried for a name
    std::string during_;  // the start of every line about what came after the connect
    // After a watch, its own deadline has long passed: the goodbye gets a moment of its own.
    static constexpr unsigned long long kGoodbyeMs = 1000;
};

std::optional<ConnectReport> Session::open(const app::ConfigValues& values) {
    const int port_line = app::config_line_of(&app::ConfigValues::port).line;
    if (port_ == 0) {
        return report(
            Outcome::no_port,
            "line " + std::to_string(port_line) + ", the port, " +
                (values.port[0] == '\0' ? std::string("is empty") : "is " + quoted(values.port)) +
                ": travo would connect to port 0, which always fails; write the InSim "
                "port that the host opened there");
    }
    std::uint32_t address = 0;
    switch (platform_.lookup_ipv4_within(values.host, &address, left_ms())) {
        case platform::LookupResult::kFound:
            break;
        case platform::LookupResult::kNoAnswer:
            return report(Outcome::no_name_answer,
                          "no answer from the name server within " + seconds_text(limit_) +
                              " for the host name " + quoted(values.host) +
                              ": the name server is down or out of reach from here");
        case platform::LookupResult::kNotFound:
            return report(Outcome::not_found,
                          "the host name " + quoted(values.host) +
                              " was not found: it does not resolve here and is no IPv4 address");
    }
    where_ = toolkit::escaped(values.host, toolkit::Policy::terminal) + ":" + std::to_string(port_);
    // A name may stand for several addresses; travo, and this check, try the first.
    if (const std::string tried = dotted(address); tried != values.host)
        where_ += " (address " + tried + ", the first the name gives, which travo uses too)";
    during_ = where_ + " accepted the connection, then ";
    const platform::SocketHandle socket = platform_.open_tcp_socket();
    if (socket == platform::kNoSocket) return report(Outcome::failed, "the system gave no socket");
    connection_.adopt_socket(socket);
    switch (platform_.connect_ipv4_within(socket, address, port_, left_ms())) {
        case 0:
            platform_.set_no_delay(socket);
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

ConnectReport Session::stopped_reading() const {
    return report(Outcome::no_answer,
                  during_ + "stopped reading what " + std::string(kTool.name()) +
                      " sent and gave no version within " + seconds_text(limit_) +
                      ": the host is overloaded or not an InSim host");
}

// Bytes that never made a whole record: the start of the version or a keep-alive that the host
// sent too slowly or stopped sending, or else another service's words, shown as they came.
ConnectReport Session::cut_or_foreign(Ending ending) const {
    const std::uint8_t* p = connection_.unframed_data();
    const std::size_t n = connection_.unframed_size();
    const auto head = insim::record_from<insim::Header>(p, n);
    const std::size_t size = head.Size;
    const bool version = size == sizeof(insim::IS_VER);
    const bool keep_alive = size == sizeof(insim::IS_TINY);
    const std::uint8_t type = version ? insim::ISP_VER : insim::ISP_TINY;
    if ((version || keep_alive) && (n <= offsetof(insim::Header, Type) || head.Type == type)) {
        const std::string part = std::to_string(n) + " of the " + std::to_string(size) +
                                 " bytes of " + (version ? "its version" : "a keep-alive");
        if (ending == Ending::closed)
            return report(Outcome::closed,
                          during_ + "closed it after " + part + ", in the middle of the record");
        if (ending == Ending::reset)
            return report(Outcome::reset,
                          during_ + "reset it after " + part + ", in the middle of the record");
        return report(Outcome::cut_short, during_ + "sent " + part + " and no more within " +
                                              seconds_text(limit_) +
                                              ": the host or the link is very slow, or the host "
                                              "stopped in the middle of a record");
    }
    const std::string shown(reinterpret_cast<const char*>(p), std::min<std::size_t>(n, 24));
    const char* then = ending == Ending::closed  ? ") and closed it"
                       : ending == Ending::reset ? ") and reset it"
                                                 : ")";
    return report(Outcome::not_insim, during_ + "sent " + std::to_string(n) +
                                          " bytes that are not InSim (" +
                                          toolkit::escaped(shown, toolkit::Policy::quoted) + then +
                                          ": another service may listen on that port");
}

// Why the receive brought no packet.
ConnectReport Session::no_version(int received) const {
    const bool unframed = connection_.unframed_size() > 0;
    switch (received) {
        case insim::HostConnection::kTimeUp:
            if (unframed) return cut_or_foreign(Ending::time_up);
            if (const unsigned long n = connection_.keep_alives_answered(); n > 0) {
                return report(Outcome::keep_alives_only,
                              during_ + "sent only keep-alives (" + std::to_string(n) +
                                  ") and no version within " + seconds_text(limit_) +
                                  ": it speaks InSim but, unlike a host, did not answer travo's "
                                  "request for its version; an InSim relay or another InSim "
                                  "program may listen on that port");
            }
            return report(Outcome::no_answer,
                          during_ + "sent no answer within " + seconds_text(limit_) +
                              ": the port may belong to another service, or the host is not "
                              "an InSim host");
        case insim::HostConnection::kClosed:
            if (unframed) return cut_or_foreign(Ending::closed);
            if (const unsigned long n = connection_.keep_alives_answered(); n > 0) {
                return report(Outcome::closed, during_ + "sent only keep-alives (" +
                                                   std::to_string(n) +
                                                   ") and closed it during the handshake");
            }
            // Only a host that took travo's handshake and ended without a word may have
            // refused the password.
            return report(Outcome::closed, during_ +
                                               "closed it during the handshake (a wrong "
                                               "admin password is a possible cause)");
        case insim::HostConnection::kLate:
            return stopped_reading();
        case insim::HostConnection::kNotRecords:
            return report(Outcome::not_insim,
                          during_ +
                              "sent bytes that are not InSim: another service may listen on "
                              "that port");
        default:
            if (unframed) return cut_or_foreign(Ending::reset);
            return report(Outcome::reset, during_ + "reset it during the handshake");
    }
}

// A record of the version's type that is not 20 bytes long: a host that counts Size in 4-byte
// units (Size 5, and the rest of the record behind it; a host sends its version in one piece),
// or no version record at all.
ConnectReport Session::not_a_version() const {
    const std::size_t size = connection_.packet_size();
    constexpr std::size_t kVersionSize = sizeof(insim::IS_VER);
    if (size * 4 == kVersionSize && connection_.unframed_size() >= kVersionSize) {
        const auto version =
            insim::record_from<insim::IS_VER>(connection_.unframed_data(), kVersionSize);
        return report(Outcome::four_byte_units,
                      during_ +
                          "answered with a version record whose Size byte is 5 (host "
                          "version " +
                          quoted(insim::field_text(version.Version)) + ", InSim version " +
                          std::to_string(version.InSimVer.get()) +
                          "): the host counts Size in 4-byte units, a newer protocol than the "
                          "version 0 that travo announces, without the compatibility with older "
                          "programs that travo relies on (see \"Which protocol version travo "
                          "speaks\" in docs/operations.md)");
    }
    return report(Outcome::not_a_version,
                  during_ + "answered with a record of the version's type (2) of " +
                      std::to_string(size) + " bytes: a version record has exactly " +
                      std::to_string(kVersionSize) +
                      ", so this is not a version record, and that program does not speak the "
                      "InSim that travo speaks");
}

// The host's version, once it came: the doctor reports it (or lets the watch have the connection)
// and says goodbye.
ConnectReport Session::answer(const std::uint8_t* record) {
    const auto version = insim::record_from<insim::IS_VER>(record, sizeof(insim::IS_VER));
    const std::string version_text =
        "host version " +
        toolkit::escaped(insim::field_text(version.Version), toolkit::Policy::terminal) +
        ", InSim version " + std::to_string(version.InSimVer.get());
    ConnectReport result =
        report(Outcome::connected, "connected to " + where_ + ": " + version_text +
                                       "; the handshake worked, closed again "
                                       "without a chat line or button");
    unsigned long long goodbye_by = deadline_;
    if (while_connected_) {
        result = while_connected_(Connected{connection_, where_, version_text});
        goodbye_by = platform_.monotonic_ms() + kGoodbyeMs;
    }
    insim::IS_TINY close = insim::make_tiny(insim::TINY_CLOSE);
    (void)connection_.send_packet_until(&close, goodbye_by);
    return result;
}

ConnectReport Session::run(const app::ConfigValues& values) {
    if (auto failed = open(values)) return *failed;
    insim::IS_ISI isi =
        insim::make_isi(app::kInsimName, values.admin_password, true, app::kInsimPrefix,
                        app::kInsimFlags, app::kInsimIntervalMs, 0);
    switch (connection_.send_packet_until(&isi, deadline_)) {
        case 0:
            break;
        case insim::HostConnection::kLate:
            return stopped_reading();
        default:
            return report(Outcome::reset,
                          where_ + " took the connection but the handshake could not be sent");
    }
    const int received = connection_.receive_packet_until(deadline_);
    if (received != 0) return no_version(received);
    if (connection_.packet_size() < 4) {
        return report(Outcome::not_insim,
                      during_ +
                          "sent bytes that are not InSim: another service may listen on "
                          "that port");
    }
    if (connection_.packet_type() != insim::ISP_VER) {
        return report(Outcome::not_insim,
                      during_ + "answered with a packet of type " +
                          std::to_string(static_cast<std::uint8_t>(connection_.packet_type())) +
                          " instead of its version: another service may listen on that port");
    }
    if (connection_.packet_size() != sizeof(insim::IS_VER)) return not_a_version();
    return answer(connection_.packet_data());
}

}  // namespace

ConnectReport doctor_report(ConnectReport::Outcome outcome, const std::string& text,
                            int exit_code) {
    return ConnectReport{outcome, kTool.line(text), exit_code, text};
}

ConnectReport connect_check(const app::ConfigValues& values, std::chrono::milliseconds limit,
                            platform::Platform& platform, const WhileConnected& while_connected) {
    if (platform.socket_layer_start() != 0) {
        platform.socket_layer_stop();
        return doctor_report(Outcome::failed, "the socket layer did not start", 1);
    }
    ConnectReport report = Session(values, limit, platform, while_connected).run(values);
    platform.socket_layer_stop();
    return report;
}

}  // namespace travo_check
