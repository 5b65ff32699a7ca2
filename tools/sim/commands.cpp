#include "tools/sim/commands.h"

#include <algorithm>
#include <utility>

#include "insim/records.h"
#include "tools/common/escape.h"
#include "tools/common/numbers.h"

namespace simscript {

namespace {

using toolkit::parse_number;
using toolkit::range_words;

constexpr std::string_view kBlanks = " \t";

// A player's name, as IS_NCN's PName holds it with its zero.
constexpr std::size_t kMaxName = sizeof(insim::IS_NCN::PName) - 1;
// A chat line, as IS_MSO's Msg holds it with its zero.
constexpr std::size_t kMaxChat = sizeof(insim::IS_MSO::Msg) - 1;

// The first word of `s` (which starts with none of the blanks) and what follows the blanks
// after it.
std::pair<std::string_view, std::string_view> split_word(std::string_view s) {
    const std::size_t end = std::min(s.find_first_of(kBlanks), s.size());
    const std::size_t next = std::min(s.find_first_not_of(kBlanks, end), s.size());
    return {s.substr(0, end), s.substr(next)};
}

std::string_view trim_end(std::string_view s) {
    const std::size_t last = s.find_last_not_of(kBlanks);
    return last == std::string_view::npos ? std::string_view() : s.substr(0, last + 1);
}

// Unknown words are shown, cut short: a line may be 4 KB of anything.
std::string shown_word(std::string_view word) {
    return toolkit::escaped_start(word, toolkit::Policy::terminal, 40);
}

std::string too_long(std::string_view what, std::size_t bytes, std::size_t most,
                     std::string_view holder) {
    return std::string(what) + " is " + std::to_string(bytes) + " bytes, more than the " +
           std::to_string(most) + " " + std::string(holder) + " holds";
}

}  // namespace

LineRead read_line(std::istream& in, std::string* line) {
    line->clear();
    bool any = false;
    bool too_long = false;
    for (;;) {
        const int c = in.get();
        if (c == std::char_traits<char>::eof()) {
            if (!any) return LineRead::kEnd;
            break;
        }
        any = true;
        if (c == '\n') break;
        if (line->size() < kMaxLineBytes)
            line->push_back(static_cast<char>(c));
        else
            too_long = true;
    }
    if (too_long) {
        line->clear();
        return LineRead::kTooLong;
    }
    return LineRead::kLine;
}

bool parse_line(LineRead kind, std::string_view line, Command* out, std::string* reason) {
    if (kind != LineRead::kTooLong) return parse_command(line, out, reason);
    *out = Command{};
    *reason = "the line is longer than " + std::to_string(kMaxLineBytes) + " bytes";
    return false;
}

bool parse_command(std::string_view raw, Command* out, std::string* reason) {
    *out = Command{};
    std::string_view line = raw;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t first = line.find_first_not_of(kBlanks);
    if (first == std::string_view::npos || line[first] == '#') return true;
    const auto [verb, rest] = split_word(line.substr(first));
    const auto fail = [reason](std::string why) {
        *reason = std::move(why);
        return false;
    };

    if (verb == "join") {
        if (rest.empty()) return fail("join needs a name");
        if (rest.size() > kMaxName)
            return fail(too_long("the name", rest.size(), kMaxName, "a player's name"));
        out->verb = Verb::kJoin;
        out->name = rest;
        return true;
    }
    if (verb == "say") {
        const auto [name, text] = split_word(rest);
        if (name.empty() || text.empty()) return fail("say needs a name and a text");
        if (name.size() > kMaxName)
            return fail(too_long("the name", name.size(), kMaxName, "a player's name"));
        // The host puts " ^8" between the name and the text.
        const std::size_t msg = name.size() + 3 + text.size();
        if (msg > kMaxChat)
            return fail(too_long("the chat line with the name", msg, kMaxChat, "a chat packet"));
        out->verb = Verb::kSay;
        out->name = name;
        out->text = text;
        return true;
    }
    if (verb == "chat") {
        // The text as it stands after the one blank or tab that ends TextStart: exactly this Msg.
        const std::size_t end = std::min(rest.find_first_of(kBlanks), rest.size());
        const std::string_view head = rest.substr(0, end);
        const std::string_view text = rest.substr(std::min(end + 1, rest.size()));
        const auto start = parse_number(head, 0, 127, true);
        if (!start) return fail("chat needs a TextStart from 0 to 127, then a text");
        if (text.empty()) return fail("chat needs a text after its TextStart");
        if (text.size() > kMaxChat)
            return fail(too_long("the chat line", text.size(), kMaxChat, "a chat packet"));
        out->verb = Verb::kChat;
        out->text_start = static_cast<std::uint8_t>(*start);
        out->text = text;
        return true;
    }
    if (verb == "wait") {
        const auto s = parse_number(trim_end(rest), 0, kMaxWaitSeconds, false);
        if (!s) return fail("wait needs " + range_words(0, kMaxWaitSeconds, false, "seconds"));
        out->verb = Verb::kWait;
        out->seconds = *s;
        return true;
    }
    if (verb == "snapshot") {
        if (rest.empty()) return fail("snapshot needs a file name");
        out->verb = Verb::kSnapshot;
        out->text = rest;
        return true;
    }
    if (verb == "close" || verb == "reset") {
        out->verb = verb == "close" ? Verb::kClose : Verb::kReset;
        const std::string_view number = trim_end(rest);
        if (number.empty()) return true;
        const auto n = parse_number(number, 1, kMaxClientNumber, true);
        if (!n)
            return fail(std::string(verb) + " takes one client number from 1 to " +
                        std::to_string(kMaxClientNumber));
        out->client = static_cast<int>(*n);
        return true;
    }
    if (verb == "screen" || verb == "quit") {
        if (!trim_end(rest).empty())
            return fail(std::string(verb) + " takes nothing after it, not \"" +
                        shown_word(trim_end(rest)) + "\"");
        out->verb = verb == "screen" ? Verb::kScreen : Verb::kQuit;
        return true;
    }
    return fail("unknown command \"" + shown_word(verb) + "\"");
}

}  // namespace simscript
