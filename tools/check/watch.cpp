#include "tools/check/watch.h"

#include <algorithm>
#include <string_view>

#include "app/handlers.h"
#include "insim/builders.h"
#include "insim/records.h"
#include "tools/check/checker.h"
#include "tools/common/escape.h"

namespace travo_check {
namespace {

using Verdict = app::ChatReading::Verdict;

// A Ctrl+C is noticed within this, also where it does not interrupt a wait (Windows).
constexpr unsigned long long kSliceMs = 200;

std::string column(std::size_t index) {
    return "column " + std::to_string(index + 1);
}

// What follows the first '!': the word a player meant, up to a blank.
std::string word_at(std::string_view text, std::size_t bang) {
    const std::string_view word = text.substr(bang, text.find(' ', bang) - bang);
    return toolkit::escaped_start(word, toolkit::Policy::text, 20);
}

std::string verdict_text(const app::ChatReading& r, std::size_t size) {
    switch (r.verdict) {
        case Verdict::fb:
            return "travo answers !fb (the Facebook page)";
        case Verdict::luz:
            return "travo answers !luz (the start light)";
        case Verdict::r1:
            return "travo answers !r1 (shows the rules)";
        case Verdict::r0:
            return "travo answers !r0 (removes the rules)";
        case Verdict::web:
            return "travo answers !web (the web page)";
        case Verdict::short_record:
            return "no command: a chat record of " + plural(size, "byte", "bytes") +
                   " is too short to hold TextStart";
        case Verdict::text_start_zero:
            return "no command: TextStart is 0 (a line without a sender), which travo ignores";
        case Verdict::not_after_mark:
            if (r.bang == std::string_view::npos) return "no command: the line holds no \"!\"";
            if (r.mark == std::string_view::npos) {
                return "no command: with no \"^\" or \"L\" in the line, travo wants the first "
                       "\"!\" at column 2, and it is at " +
                       column(r.bang);
            }
            return "no command: travo wants the first \"!\" two characters after the first "
                   "\"^\" or \"L\" (" +
                   column(r.mark) + "), at " + column(r.mark + 2) + ", and it is at " +
                   column(r.bang);
        case Verdict::unknown_word:
            if (r.text.substr(r.bang, 4) == "!web") {
                return "no command: \"!web\" counts only at the very end of the line";
            }
            return "no command: " + word_at(r.text, r.bang) +
                   " is none of travo's commands (!fb, !luz, !r1, !r0, !web)";
    }
    return {};
}

bool answered(Verdict v) {
    return v == Verdict::fb || v == Verdict::luz || v == Verdict::r1 || v == Verdict::r0 ||
           v == Verdict::web;
}

std::string line_of(const app::ChatReading& r, const std::uint8_t* packet, std::size_t size) {
    std::string out = "chat " + toolkit::escaped(r.text, toolkit::Policy::text);
    if (r.verdict != Verdict::short_record) {
        const auto mso = insim::record_from<insim::IS_MSO>(packet, size);
        out += " (TextStart " + std::to_string(mso.TextStart) + ")";
    }
    return out + ": " + verdict_text(r, size);
}

}  // namespace

std::string watch_line(const std::uint8_t* packet, std::size_t size) {
    return line_of(app::read_chat_line(packet, size), packet, size);
}

ConnectReport watch_chat(const Connected& connected, std::chrono::milliseconds duration,
                         const std::function<bool()>& stopped, std::ostream& out) {
    insim::HostConnection& connection = connected.connection;
    platform::Platform& clock = connection.platform();
    const unsigned long long end =
        duration.count() > 0
            ? clock.monotonic_ms() + static_cast<unsigned long long>(duration.count())
            : insim::HostConnection::kNoDeadline;
    out << kTool.line("watching the chat of " + connected.where + " (" + connected.version +
                      ") through travo's handshake, as travo sees it; nothing is sent to "
                      "players; Ctrl+C ends")
        << std::endl;
    std::size_t lines = 0;
    std::size_t answers = 0;
    const auto counted = [&] {
        return plural(lines, "chat line", "chat lines") + ", " + std::to_string(answers) +
               " answered by travo";
    };
    for (;;) {
        const bool stop = stopped && stopped();
        const unsigned long long now = clock.monotonic_ms();
        if (stop || now >= end) {
            return doctor_report(
                ConnectReport::Outcome::connected,
                std::string(stop ? "stopped" : "time is up") + " after " + counted(), 0);
        }
        const int got = connection.receive_packet_until(std::min(end, now + kSliceMs));
        if (got == 0) {
            if (connection.packet_type() != insim::ISP_MSO) continue;
            ++lines;
            const std::uint8_t* p = connection.packet_data();
            const app::ChatReading r = app::read_chat_line(p, connection.packet_size());
            answers += answered(r.verdict) ? 1 : 0;
            out << line_of(r, p, connection.packet_size()) << std::endl;
            continue;
        }
        // The slice ended, or packets wait behind it; an interrupt may cut a wait short.
        if (got == insim::HostConnection::kTimeUp || got == insim::HostConnection::kLate ||
            (stopped && stopped()))
            continue;
        if (got == insim::HostConnection::kClosed) {
            return doctor_report(ConnectReport::Outcome::closed,
                                 "the host closed the connection after " + counted(), 1);
        }
        if (got == insim::HostConnection::kNotRecords) {
            return doctor_report(ConnectReport::Outcome::not_insim,
                                 "the host sent a record of Size 0 (its stream cannot be "
                                 "cut into records from there) after " +
                                     counted(),
                                 1);
        }
        return doctor_report(ConnectReport::Outcome::reset,
                             "the connection was reset or failed after " + counted(), 1);
    }
}

}  // namespace travo_check
