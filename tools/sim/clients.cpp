#include "tools/sim/clients.h"

#include <algorithm>

#include "tools/common/escape.h"
#include "tools/host_side/decode.h"
#include "tools/host_side/fake_host.h"
#include "tools/host_side/handshake.h"
#include "tools/host_side/listen.h"
#include "tools/host_side/text.h"
#include "tools/sim/outbox.h"

namespace sim {

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kMaxClients = 8;
// A client that sends no IS_ISI within this is let go.
constexpr std::chrono::seconds kHandshakeLimit(10);
// A keep-alive not answered within this is reported.
constexpr std::chrono::seconds kKeepAliveAnswerLimit(2);
// A client that has taken none of the bytes waiting for it for this long is closed.
constexpr std::chrono::seconds kStallLimit(10);
// What the system holds for a client that does not read, before its Outbox fills.
constexpr int kSendBuffer = 64 * 1024;
// Packets read from one client a round, so that a busy client cannot starve the others.
constexpr int kPacketsPerRound = 32;
// Lines a second about one client's packets, and about clients coming and going.
constexpr int kClientLines = 100;
constexpr int kArrivalLines = 50;
// And about every client's packets together, so that a client cannot make more by coming back.
constexpr int kAllClientsLines = 200;
// Different notes remembered, so that each shows once.
constexpr std::size_t kNotes = 64;
// The longest a round waits, so that a stop is noticed.
constexpr auto kLongestWait = 250ms;

// What is wrong with a first record that is no IS_ISI, after "the client's first ".
std::string first_record_fault(const insim::Bytes& p) {
    if (p[0] == 0) return "record has Size 0: its stream cannot be cut into records";
    if (insim::record_from<insim::Header>(p).Type == insim::ISP_ISI) {
        return "record is an IS_ISI of " + std::to_string(p.size()) + " bytes, not " +
               std::to_string(sizeof(insim::IS_ISI));
    }
    return "packet is not an IS_ISI: " + hostside::describe_packet(p);
}

}  // namespace

struct Clients::Client {
    int number = 0;
    hostside::ClientLink link;
    Outbox outbox;
    std::string name;  // IName, shown, once its IS_ISI came
    bool greeted = false;
    bool departed = false;
    Clock::time_point isi_deadline{};
    Clock::time_point next_keepalive{};
    Clock::time_point keepalive_sent{};
    bool awaiting_keepalive = false;
    Clock::duration mci_interval{};  // zero: it asked for none
    Clock::time_point next_mci{};
    LineBudget lines{kClientLines};
    LineBudget traced{kClientLines};  // the trace's own, so that it never hides a line
};

Clients::Clients(const Options& options, Report& report)
    : opt_(options),
      report_(report),
      arrivals_(kArrivalLines),
      lines_(kAllClientsLines),
      traced_(kAllClientsLines) {}

Clients::~Clients() {
    platform::os().close_socket(listener_);
}

bool Clients::listen() {
    listener_ = hostside::listen_loopback(opt_.port, &port_);
    return listener_ != platform::kNoSocket;
}

bool Clients::handshaking() const {
    return std::any_of(clients_.begin(), clients_.end(),
                       [](const auto& c) { return !c->greeted && !c->departed; });
}

void Clients::serve(Clock::time_point until) {
    do {
        round(until);
    } while (Clock::now() < until && !stopping());
}

void Clients::round(Clock::time_point until) {
    auto now = Clock::now();
    for (auto& c : clients_) timers(*c, now);
    drop_departed();

    Clock::time_point wake = std::min(until, report_.next_draw());
    bool unread = false;
    watched_.clear();
    if (listener_ != platform::kNoSocket) watched_.push_back({listener_, false});
    for (const auto& c : clients_) {
        wake = std::min(wake, next_deadline(*c));
        unread = unread || c->link.has_whole_packet();
        watched_.push_back({c->link.socket(), !c->outbox.empty()});
    }
    if (!unread && wake > now) {
        const auto left = std::min<Clock::duration>(wake - now, kLongestWait);
        hostside::wait_any(watched_, std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }

    accept_clients();
    for (auto& c : clients_) {
        read(*c);
        flush(*c);
    }
    drop_departed();
    settle_budgets();
    report_.draw_if_due();
}

Clock::time_point Clients::next_deadline(const Client& c) const {
    if (c.departed) return Clock::time_point::max();
    if (!c.greeted) return c.isi_deadline;
    auto t = Clock::time_point::max();
    if (opt_.keepalive > 0) t = std::min(t, c.next_keepalive);
    if (c.awaiting_keepalive) t = std::min(t, c.keepalive_sent + kKeepAliveAnswerLimit);
    if (opt_.cars > 0 && c.mci_interval > Clock::duration::zero()) t = std::min(t, c.next_mci);
    if (!c.outbox.empty()) {
        const auto now = Clock::now();
        t = std::min(t, now - c.outbox.stalled(now) + kStallLimit);
    }
    return t;
}

void Clients::timers(Client& c, Clock::time_point now) {
    if (c.departed) return;
    if (!c.greeted) {
        if (now >= c.isi_deadline) let_go(c, "the client sent no IS_ISI within 10 s");
        return;
    }
    if (c.outbox.stalled(now) >= kStallLimit) {
        drop(c,
             "it has read nothing for 10 s while " + std::to_string(c.outbox.size()) +
                 " bytes waited for it",
             false);
        return;
    }
    if (opt_.keepalive > 0 && now >= c.next_keepalive) {
        if (!send(c, hostside::tiny_packet(insim::TINY_NONE))) return;
        // The first unanswered one counts: keep-alives closer than the limit cannot hide it.
        if (!c.awaiting_keepalive) c.keepalive_sent = now;
        c.awaiting_keepalive = true;
        c.next_keepalive = now + seconds(opt_.keepalive);
    }
    if (c.awaiting_keepalive && now - c.keepalive_sent >= kKeepAliveAnswerLimit) {
        client_line(c, tag(c) + "the client did not answer the keep-alive within 2 s");
        c.awaiting_keepalive = false;
    }
    if (opt_.cars > 0 && c.mci_interval > Clock::duration::zero() && now >= c.next_mci) {
        if (!send(c, hostside::mci_packet(static_cast<std::uint8_t>(opt_.cars)))) return;
        // On the interval's own beat, unless the host fell a whole interval behind.
        c.next_mci += c.mci_interval;
        if (c.next_mci <= now) c.next_mci = now + c.mci_interval;
    }
}

void Clients::accept_clients() {
    while (platform::os().wait_readable(listener_, 0, 0) == platform::WaitResult::kReadable) {
        const platform::SocketHandle s = hostside::accept_client(listener_);
        if (s == platform::kNoSocket) return;
        if (clients_.size() >= kMaxClients) {
            // Silent probes cannot keep the places from a client: the one that has waited
            // longest without its IS_ISI gives its place to the newcomer.
            const auto idle = std::find_if(clients_.begin(), clients_.end(), [](const auto& c) {
                return !c->greeted && !c->departed;
            });
            if (idle != clients_.end())
                let_go(**idle, "the client gave its place to a newer one before its IS_ISI");
            drop_departed();
        }
        if (clients_.size() >= kMaxClients) {
            platform::os().close_socket(s);
            arrival_line("a client was refused: " + std::to_string(kMaxClients) +
                         " clients are connected, the most " + std::string(kTool.name()) +
                         " serves at once");
            continue;
        }
        platform::os().set_no_delay(s);
        hostside::tune_client(s, kSendBuffer);
        auto c = std::make_unique<Client>();
        c->number = ++clients_seen_;
        c->link.adopt(s);
        c->isi_deadline = Clock::now() + kHandshakeLimit;
        clients_.push_back(std::move(c));
    }
}

void Clients::read(Client& c) {
    for (int i = 0; i < kPacketsPerRound && !c.departed; ++i) {
        const auto p = c.link.next_packet(0ms);
        if (!p) break;
        if (report_.tracing() && may_show(c.traced, traced_, p->at))
            report_.packet(tag(c), false, p->bytes);
        if (c.greeted)
            on_packet(c, p->bytes);
        else
            on_first_packet(c, p->bytes);
    }
    // Whole packets that came before the close are read first.
    if (c.departed || !c.link.gone() || c.link.has_whole_packet()) return;
    const std::string how = c.link.failed() ? "reset" : "closed";
    if (!c.greeted) {
        let_go(c, "the client " + how + " the connection before its IS_ISI");
    } else {
        arrival_line(tag(c) + "the client " + how + " the connection");
        c.departed = true;
    }
}

void Clients::on_first_packet(Client& c, const insim::Bytes& p) {
    using Outcome = hostside::Handshake::Outcome;
    const hostside::Handshake h =
        hostside::answer_handshake(p, {opt_.version, opt_.insim_version, opt_.admin_password});
    if (h.outcome == Outcome::not_isi) {
        let_go(c, "the client's first " + first_record_fault(p));
        return;
    }
    c.name = hostside::terminal_text(insim::field_text(h.isi.IName), opt_.ansi);
    const std::string who = "client \"" + c.name + "\"";
    if (h.outcome == Outcome::wrong_password) {
        // As a host does: no answer, the connection closed.
        let_go(c, who + " gave a wrong admin password: closed without an answer");
        return;
    }
    const bool given = !insim::field_text(h.isi.Admin).empty();
    arrival_line(tag(c) + who + " connected: prefix '" +
                 toolkit::escaped(std::string(1, static_cast<char>(h.isi.Prefix)),
                                  toolkit::Policy::windows1252) +
                 "', flags " + std::to_string(h.isi.Flags.get()) + ", interval " +
                 std::to_string(h.isi.Interval.get()) + " ms, admin password " +
                 (opt_.admin_password.empty() ? (given ? "given" : "not given") : "right"));
    c.greeted = true;
    greeted_any_ = true;
    if ((h.isi.Flags.get() & insim::ISF_MCI) != 0)
        c.mci_interval = std::chrono::milliseconds(h.isi.Interval.get());
    const auto now = Clock::now();
    c.next_keepalive = now + seconds(opt_.keepalive);
    c.next_mci = now + c.mci_interval;
    if (!h.answer.empty()) send(c, h.answer);
}

void Clients::on_packet(Client& c, const insim::Bytes& p) {
    if (p[0] == 0) {
        drop(c, "it sent a record with Size 0: its stream cannot be cut into records any more");
        return;
    }
    for (const std::string& f : hostside::client_packet_faults(p))
        client_line(c, tag(c) + "protocol fault: " + f);
    if (const std::string note = hostside::grid_overhang_note(p); !note.empty()) {
        if (std::find(noted_.begin(), noted_.end(), note) == noted_.end()) {
            if (noted_.size() < kNotes) noted_.push_back(note);
            client_line(c, "note: " + note);
        }
    }
    switch (insim::record_from<insim::Header>(p).Type) {
        case insim::ISP_TINY:
            if (p.size() == sizeof(insim::IS_TINY)) {
                const auto t = insim::record_from<insim::IS_TINY>(p);
                if (t.SubT == insim::TINY_NONE) c.awaiting_keepalive = false;
                if (t.SubT == insim::TINY_CLOSE) client_line(c, tag(c) + "the client closes InSim");
            }
            break;
        case insim::ISP_MST:
            if (may_show(c.lines, lines_, Clock::now()))
                report_.chat(tag(c), hostside::chat_text(p));
            break;
        case insim::ISP_BTN:
        case insim::ISP_BFN:
            report_.buttons(p, c.number);
            break;
        default:
            break;
    }
}

bool Clients::send(Client& c, const insim::Bytes& packet) {
    if (c.departed) return false;
    const auto now = Clock::now();
    if (report_.tracing() && may_show(c.traced, traced_, now)) report_.packet(tag(c), true, packet);
    insim::Bytes framed = packet;
    // Every record is a whole number of 4-byte units.
    framed[0] = static_cast<std::uint8_t>(packet.size() / static_cast<std::size_t>(opt_.size_unit));
    if (!c.outbox.add(framed, now)) {
        drop(c,
             "more than " + std::to_string(Outbox::kLimit / 1024) +
                 " KiB waited for it: it reads more slowly than the host sends",
             false);
        return false;
    }
    flush(c);
    return !c.departed;
}

void Clients::flush(Client& c) {
    if (c.departed || c.outbox.empty()) return;
    const auto send = [&c](const std::uint8_t* data, std::size_t length) {
        return c.link.send_waiting(data, length);
    };
    if (!c.outbox.drain(send, Clock::now())) let_go(c, "the connection is broken");
}

void Clients::drop(Client& c, const std::string& why, bool orderly) {
    const std::string who = c.greeted ? "client \"" + c.name + "\"" : "the client";
    let_go(c, who + " closed: " + why, orderly);
}

void Clients::let_go(Client& c, const std::string& line, bool orderly) {
    arrival_line(tag(c) + line);
    orderly ? c.link.close() : c.link.reset();
    c.departed = true;
}

void Clients::drop_departed() {
    for (const auto& c : clients_) {
        if (!c->departed) continue;
        report_.forget(c->number);
        say_refused(*c, c->lines.refused_now(), c->traced.refused_now());
    }
    clients_.erase(
        std::remove_if(clients_.begin(), clients_.end(), [](const auto& c) { return c->departed; }),
        clients_.end());
}

std::string Clients::tag(const Client& c) const {
    // With more than one client about, what is printed says whose it is.
    if (c.number == 1 && clients_.size() <= 1) return "";
    return "[client " + std::to_string(c.number) + "] ";
}

void Clients::client_line(Client& c, const std::string& line) {
    if (may_show(c.lines, lines_, Clock::now())) report_.say(line);
}

bool Clients::may_show(LineBudget& own, LineBudget& all, Clock::time_point now) {
    if (!own.take(now)) return false;
    if (all.take(now)) return true;
    own.count_refused();
    return false;
}

void Clients::arrival_line(const std::string& line) {
    if (arrivals_.take(Clock::now())) report_.say(line);
}

void Clients::say_refused(const Client& c, long lines, long packets) {
    if (lines == 0 && packets == 0) return;
    const std::string most = " (at most " + std::to_string(kClientLines) + " a second)";
    // Within the host's budget: a client that comes and goes at its own pace cannot make these
    // lines at that pace.
    if (lines > 0)
        arrival_line(tag(c) + std::to_string(lines) +
                     " more lines about this client were not shown" + most);
    if (packets > 0)
        arrival_line(tag(c) + std::to_string(packets) + " more of its packets were not traced" +
                     most);
}

void Clients::settle_budgets() {
    const auto now = Clock::now();
    for (const auto& c : clients_) say_refused(*c, c->lines.refused(now), c->traced.refused(now));
    if (const long n = arrivals_.refused(now); n > 0)
        report_.say(std::to_string(n) +
                    " more lines about clients coming and going were not shown (at most " +
                    std::to_string(kArrivalLines) + " a second)");
}

std::string Clients::to_every_client(const insim::Bytes& packet) {
    bool any = false;
    bool delivered = false;
    for (auto& c : clients_) {
        if (!c->greeted || c->departed) continue;
        any = true;
        delivered = send(*c, packet) || delivered;
    }
    drop_departed();
    if (!any) return "no client is connected";
    if (!delivered) return "no client took it: each one was closed";
    return {};
}

std::string Clients::end(bool orderly, int number) {
    bool any = false;
    for (auto& c : clients_) {
        if (c->departed || (number != 0 && c->number != number)) continue;
        any = true;
        flush(*c);
        if (c->departed) continue;
        orderly ? c->link.close() : c->link.reset();
        report_.say(tag(*c) + (orderly ? "connection closed" : "connection reset"));
        c->departed = true;
    }
    drop_departed();
    if (any) return {};
    return number == 0 ? "no client is connected"
                       : "client " + std::to_string(number) + " is not connected";
}

}  // namespace sim
