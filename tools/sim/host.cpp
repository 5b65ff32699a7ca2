#include "tools/sim/host.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>

#include "tools/common/escape.h"
#include "tools/common/input_file.h"
#include "tools/host_side/fake_host.h"
#include "tools/sim/stdin_lines.h"

namespace sim {

namespace {

using namespace std::chrono_literals;
using simscript::Verb;

// A script is read whole before listening; standard input has no such bound.
constexpr std::size_t kScriptLimit = std::size_t{1024} * 1024;

constexpr const char* kReadyFile = "the ready file";
constexpr const char* kSnapshotFile = "the snapshot";

std::string shown_number(double v) {
    std::ostringstream o;
    o << v;
    return o.str();
}

std::string cannot_listen(std::uint16_t port, int error) {
    std::string why = "cannot listen on 127.0.0.1:" + std::to_string(port);
    if (error == 0) return why + ": the system refused the port";
    why += ": " + std::string(std::strerror(error));
    if (error == EADDRINUSE) why += " (another program listens there; --port 0 picks a free port)";
    return why;
}

// Standard input that is a file or a directory, not a stream (a pipe, a terminal): it can be read
// whole, and is, as a script.
bool standard_input_is_a_file() {
    struct stat st {};
    return ::fstat(0, &st) == 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode));
}

}  // namespace

VirtualHost::VirtualHost(const Options& options)
    : opt_(options), report_(options.ansi, options.trace), clients_(opt_, report_) {}

VirtualHost::~VirtualHost() {
    // The port it names is nobody's once the run is over: a script waiting for the file must
    // not find it. Only the file as written goes; a link, or a file rewritten since, stays.
    if (ready_text_.empty()) return;
    std::error_code error;
    if (std::filesystem::symlink_status(opt_.ready_file, error).type() !=
        std::filesystem::file_type::regular)
        return;
    if (toolkit::read_bounded(opt_.ready_file, ready_text_.size()).bytes == ready_text_)
        std::filesystem::remove(opt_.ready_file, error);
}

int VirtualHost::prepare() {
    files_.reads(opt_.script.empty() ? "-" : opt_.script, "the script");
    std::string text;
    streamed_ = opt_.script.empty() && !standard_input_is_a_file();
    if (!streamed_) {
        if (const std::string why = read_script(&text); !why.empty()) return kTool.refuse(why);
    }
    if (!opt_.ready_file.empty()) {
        if (const std::string why = files_.claim(opt_.ready_file, kReadyFile); !why.empty())
            return kTool.refuse(why);
    }
    if (!opt_.snapshot.empty()) {
        if (const std::string why = files_.claim(opt_.snapshot, kSnapshotFile); !why.empty())
            return kTool.refuse(why);
    }
    // Every line of a script is known now: a mistake in any of them, or a snapshot it cannot
    // write, ends the run before a client is kept waiting for it.
    const std::string where = script_name();
    std::istringstream lines(text);
    int number = 0;
    for (simscript::LineRead kind;
         (kind = simscript::read_line(lines, &text)) != simscript::LineRead::kEnd;) {
        ++number;
        simscript::Command command;
        std::string why;
        if (simscript::parse_line(kind, text, &command, &why) && command.verb == Verb::kSnapshot)
            why = files_.claim(command.text, kSnapshotFile);
        if (!why.empty())
            return kTool.refuse(where + " line " + std::to_string(number) + ": " + why);
        if (command.verb != Verb::kNothing) script_.push_back({number, std::move(command)});
    }
    return 0;
}

// The script, read whole and no further than its bound, without waiting on a pipe.
std::string VirtualHost::read_script(std::string* text) {
    const std::string name = script_name();
    toolkit::FileBytes file =
        toolkit::read_bounded(opt_.script.empty() ? "-" : opt_.script, kScriptLimit);
    using Kind = toolkit::FileBytes::Kind;
    if (file.kind != Kind::read) {
        const bool stream =
            file.kind == Kind::fifo || file.kind == Kind::socket || file.kind == Kind::device;
        return "cannot read " + (opt_.script.empty() ? "the commands on " + name : name) + ": " +
               toolkit::why_unreadable(file) +
               (stream ? "; give a pipe's commands on standard input" : "");
    }
    if (file.more) {
        return name + " is longer than " + std::to_string(kScriptLimit / 1024 / 1024) +
               " MiB; give the commands through a pipe instead";
    }
    *text = std::move(file.bytes);
    return {};
}

int VirtualHost::run() {
    errno = 0;
    if (!clients_.listen()) return fail(cannot_listen(opt_.port, errno));
    report_.say("listening on 127.0.0.1:" + std::to_string(clients_.port()) +
                (opt_.size_unit == 4 ? " (Size in 4-byte units)" : "") +
                ", waiting for the client");
    if (!opt_.ready_file.empty()) {
        const std::string text = std::to_string(clients_.port()) + "\n";
        if (const std::string why = files_.write(opt_.ready_file, text, kReadyFile); !why.empty())
            return fail(why);
        ready_text_ = text;
    }
    if (!await_first_client()) return stopping() ? finish() : 1;

    std::optional<StdinLines> input;
    if (streamed_) input.emplace();
    const std::string source = streamed_ ? "input" : script_name();
    std::size_t next = 0;  // of the script's lines
    int typed = 0;         // lines of standard input so far
    bool flowing = false;  // standard input gave a line the last time it was asked
    bool quit = false;
    while (!quit && !stopping()) {
        simscript::Command command;
        int number = 0;
        if (!input) {
            if (next == script_.size()) break;
            command = script_[next].command;
            number = script_[next++].number;
        } else {
            bool ended = false;
            const auto line = input->poll(&ended);
            if (!line) {
                if (ended && !input->failure().empty()) {
                    report_.complain("cannot read the commands on standard input: " +
                                     input->failure());
                    return toolkit::kUsageStatus;
                }
                if (ended) break;
                // Lines that come in a stream are taken as fast as they come.
                clients_.serve(Clock::now() + (flowing ? 1ms : 20ms));
                flowing = false;
                continue;
            }
            flowing = true;
            number = ++typed;
            std::string why;
            if (!simscript::parse_line(line->kind, line->text, &command, &why)) {
                report_.complain("input line " + std::to_string(number) + ": " + why +
                                 " (refused)");
                continue;
            }
            if (command.verb == Verb::kNothing) continue;
        }
        if (const std::string why = execute(command, &quit); !why.empty()) {
            const std::string where = source + " line " + std::to_string(number) + ": ";
            if (!opt_.forever) return fail(where + why);
            report_.complain(where + why + " (skipped)");
        }
        // The clients are served between commands, without waiting.
        if (!quit) clients_.serve(Clock::now());
    }
    if (opt_.forever && !quit && !stopping()) {
        report_.say("the commands have ended; serving clients until stopped (SIGINT or SIGTERM)");
        while (!stopping()) clients_.serve(Clock::now() + 1s);
    }
    return finish();
}

std::string VirtualHost::script_name() const {
    if (opt_.script.empty()) return "standard input";
    return "the script " + toolkit::escaped(opt_.script, toolkit::Policy::name);
}

bool VirtualHost::await_first_client() {
    const auto deadline = Clock::now() + seconds(opt_.wait_client);
    for (;;) {
        // A client may already have made its handshake and gone again.
        if (clients_.greeted_any()) return true;
        if (stopping()) return false;
        // One that failed its handshake (a port probe, another program) was not the one awaited.
        if (!opt_.forever && !clients_.handshaking() && Clock::now() >= deadline) {
            fail("no client made its handshake within " + shown_number(opt_.wait_client) + " s");
            return false;
        }
        clients_.serve(Clock::now() + 50ms);
    }
}

std::string VirtualHost::execute(const simscript::Command& command, bool* quit) {
    switch (command.verb) {
        case Verb::kNothing:
            return {};
        case Verb::kJoin:
            report_.player(command.name, "joins");
            return clients_.to_every_client(hostside::ncn_packet(command.name));
        case Verb::kSay:
            report_.player(command.name, "types " + command.text);
            return clients_.to_every_client(hostside::say_packet(command.name, command.text));
        case Verb::kChat:
            return clients_.to_every_client(hostside::mso_packet(command.text_start, command.text));
        case Verb::kWait:
            clients_.serve(Clock::now() + seconds(command.seconds));
            return {};
        case Verb::kScreen:
            // The answers to what came just before have a moment to arrive.
            clients_.serve(Clock::now() + 50ms);
            report_.draw();
            return {};
        case Verb::kSnapshot:
            return write_snapshot(command.text);
        case Verb::kClose:
        case Verb::kReset:
            return clients_.end(command.verb == Verb::kClose, command.client);
        case Verb::kQuit:
            *quit = true;
            return {};
    }
    return {};
}

std::string VirtualHost::write_snapshot(const std::string& path) {
    if (std::string why = files_.write(path, report_.svg(), kSnapshotFile); !why.empty())
        return why;
    report_.say("screen written to " + toolkit::escaped(path, toolkit::Policy::name));
    return {};
}

int VirtualHost::finish() {
    if (!stopping()) clients_.serve(Clock::now() + 200ms);
    report_.draw_changes();
    if (!opt_.snapshot.empty()) {
        if (const std::string why = write_snapshot(opt_.snapshot); !why.empty()) return fail(why);
    }
    report_.say_last("done");
    return 0;
}

int VirtualHost::fail(const std::string& reason) {
    report_.complain(reason);
    return 1;
}

}  // namespace sim
