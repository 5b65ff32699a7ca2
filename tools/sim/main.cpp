// travo-sim: a virtual simulator host on 127.0.0.1 for trying Travo without the simulator.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "insim/records.h"
#include "tools/host_side/decode.h"
#include "tools/host_side/fake_host.h"
#include "tools/host_side/screen.h"
#include "tools/host_side/text.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

using namespace std::chrono_literals;
using hostside::Clock;

namespace {

constexpr const char* kHelp = R"(Usage: travo-sim [options]

A virtual Live for Speed host for Travo: listens on 127.0.0.1 for one InSim client,
answers its handshake, plays players from a script or from standard input, and shows
what the players would see: the chat lines and the button screen.

Options:
  --port N            TCP port to listen on (default 29999)
  --host-version TEXT host version reported in IS_VER (default 0.7F)
  --insim-version N   InSim version reported in IS_VER (default 9)
  --keepalive SECONDS send a keep-alive this often, 0 = never (default 30)
  --cars N            cars on track: multi-car packets at the client's interval (default 0)
  --script FILE       read the commands from FILE instead of standard input
  --snapshot FILE     write the screen as an SVG picture at exit
  --ready-file FILE   create FILE once listening (for scripts that start the client)
  --wait-client SECS  how long to wait for the client to connect (default 60)
  --trace             print every packet in both directions, decoded
  --plain             no terminal colours
  --help              this text
  --version           the name and version of this program

Commands (one a line, # starts a comment):
  join NAME           a connection joins with nickname NAME (IS_NCN)
  say NAME TEXT       NAME types TEXT: IS_MSO with Msg = NAME + " ^8" + TEXT and
                      TextStart = length of NAME + 1, as the host reports chat lines
  chat TEXTSTART TEXT an IS_MSO with exactly this Msg and TextStart
  wait SECONDS        serve the connection for that long
  screen              draw the button screen now
  snapshot FILE.svg   write the button screen as an SVG picture
  close               close the connection
  reset               reset the connection
  quit                end here

Exit status: 0 when the commands ran to their end, 1 with a one-line reason otherwise,
2 for a usage error.
)";

// Changes closer together than this are drawn once.
constexpr std::chrono::milliseconds kRedrawPause(150);
// A keep-alive not answered within this is reported.
constexpr std::chrono::seconds kKeepAliveAnswerLimit(2);

struct Options {
    std::uint16_t port = 29999;
    std::string version = "0.7F";
    std::uint16_t insim_version = 9;
    double keepalive = 30;
    int cars = 0;
    std::string script;
    std::string snapshot;
    std::string ready_file;
    double wait_client = 60;
    bool trace = false;
    bool ansi = false;
};

// Lines from standard input, read on their own thread so the connection is served meanwhile.
class StdinLines {
  public:
    StdinLines() {
        std::thread([this] {
            std::string line;
            while (std::getline(std::cin, line)) {
                std::lock_guard<std::mutex> hold(mutex_);
                lines_.push_back(line);
            }
            done_ = true;
        }).detach();
    }
    // A line if one is ready; nothing otherwise. `ended` once input is over.
    std::optional<std::string> poll(bool* ended) {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!lines_.empty()) {
            std::string l = lines_.front();
            lines_.pop_front();
            return l;
        }
        *ended = done_;
        return std::nullopt;
    }

  private:
    std::mutex mutex_;
    std::deque<std::string> lines_;
    std::atomic<bool> done_{false};
};

class VirtualHost {
  public:
    explicit VirtualHost(const Options& o) : opt_(o) {}

    int run() {
        if (!host_.listen(opt_.port))
            return fail("cannot listen on 127.0.0.1:" + std::to_string(opt_.port));
        say("listening on 127.0.0.1:" + std::to_string(host_.port()) + ", waiting for the client");
        if (!opt_.ready_file.empty()) std::ofstream(opt_.ready_file) << host_.port() << '\n';
        if (!host_.accept(std::chrono::milliseconds(static_cast<long>(opt_.wait_client * 1000))))
            return fail("no client connected within " + fmt(opt_.wait_client) + " s");
        if (!handshake()) return 1;

        std::ifstream script_file;
        std::optional<StdinLines> stdin_lines;
        if (!opt_.script.empty()) {
            script_file.open(opt_.script);
            if (!script_file) return fail("cannot read the script " + opt_.script);
        } else {
            stdin_lines.emplace();
        }

        int line_number = 0;
        for (;;) {
            serve(Clock::now() + 20ms);
            std::optional<std::string> line;
            bool ended = false;
            if (stdin_lines) {
                line = stdin_lines->poll(&ended);
            } else {
                std::string l;
                if (std::getline(script_file, l))
                    line = l;
                else
                    ended = true;
            }
            if (!line) {
                if (ended) break;
                continue;
            }
            ++line_number;
            std::string reason;
            const Step step = command(*line, &reason);
            if (step == Step::kFailed)
                return fail((opt_.script.empty() ? "input" : opt_.script) + " line " +
                            std::to_string(line_number) + ": " + reason);
            if (step == Step::kQuit) break;
        }
        serve(Clock::now() + 200ms);
        draw_if_changed(true);
        if (!opt_.snapshot.empty() && !write_snapshot(opt_.snapshot))
            return fail("cannot write " + opt_.snapshot);
        say("done");
        return 0;
    }

  private:
    enum class Step { kNext, kQuit, kFailed };

    static std::string fmt(double v) {
        std::ostringstream o;
        o << v;
        return o.str();
    }

    void say(const std::string& line) { std::cout << "travo-sim: " << line << std::endl; }
    int fail(const std::string& reason) {
        std::cerr << "travo-sim: " << reason << std::endl;
        return 1;
    }

    bool handshake() {
        auto p = host_.next_packet(10s);
        if (!p) {
            fail("the client sent no IS_ISI within 10 s");
            return false;
        }
        trace_in(*p);
        if (p->type() != insim::ISP_ISI || p->bytes.size() != sizeof(insim::IS_ISI)) {
            fail("the client's first packet is not an IS_ISI: " +
                 hostside::describe_packet(p->bytes));
            return false;
        }
        insim::IS_ISI isi;
        std::memcpy(&isi, p->bytes.data(), sizeof isi);
        const std::string name(isi.IName, strnlen(isi.IName, sizeof isi.IName));
        say("client \"" + hostside::terminal_text(name, opt_.ansi) + "\" connected: prefix '" +
            std::string(1, static_cast<char>(isi.Prefix)) + "', flags " +
            std::to_string(isi.Flags.get()) + ", interval " + std::to_string(isi.Interval.get()) +
            " ms, admin password " + (isi.Admin[0] != 0 ? "given" : "not given"));
        if ((isi.Flags.get() & insim::ISF_MCI) != 0) mci_interval_ = isi.Interval.get();
        if (isi.ReqI != 0) {
            send(hostside::version_packet(opt_.version, opt_.insim_version, isi.ReqI));
        }
        const auto now = Clock::now();
        next_keepalive_ = now + seconds(opt_.keepalive);
        next_mci_ = now + std::chrono::milliseconds(mci_interval_);
        return true;
    }

    static Clock::duration seconds(double s) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
    }

    bool send(const hostside::Bytes& b) {
        if (opt_.trace) std::cout << "-> " << hostside::describe_packet(b) << std::endl;
        return host_.send_raw(b);
    }

    void trace_in(const hostside::ReceivedPacket& p) {
        if (opt_.trace) std::cout << "<- " << hostside::describe_packet(p.bytes) << std::endl;
    }

    // Serves the connection until `until`: packets in, keep-alives and multi-car packets out.
    void serve(Clock::time_point until) {
        for (;;) {
            const auto now = Clock::now();
            if (host_.connected() && !client_gone_) timers(now);
            if (now >= until) break;
            auto next = until;
            if (dirty_) next = std::min(next, last_change_ + kRedrawPause);
            if (host_.connected() && !client_gone_) {
                auto p = host_.next_packet(std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::max(next - now, Clock::duration(1ms))));
                if (p) {
                    on_packet(*p);
                    continue;
                }
                if (host_.client_closed(0ms) && !client_gone_) {
                    client_gone_ = true;
                    say("the client closed the connection");
                }
            } else {
                std::this_thread::sleep_for(std::min<Clock::duration>(next - now, 50ms));
            }
            draw_if_changed(false);
        }
    }

    void timers(Clock::time_point now) {
        if (opt_.keepalive > 0 && now >= next_keepalive_) {
            send(hostside::tiny_packet(insim::TINY_NONE));
            keepalive_sent_ = now;
            awaiting_keepalive_ = true;
            next_keepalive_ = now + seconds(opt_.keepalive);
        }
        if (awaiting_keepalive_ && now - keepalive_sent_ > kKeepAliveAnswerLimit) {
            say("the client did not answer the keep-alive within 2 s");
            awaiting_keepalive_ = false;
        }
        if (opt_.cars > 0 && mci_interval_ > 0 && now >= next_mci_) {
            send(hostside::mci_packet(static_cast<std::uint8_t>(opt_.cars)));
            next_mci_ = now + std::chrono::milliseconds(mci_interval_);
        }
    }

    void on_packet(const hostside::ReceivedPacket& p) {
        trace_in(p);
        for (const std::string& f : hostside::client_packet_faults(p.bytes))
            say("protocol fault: " + f);
        if (const std::string note = hostside::grid_overhang_note(p.bytes); !note.empty()) {
            if (noted_.insert(note).second) say("note: " + note);
        }
        switch (p.type()) {
            case insim::ISP_TINY:
                if (p.bytes.size() == 4 && p.bytes[3] == insim::TINY_NONE)
                    awaiting_keepalive_ = false;
                if (p.bytes.size() == 4 && p.bytes[3] == insim::TINY_CLOSE)
                    say("the client closes InSim");
                break;
            case insim::ISP_MST:
                show_chat(hostside::chat_text(p));
                break;
            case insim::ISP_BTN:
            case insim::ISP_BFN:
                if (screen_.apply(p.bytes)) {
                    dirty_ = true;
                    last_change_ = Clock::now();
                }
                break;
            default:
                break;
        }
    }

    void show_chat(std::string_view msg) {
        draw_if_changed(true);
        constexpr std::string_view kMsg = "/msg ";
        if (msg.substr(0, kMsg.size()) == kMsg) {
            std::cout << "[chat] " << hostside::terminal_text(msg.substr(kMsg.size()), opt_.ansi)
                      << std::endl;
        } else {
            std::cout << "[typed] " << hostside::terminal_text(msg, opt_.ansi) << std::endl;
        }
    }

    void draw_if_changed(bool now) {
        if (!dirty_ || (!now && Clock::now() - last_change_ < kRedrawPause)) return;
        dirty_ = false;
        draw();
    }

    void draw() {
        std::cout << "[screen] " << screen_.buttons().size() << " buttons\n"
                  << screen_.render_terminal(opt_.ansi) << std::flush;
    }

    bool write_snapshot(const std::string& path) {
        std::ofstream out(path, std::ios::binary);
        out << screen_.svg();
        out.close();
        if (!out) return false;
        say("screen written to " + path);
        return true;
    }

    bool need_client(std::string* reason) {
        if (host_.connected() && !client_gone_) return true;
        *reason = "no client is connected";
        return false;
    }

    Step command(const std::string& raw, std::string* reason) {
        std::string line = raw;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') return Step::kNext;
        line = line.substr(first);
        const std::size_t space = line.find(' ');
        const std::string verb = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);

        if (verb == "join" || verb == "say" || verb == "chat") {
            if (rest.empty()) {
                *reason = verb + " needs an argument";
                return Step::kFailed;
            }
            if (!need_client(reason)) return Step::kFailed;
            hostside::Bytes packet;
            if (verb == "join") {
                packet = hostside::ncn_packet(rest);
            } else {
                const std::size_t cut = rest.find(' ');
                const std::string head = rest.substr(0, cut);
                const std::string text = cut == std::string::npos ? "" : rest.substr(cut + 1);
                if (verb == "say") {
                    packet = hostside::say_packet(head, text);
                } else {
                    char* end = nullptr;
                    const long start = std::strtol(head.c_str(), &end, 10);
                    if (end == head.c_str() || *end != '\0' || start < 0 || start > 127) {
                        *reason = "chat needs a TextStart from 0 to 127";
                        return Step::kFailed;
                    }
                    packet = hostside::mso_packet(static_cast<std::uint8_t>(start), text);
                }
            }
            if (!send(packet)) {
                *reason = "the connection is broken";
                return Step::kFailed;
            }
            return Step::kNext;
        }
        if (verb == "wait") {
            char* end = nullptr;
            const double s = std::strtod(rest.c_str(), &end);
            if (end == rest.c_str() || s < 0) {
                *reason = "wait needs a number of seconds";
                return Step::kFailed;
            }
            serve(Clock::now() + seconds(s));
            return Step::kNext;
        }
        if (verb == "screen") {
            serve(Clock::now() + 50ms);
            dirty_ = false;
            draw();
            return Step::kNext;
        }
        if (verb == "snapshot") {
            if (rest.empty()) {
                *reason = "snapshot needs a file name";
                return Step::kFailed;
            }
            if (!write_snapshot(rest)) {
                *reason = "cannot write " + rest;
                return Step::kFailed;
            }
            return Step::kNext;
        }
        if (verb == "close" || verb == "reset") {
            if (!need_client(reason)) return Step::kFailed;
            verb == "close" ? host_.close() : host_.reset();
            client_gone_ = true;
            say(verb == "close" ? "connection closed" : "connection reset");
            return Step::kNext;
        }
        if (verb == "quit") return Step::kQuit;
        *reason = "unknown command \"" + verb + "\"";
        return Step::kFailed;
    }

    Options opt_;
    hostside::FakeHost host_;
    hostside::ScreenModel screen_;
    bool client_gone_ = false;
    bool dirty_ = false;
    Clock::time_point last_change_{};
    Clock::time_point next_keepalive_{};
    Clock::time_point keepalive_sent_{};
    bool awaiting_keepalive_ = false;
    unsigned mci_interval_ = 0;
    Clock::time_point next_mci_{};
    std::set<std::string> noted_;
};

bool stdout_is_terminal() {
#ifdef _WIN32
    return _isatty(1) != 0;
#else
    return isatty(1) != 0;
#endif
}

bool parse_number(const char* text, double min, double max, double* out) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || v < min || v > max) return false;
    *out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    opt.ansi = stdout_is_terminal();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](double min, double max, double* out) {
            return i + 1 < argc && parse_number(argv[++i], min, max, out);
        };
        double v = 0;
        bool ok = true;
        if (a == "--help" || a == "-h") {
            std::cout << kHelp;
            return 0;
        } else if (a == "--version") {
            std::cout << "travo-sim " TRAVO_VERSION "\n";
            return 0;
        } else if (a == "--port") {
            ok = value(0, 65535, &v);
            opt.port = static_cast<std::uint16_t>(v);
        } else if (a == "--insim-version") {
            ok = value(0, 65535, &v);
            opt.insim_version = static_cast<std::uint16_t>(v);
        } else if (a == "--keepalive") {
            ok = value(0, 86400, &opt.keepalive);
        } else if (a == "--cars") {
            ok = value(0, 8, &v);
            opt.cars = static_cast<int>(v);
        } else if (a == "--wait-client") {
            ok = value(0, 86400, &opt.wait_client);
        } else if (a == "--host-version" || a == "--script" || a == "--snapshot" ||
                   a == "--ready-file") {
            ok = i + 1 < argc;
            if (ok) {
                const std::string s = argv[++i];
                (a == "--host-version" ? opt.version
                 : a == "--script"     ? opt.script
                 : a == "--snapshot"   ? opt.snapshot
                                       : opt.ready_file) = s;
            }
        } else if (a == "--trace") {
            opt.trace = true;
        } else if (a == "--plain") {
            opt.ansi = false;
        } else {
            ok = false;
        }
        if (!ok) {
            std::cerr << "travo-sim: bad option " << a << " (see --help)" << std::endl;
            return 2;
        }
    }
    if (platform::socket_layer_start() != 0) {
        std::cerr << "travo-sim: the socket layer does not start" << std::endl;
        return 1;
    }
    const int status = VirtualHost(opt).run();
    platform::socket_layer_stop();
    return status;
}
