// The virtual host's command lines, read without side effects so that every
// line can be checked on its own (and fuzzed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

namespace simscript {

enum class Verb { kNothing, kJoin, kSay, kChat, kWait, kScreen, kSnapshot, kClose, kReset, kQuit };

struct Command {
    Verb verb = Verb::kNothing;   // kNothing: a blank line or a comment
    std::string name;             // join, say
    std::string text;             // say and chat: the text; snapshot: the file
    std::uint8_t text_start = 0;  // chat
    double seconds = 0;           // wait
    int client = 0;               // close, reset: one client's number, or 0 for every client
};

inline constexpr double kMaxWaitSeconds = 86400;
inline constexpr int kMaxClientNumber = 1000000;
inline constexpr std::size_t kMaxLineBytes = 4096;

// One line without its LF (a CR before it is dropped here). False, with the reason, when it is
// not a command.
bool parse_command(std::string_view line, Command* out, std::string* reason);

enum class LineRead { kLine, kTooLong, kEnd };
// The next line, at most kMaxLineBytes; a longer one is read to its end and reported, so that
// memory stays bounded whatever comes in.
LineRead read_line(std::istream& in, std::string* line);

// A line as read_line() read it: parse_command(), or the reason a line too long is refused.
bool parse_line(LineRead kind, std::string_view line, Command* out, std::string* reason);

}  // namespace simscript
