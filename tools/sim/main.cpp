// travo-sim: a virtual simulator host on 127.0.0.1 for trying Travo without the simulator.
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "insim/records.h"
#include "tools/common/escape.h"
#include "tools/common/input_file.h"
#include "tools/common/messages.h"
#include "tools/common/options.h"
#include "tools/common/output_file.h"
#include "tools/common/standard_output.h"
#include "tools/host_side/decode.h"
#include "tools/host_side/fake_host.h"
#include "tools/host_side/listen.h"
#include "tools/host_side/screen.h"
#include "tools/host_side/text.h"
#include "tools/sim/commands.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

using namespace std::chrono_literals;
using hostside::Clock;
using simscript::LineRead;
using simscript::Verb;

namespace {

constexpr const char* kHelp = R"(Usage: travo-sim [options]

A virtual Live for Speed host for Travo: listens on 127.0.0.1 for InSim clients (up to 8 at
once, as many after one another as come), answers their handshakes, plays players from a
script or from standard input, and shows what the players would see: the chat lines and the
button screen.

Options:
  --port N            TCP port to listen on, 0 to 65535 (default 29999; 0 picks a free one)
  --host-version TEXT host version reported in IS_VER (default 0.7F)
  --insim-version N   InSim version reported in IS_VER, 0 to 65535 (default 9)
  --admin-password PW refuse a client whose IS_ISI carries another admin password (1 to 16
                      bytes); without it any password is accepted
  --keepalive SECONDS send a keep-alive this often, 0 = never, up to 86400 (default 30)
  --cars N            cars on track, 0 to 8: multi-car packets at each client's interval
                      (default 0)
  --script FILE       read the commands from FILE instead of standard input
  --snapshot FILE     write the screen as an SVG picture at exit
  --ready-file FILE   create FILE once listening, holding the port (for scripts that start
                      the client)
  --wait-client SECS  how long to wait for the first client, up to 86400 (default 60)
  --forever           when the commands have ended, go on serving clients until SIGINT or
                      SIGTERM, then end with status 0; wait for the first client without a
                      limit, and report a bad command without ending
  --trace             print every packet in both directions, decoded
  --plain             no terminal colours
  --help              this text
  --version           the name and version of this program
Options take their value as --option VALUE or --option=VALUE, once; an empty value is
refused, and numbers are plain decimal.
--snapshot, --ready-file and the snapshot command write only a new file or a regular one
(replaced whole), never a *.travo file or the script, and are checked before listening.

Commands (one a line, # starts a comment; they start once the first client has connected):
  join NAME           a connection joins with nickname NAME (IS_NCN)
  say NAME TEXT       NAME types TEXT: IS_MSO with Msg = NAME + " ^8" + TEXT and
                      TextStart = length of NAME + 1, as the host reports chat lines
  chat TEXTSTART TEXT an IS_MSO with exactly this Msg and TextStart (0 to 127)
  wait SECONDS        serve the clients for that long (0 to 86400)
  screen              draw the button screen now
  snapshot FILE.svg   write the button screen as an SVG picture
  close [N]           close the connection of every client, or of client N
  reset [N]           reset the connection of every client, or of client N
  quit                end here
join, say and chat go to every connected client; join and say show first, once, as a line
such as "[player] Racer types !fb". Clients are numbered 1, 2, ... in the order they
connect; with more than one, the lines name them as [client N].

Exit status: 0 when the commands ran to their end (with --forever: when stopped), 1 with a
one-line reason otherwise, 2 for a usage error or a script or output file that cannot be used,
3 when standard output could not be written.
)";

constexpr toolkit::Tool kTool{"travo-sim"};
// A script is read whole before listening; standard input has no such bound.
constexpr std::size_t kScriptLimit = std::size_t{1024} * 1024;

// Changes closer together than this are drawn once.
constexpr std::chrono::milliseconds kRedrawPause(150);
// A keep-alive not answered within this is reported.
constexpr std::chrono::seconds kKeepAliveAnswerLimit(2);
// A client that sends no IS_ISI within this is let go.
constexpr std::chrono::seconds kHandshakeLimit(10);
constexpr std::size_t kMaxClients = 8;
// Lines read ahead from standard input; a faster writer waits.
constexpr std::size_t kQueuedLines = 256;
constexpr std::size_t kAdminRoom = sizeof(insim::IS_ISI::Admin);

struct Options {
    std::uint16_t port = 29999;
    std::string version = "0.7F";
    std::uint16_t insim_version = 9;
    std::string admin_password;
    double keepalive = 30;
    int cars = 0;
    std::string script;
    std::string snapshot;
    std::string ready_file;
    double wait_client = 60;
    bool forever = false;
    bool trace = false;
    bool ansi = false;
};

volatile std::sig_atomic_t g_stop = 0;

extern "C" void on_stop_signal(int) {
    g_stop = 1;
}

// Lines from standard input, read on their own thread so the clients are served meanwhile.
// The queue belongs to the thread as much as to the reader: a thread stuck in a read outlives
// the run, and must find its queue still there.
class StdinLines {
  public:
    struct Line {
        LineRead kind;
        std::string text;
    };

    StdinLines() : shared_(std::make_shared<Shared>()) {
        std::thread([shared = shared_] {
            std::string text;
            for (;;) {
                const LineRead kind = simscript::read_line(std::cin, &text);
                std::unique_lock<std::mutex> hold(shared->mutex);
                if (kind == LineRead::kEnd) {
                    shared->ended = true;
                    return;
                }
                shared->room.wait(
                    hold, [&] { return shared->closed || shared->lines.size() < kQueuedLines; });
                if (shared->closed) return;
                shared->lines.push_back({kind, text});
            }
        }).detach();
    }
    ~StdinLines() {
        {
            std::lock_guard<std::mutex> hold(shared_->mutex);
            shared_->closed = true;
        }
        shared_->room.notify_all();
    }
    StdinLines(const StdinLines&) = delete;
    StdinLines& operator=(const StdinLines&) = delete;

    // A line if one is ready; nothing otherwise. `ended` once input is over.
    std::optional<Line> poll(bool* ended) {
        std::lock_guard<std::mutex> hold(shared_->mutex);
        if (!shared_->lines.empty()) {
            Line l = std::move(shared_->lines.front());
            shared_->lines.pop_front();
            shared_->room.notify_one();
            return l;
        }
        *ended = shared_->ended;
        return std::nullopt;
    }

  private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable room;
        std::deque<Line> lines;
        bool ended = false;
        bool closed = false;
    };
    std::shared_ptr<Shared> shared_;
};

class VirtualHost {
  public:
    explicit VirtualHost(const Options& o) : opt_(o) {}
    ~VirtualHost() { platform::os().close_socket(listener_); }
    VirtualHost(const VirtualHost&) = delete;
    VirtualHost& operator=(const VirtualHost&) = delete;

    // The files are tried before listening, so that a client is never left waiting for a run
    // that cannot start: 0, or 2 with the reason printed.
    int prepare() {
        files_.reads(opt_.script.empty() ? "-" : opt_.script, "the script");
        if (!opt_.script.empty()) {
            if (const std::string why = read_script(); !why.empty()) return kTool.refuse(why);
        }
        if (!opt_.ready_file.empty()) {
            if (const std::string why = files_.claim(opt_.ready_file, kReadyFile); !why.empty())
                return kTool.refuse(why);
        }
        if (!opt_.snapshot.empty()) {
            if (const std::string why = files_.claim(opt_.snapshot, kSnapshotFile); !why.empty())
                return kTool.refuse(why);
        }
        return claim_script_snapshots();
    }

    int run() {
        errno = 0;
        listener_ = hostside::listen_loopback(opt_.port, &port_);
        if (listener_ == platform::kNoSocket) return fail(cannot_listen(opt_.port, errno));
        say("listening on 127.0.0.1:" + std::to_string(port_) + ", waiting for the client");
        if (!opt_.ready_file.empty()) {
            const std::string why =
                files_.write(opt_.ready_file, std::to_string(port_) + "\n", kReadyFile);
            if (!why.empty()) return fail(why);
        }
        if (!await_first_client()) return stopping() ? finish() : 1;

        std::optional<StdinLines> stdin_lines;
        if (opt_.script.empty()) stdin_lines.emplace();
        const std::string source =
            opt_.script.empty() ? "input" : toolkit::escaped(opt_.script, toolkit::Policy::name);
        int line_number = 0;
        bool quit = false;
        while (!quit && !stopping()) {
            std::optional<StdinLines::Line> line;
            bool ended = false;
            if (stdin_lines) {
                line = stdin_lines->poll(&ended);
            } else {
                std::string text;
                const LineRead kind = simscript::read_line(script_, &text);
                if (kind == LineRead::kEnd)
                    ended = true;
                else
                    line = StdinLines::Line{kind, std::move(text)};
            }
            if (!line) {
                if (ended) break;
                serve(Clock::now() + 20ms);
                continue;
            }
            ++line_number;
            simscript::Command command;
            std::string reason;
            bool ok = false;
            if (line->kind == LineRead::kTooLong) {
                reason = "the line is longer than " + std::to_string(simscript::kMaxLineBytes) +
                         " bytes";
            } else {
                ok = simscript::parse_command(line->text, &command, &reason);
            }
            // Blank lines and comments cost no time.
            if (ok && command.verb == Verb::kNothing) continue;
            if (ok) ok = execute(command, &reason, &quit);
            if (!ok) {
                const std::string where = source + " line " + std::to_string(line_number) + ": ";
                if (!opt_.forever) return fail(where + reason);
                complain(where + reason + " (skipped)");
                continue;
            }
            if (!quit) serve(Clock::now() + 20ms);
        }
        if (opt_.forever && !quit && !stopping()) {
            say("the commands have ended; serving clients until stopped (SIGINT or SIGTERM)");
            while (!stopping()) serve(Clock::now() + 100ms);
        }
        return finish();
    }

  private:
    struct Client {
        int number = 0;
        hostside::ClientLink link;
        bool greeted = false;  // its IS_ISI was taken
        bool departed = false;
        Clock::time_point isi_deadline{};
        Clock::time_point next_keepalive{};
        Clock::time_point keepalive_sent{};
        bool awaiting_keepalive = false;
        unsigned mci_interval = 0;
        Clock::time_point next_mci{};
    };

    static bool stopping() { return g_stop != 0; }

    static std::string fmt(double v) {
        std::ostringstream o;
        o << v;
        return o.str();
    }

    static constexpr const char* kReadyFile = "the ready file";
    static constexpr const char* kSnapshotFile = "the snapshot";

    void say(const std::string& line) { kTool.say(line); }
    void complain(const std::string& line) { kTool.complain(line); }
    int fail(const std::string& reason) {
        complain(reason);
        return 1;
    }

    static std::string cannot_listen(std::uint16_t port, int error) {
        std::string why = "cannot listen on 127.0.0.1:" + std::to_string(port);
        if (error == 0) return why + ": the system refused the port";
        why += ": " + std::string(std::strerror(error));
        if (error == EADDRINUSE)
            why += " (another program listens there; --port 0 picks a free port)";
        return why;
    }

    // The script, read whole and no further than its bound, without waiting on a pipe.
    std::string read_script() {
        const std::string name =
            "the script " + toolkit::escaped(opt_.script, toolkit::Policy::name);
        const toolkit::FileBytes file = toolkit::read_bounded(opt_.script, kScriptLimit);
        using Kind = toolkit::FileBytes::Kind;
        if (file.kind != Kind::read) {
            const bool stream =
                file.kind == Kind::fifo || file.kind == Kind::socket || file.kind == Kind::device;
            return "cannot read " + name + ": " + toolkit::why_unreadable(file) +
                   (stream ? "; give a pipe's commands on standard input" : "");
        }
        if (file.more) {
            return name + " is longer than " + std::to_string(kScriptLimit / 1024 / 1024) +
                   " MiB; give the commands on standard input instead";
        }
        script_.str(file.bytes);
        return {};
    }

    // The snapshots a script will take are claimed before listening, as the options' files are.
    int claim_script_snapshots() {
        std::string text;
        int line_number = 0;
        const std::string where =
            "the script " + toolkit::escaped(opt_.script, toolkit::Policy::name);
        for (std::istringstream lines(script_.str());
             simscript::read_line(lines, &text) != LineRead::kEnd;) {
            ++line_number;
            simscript::Command command;
            std::string reason;
            if (!simscript::parse_command(text, &command, &reason) ||
                command.verb != Verb::kSnapshot)
                continue;
            if (const std::string why = files_.claim(command.text, kSnapshotFile); !why.empty())
                return kTool.refuse(where + " line " + std::to_string(line_number) + ": " + why);
        }
        return 0;
    }

    // With more than one client about, what is printed says whose it is.
    std::string tag(const Client& c) const {
        if (c.number == 1 && clients_.size() <= 1) return "";
        return "[client " + std::to_string(c.number) + "] ";
    }

    bool await_first_client() {
        const auto deadline = Clock::now() + seconds(opt_.wait_client);
        for (;;) {
            // A client may already have made its handshake and gone again.
            if (greeted_any_) return true;
            if (stopping()) return false;
            if (!opt_.forever) {
                if (handshake_failed_) return false;
                if (clients_.empty() && Clock::now() >= deadline) {
                    fail("no client connected within " + fmt(opt_.wait_client) + " s");
                    return false;
                }
            }
            serve(Clock::now() + 50ms);
        }
    }

    int finish() {
        if (!stopping()) serve(Clock::now() + 200ms);
        draw_if_changed(true);
        if (!opt_.snapshot.empty()) {
            if (const std::string why = write_snapshot(opt_.snapshot); !why.empty())
                return fail(why);
        }
        say("done");
        return 0;
    }

    static Clock::duration seconds(double s) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
    }

    bool send(Client& c, const hostside::Bytes& b) {
        if (opt_.trace) std::cout << "-> " << tag(c) << hostside::describe_packet(b) << std::endl;
        return c.link.send_raw(b);
    }

    void trace_in(const Client& c, const hostside::ReceivedPacket& p) {
        if (opt_.trace)
            std::cout << "<- " << tag(c) << hostside::describe_packet(p.bytes) << std::endl;
    }

    // Serves every client until `until`: new clients, packets in, keep-alives and multi-car
    // packets out, the screen redrawn.
    void serve(Clock::time_point until) {
        for (;;) {
            accept_clients();
            bool busy = false;
            for (auto& c : clients_) busy = serve_client(*c) || busy;
            drop_departed();
            const auto now = Clock::now();
            if (now >= until || stopping()) break;
            draw_if_changed(false);
            if (!busy) {
                auto next = std::min<Clock::time_point>(until, now + 5ms);
                if (dirty_) next = std::min(next, last_change_ + kRedrawPause);
                if (next > now) std::this_thread::sleep_for(next - now);
            }
        }
    }

    void accept_clients() {
        while (platform::os().wait_readable(listener_, 0, 0) == platform::WaitResult::kReadable) {
            const platform::SocketHandle s = hostside::accept_client(listener_);
            if (s == platform::kNoSocket) return;
            if (clients_.size() >= kMaxClients) {
                platform::os().close_socket(s);
                say("a client was refused: " + std::to_string(kMaxClients) +
                    " clients are connected, the most " + std::string(kTool.name()) +
                    " serves at once");
                continue;
            }
            platform::os().set_no_delay(s);
            auto c = std::make_unique<Client>();
            c->number = ++clients_seen_;
            c->link.adopt(s);
            c->isi_deadline = Clock::now() + kHandshakeLimit;
            clients_.push_back(std::move(c));
        }
    }

    // True when a packet came.
    bool serve_client(Client& c) {
        if (c.departed) return false;
        const auto now = Clock::now();
        if (c.greeted) {
            timers(c, now);
        } else if (now >= c.isi_deadline) {
            handshake_fault(c, "the client sent no IS_ISI within 10 s");
            return false;
        }
        bool busy = false;
        // A few packets a round, so one busy client cannot starve the others.
        for (int i = 0; i < 32 && !c.departed; ++i) {
            auto p = c.link.next_packet(0ms);
            if (!p) break;
            busy = true;
            if (c.greeted)
                on_packet(c, *p);
            else
                on_first_packet(c, *p);
        }
        if (!c.departed && c.link.gone()) {
            if (!c.greeted) {
                handshake_fault(c, "the client closed the connection before its IS_ISI");
            } else {
                say(tag(c) + "the client closed the connection");
                c.departed = true;
            }
        }
        return busy;
    }

    void handshake_fault(Client& c, const std::string& reason) {
        complain(tag(c) + reason);
        c.link.close();
        c.departed = true;
        handshake_failed_ = true;
    }

    void drop_departed() {
        for (const auto& c : clients_) {
            if (c->departed && screen_.forget(c->number)) {
                dirty_ = true;
                last_change_ = Clock::now();
            }
        }
        clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                      [](const auto& c) { return c->departed; }),
                       clients_.end());
    }

    void on_first_packet(Client& c, const hostside::ReceivedPacket& p) {
        trace_in(c, p);
        if (p.type() != insim::ISP_ISI || p.bytes.size() != sizeof(insim::IS_ISI)) {
            handshake_fault(c, "the client's first packet is not an IS_ISI: " +
                                   hostside::describe_packet(p.bytes));
            return;
        }
        insim::IS_ISI isi;
        std::memcpy(&isi, p.bytes.data(), sizeof isi);
        const std::string name(isi.IName, strnlen(isi.IName, sizeof isi.IName));
        const std::string who = "client \"" + hostside::terminal_text(name, opt_.ansi) + "\"";
        const std::string given(isi.Admin, strnlen(isi.Admin, sizeof isi.Admin));
        if (!opt_.admin_password.empty() && given != opt_.admin_password) {
            // As a host does: no answer, the connection closed.
            say(tag(c) + who + " gave a wrong admin password: closed without an answer");
            c.link.close();
            c.departed = true;
            return;
        }
        say(tag(c) + who + " connected: prefix '" +
            toolkit::escaped(std::string(1, static_cast<char>(isi.Prefix)),
                             toolkit::Policy::windows1252) +
            "', flags " + std::to_string(isi.Flags.get()) + ", interval " +
            std::to_string(isi.Interval.get()) + " ms, admin password " +
            (opt_.admin_password.empty() ? (given.empty() ? "not given" : "given") : "right"));
        if ((isi.Flags.get() & insim::ISF_MCI) != 0) c.mci_interval = isi.Interval.get();
        if (isi.ReqI != 0)
            send(c, hostside::version_packet(opt_.version, opt_.insim_version, isi.ReqI));
        const auto now = Clock::now();
        c.next_keepalive = now + seconds(opt_.keepalive);
        c.next_mci = now + std::chrono::milliseconds(c.mci_interval);
        c.greeted = true;
        greeted_any_ = true;
    }

    void timers(Client& c, Clock::time_point now) {
        if (opt_.keepalive > 0 && now >= c.next_keepalive) {
            send(c, hostside::tiny_packet(insim::TINY_NONE));
            c.keepalive_sent = now;
            c.awaiting_keepalive = true;
            c.next_keepalive = now + seconds(opt_.keepalive);
        }
        if (c.awaiting_keepalive && now - c.keepalive_sent > kKeepAliveAnswerLimit) {
            say(tag(c) + "the client did not answer the keep-alive within 2 s");
            c.awaiting_keepalive = false;
        }
        if (opt_.cars > 0 && c.mci_interval > 0 && now >= c.next_mci) {
            send(c, hostside::mci_packet(static_cast<std::uint8_t>(opt_.cars)));
            c.next_mci = now + std::chrono::milliseconds(c.mci_interval);
        }
    }

    void on_packet(Client& c, const hostside::ReceivedPacket& p) {
        trace_in(c, p);
        for (const std::string& f : hostside::client_packet_faults(p.bytes))
            say(tag(c) + "protocol fault: " + f);
        if (const std::string note = hostside::grid_overhang_note(p.bytes); !note.empty()) {
            if (noted_.insert(note).second) say("note: " + note);
        }
        switch (p.type()) {
            case insim::ISP_TINY:
                if (p.bytes.size() == sizeof(insim::IS_TINY)) {
                    const auto t = insim::record_from<insim::IS_TINY>(p.bytes);
                    if (t.SubT == insim::TINY_NONE) c.awaiting_keepalive = false;
                    if (t.SubT == insim::TINY_CLOSE) say(tag(c) + "the client closes InSim");
                }
                break;
            case insim::ISP_MST:
                show_chat(c, hostside::chat_text(p));
                break;
            case insim::ISP_BTN:
            case insim::ISP_BFN:
                if (screen_.apply(p.bytes, c.number)) {
                    dirty_ = true;
                    last_change_ = Clock::now();
                }
                break;
            default:
                break;
        }
    }

    void show_chat(const Client& c, std::string_view msg) {
        draw_if_changed(true);
        constexpr std::string_view kMsg = "/msg ";
        if (msg.substr(0, kMsg.size()) == kMsg) {
            std::cout << tag(c) << "[chat] "
                      << hostside::terminal_text(msg.substr(kMsg.size()), opt_.ansi) << std::endl;
        } else {
            std::cout << tag(c) << "[typed] " << hostside::terminal_text(msg, opt_.ansi)
                      << std::endl;
        }
    }

    // Before the packet goes out, so that the player's deed shows before the answers to it.
    void show_player(std::string_view name, std::string_view deed) {
        draw_if_changed(true);
        std::cout << "[player] " << hostside::terminal_text(name, opt_.ansi) << ' '
                  << hostside::terminal_text(deed, opt_.ansi) << std::endl;
    }

    void draw_if_changed(bool now) {
        if (!dirty_ || (!now && Clock::now() - last_change_ < kRedrawPause)) return;
        dirty_ = false;
        draw();
    }

    void draw() {
        std::cout << "[screen] " << screen_.count() << " buttons\n"
                  << screen_.render_terminal(opt_.ansi) << std::flush;
    }

    // The reason it was not written, else empty.
    std::string write_snapshot(const std::string& path) {
        if (std::string why = files_.write(path, screen_.svg(), kSnapshotFile); !why.empty())
            return why;
        say("screen written to " + toolkit::escaped(path, toolkit::Policy::name));
        return {};
    }

    // Players' events go to every client that has made its handshake, as a host sends them to
    // every InSim program.
    bool to_every_client(const hostside::Bytes& packet, std::string* reason) {
        bool any = false;
        bool delivered = false;
        for (auto& c : clients_) {
            if (!c->greeted || c->departed) continue;
            any = true;
            if (send(*c, packet)) {
                delivered = true;
            } else {
                say(tag(*c) + "the connection is broken");
                c->link.close();
                c->departed = true;
            }
        }
        drop_departed();
        if (!any) *reason = "no client is connected";
        if (any && !delivered) *reason = "the connection is broken";
        return delivered;
    }

    bool execute(const simscript::Command& command, std::string* reason, bool* quit) {
        switch (command.verb) {
            case Verb::kNothing:
                return true;
            case Verb::kJoin:
                show_player(command.name, "joins");
                return to_every_client(hostside::ncn_packet(command.name), reason);
            case Verb::kSay:
                show_player(command.name, "types " + command.text);
                return to_every_client(hostside::say_packet(command.name, command.text), reason);
            case Verb::kChat:
                return to_every_client(hostside::mso_packet(command.text_start, command.text),
                                       reason);
            case Verb::kWait:
                serve(Clock::now() + seconds(command.seconds));
                return true;
            case Verb::kScreen:
                serve(Clock::now() + 50ms);
                dirty_ = false;
                draw();
                return true;
            case Verb::kSnapshot:
                *reason = write_snapshot(command.text);
                return reason->empty();
            case Verb::kClose:
            case Verb::kReset:
                return end_connections(command.verb == Verb::kClose, command.client, reason);
            case Verb::kQuit:
                *quit = true;
                return true;
        }
        return true;
    }

    bool end_connections(bool orderly, int number, std::string* reason) {
        bool any = false;
        for (auto& c : clients_) {
            if (c->departed || (number != 0 && c->number != number)) continue;
            any = true;
            orderly ? c->link.close() : c->link.reset();
            say(tag(*c) + (orderly ? "connection closed" : "connection reset"));
            c->departed = true;
        }
        drop_departed();
        if (!any)
            *reason = number == 0 ? "no client is connected"
                                  : "client " + std::to_string(number) + " is not connected";
        return any;
    }

    Options opt_;
    toolkit::RunFiles files_;
    std::istringstream script_;
    platform::SocketHandle listener_ = platform::kNoSocket;
    std::uint16_t port_ = 0;
    std::vector<std::unique_ptr<Client>> clients_;
    int clients_seen_ = 0;
    bool handshake_failed_ = false;
    bool greeted_any_ = false;
    hostside::ScreenModel screen_;
    bool dirty_ = false;
    Clock::time_point last_change_{};
    std::set<std::string> noted_;
};

bool stdout_is_terminal() {
#ifdef _WIN32
    return _isatty(1) != 0;
#else
    return isatty(1) != 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    // Before the checked output takes std::cout: this call would replace its buffer.
    std::ios::sync_with_stdio(false);
    toolkit::StandardOutput output(kTool);
    Options opt;
    opt.ansi = stdout_is_terminal();
    bool help = false;
    bool version = false;
    using toolkit::flag;
    using toolkit::number;
    using toolkit::text;
    const std::vector<toolkit::Option> options = {
        flag("--help", help),
        flag("-h", help),
        flag("--version", version),
        number("--port", 0, 65535, true, "",
               [&](double v) { opt.port = static_cast<std::uint16_t>(v); }),
        number("--insim-version", 0, 65535, true, "",
               [&](double v) { opt.insim_version = static_cast<std::uint16_t>(v); }),
        number("--keepalive", 0, 86400, false, "seconds", [&](double v) { opt.keepalive = v; }),
        number("--cars", 0, 8, true, "", [&](double v) { opt.cars = static_cast<int>(v); }),
        number("--wait-client", 0, 86400, false, "seconds", [&](double v) { opt.wait_client = v; }),
        {"--admin-password", "1 to 16 bytes",
         [&](const std::string& v) {
             opt.admin_password = v;
             return v.size() <= kAdminRoom;
         },
         true},
        text("--host-version", "a text", opt.version),
        text("--script", "the name of a file", opt.script),
        text("--snapshot", "the name of a file", opt.snapshot),
        text("--ready-file", "the name of a file", opt.ready_file),
        flag("--forever", opt.forever),
        flag("--trace", opt.trace),
        {"--plain", "", [&](const std::string&) { return !(opt.ansi = false); }},
    };
    std::vector<std::string> operands;
    if (const std::string why = toolkit::read_options(argc, argv, options, operands); !why.empty())
        return output.status(kTool.usage_error(why));
    if (!operands.empty()) {
        return output.status(kTool.usage_error(
            "unexpected argument " +
            toolkit::escaped_start(operands.front(), toolkit::Policy::quoted, 60) + ": " +
            std::string(kTool.name()) + " takes options only"));
    }
    if (help) {
        std::cout << kHelp;
        return output.status(0);
    }
    if (version) {
        std::cout << kTool.name() << " " TRAVO_VERSION "\n";
        return output.status(0);
    }
    // Standard input is the script unless a file is named.
    if (opt.script == "-") opt.script.clear();
    if (opt.forever) {
        if (std::signal(SIGINT, on_stop_signal) == SIG_ERR ||
            std::signal(SIGTERM, on_stop_signal) == SIG_ERR) {
            kTool.complain("cannot catch SIGINT and SIGTERM for --forever");
            return output.status(1);
        }
    }
    if (platform::os().socket_layer_start() != 0) {
        kTool.complain("the socket layer does not start");
        return output.status(1);
    }
    int status = 0;
    {
        VirtualHost host(opt);
        status = host.prepare();
        if (status == 0) status = host.run();
    }
    platform::os().socket_layer_stop();
    return output.status(status);
}
