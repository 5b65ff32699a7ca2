// The virtual host's command lines and option values, read without side effects so that every
// line can be checked on its own (and fuzzed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
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

// The whole of `text` as a finite number from `min` to `max`, and whole when `whole` is set.
std::optional<double> parse_number(std::string_view text, double min, double max, bool whole);
// "a whole number from 0 to 65535", "a number of seconds from 0 to 86400": for usage errors.
std::string range_words(double min, double max, bool whole, std::string_view unit = "");

// The bytes outside printable ASCII as \xNN: for echoing what came from a script or a client.
std::string escaped(std::string_view text);

}  // namespace simscript
