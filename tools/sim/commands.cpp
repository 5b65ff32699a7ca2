#include "tools/sim/commands.h"

#include "tools/common/escape.h"
#include "tools/common/numbers.h"

namespace simscript {

namespace {

using toolkit::parse_number;
using toolkit::range_words;

std::string_view trim(std::string_view s) {
    const std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const std::size_t last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

// Unknown words are shown, cut short: a line may be 4 KB of anything.
std::string shown_word(std::string_view word) {
    return toolkit::escaped_start(word, toolkit::Policy::terminal, 40);
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

bool parse_command(std::string_view raw, Command* out, std::string* reason) {
    *out = Command{};
    std::string_view line = raw;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') return true;
    line.remove_prefix(first);
    const std::size_t space = line.find(' ');
    const std::string_view verb = line.substr(0, space);
    const std::string_view rest =
        space == std::string_view::npos ? std::string_view() : line.substr(space + 1);

    if (verb == "join" || verb == "say" || verb == "chat") {
        if (rest.empty()) {
            *reason = std::string(verb) + " needs an argument";
            return false;
        }
        if (verb == "join") {
            out->verb = Verb::kJoin;
            out->name = rest;
            return true;
        }
        const std::size_t cut = rest.find(' ');
        const std::string_view head = rest.substr(0, cut);
        const std::string_view text =
            cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
        out->text = text;
        if (verb == "say") {
            out->verb = Verb::kSay;
            out->name = head;
            return true;
        }
        const auto start = parse_number(head, 0, 127, true);
        if (!start) {
            *reason = "chat needs a TextStart from 0 to 127";
            return false;
        }
        out->verb = Verb::kChat;
        out->text_start = static_cast<std::uint8_t>(*start);
        return true;
    }
    if (verb == "wait") {
        const auto s = parse_number(trim(rest), 0, kMaxWaitSeconds, false);
        if (!s) {
            *reason = "wait needs " + range_words(0, kMaxWaitSeconds, false, "seconds");
            return false;
        }
        out->verb = Verb::kWait;
        out->seconds = *s;
        return true;
    }
    if (verb == "screen") {
        out->verb = Verb::kScreen;
        return true;
    }
    if (verb == "snapshot") {
        if (rest.empty()) {
            *reason = "snapshot needs a file name";
            return false;
        }
        out->verb = Verb::kSnapshot;
        out->text = rest;
        return true;
    }
    if (verb == "close" || verb == "reset") {
        out->verb = verb == "close" ? Verb::kClose : Verb::kReset;
        const std::string_view number = trim(rest);
        if (number.empty()) return true;
        const auto n = parse_number(number, 1, kMaxClientNumber, true);
        if (!n) {
            *reason = std::string(verb) + " takes a client number from 1 to " +
                      std::to_string(kMaxClientNumber);
            return false;
        }
        out->client = static_cast<int>(*n);
        return true;
    }
    if (verb == "quit") {
        out->verb = Verb::kQuit;
        return true;
    }
    *reason = "unknown command \"" + shown_word(verb) + "\"";
    return false;
}

}  // namespace simscript
