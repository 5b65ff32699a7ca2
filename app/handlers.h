// Answers to the packets the loop hands over: chat commands and the welcome panel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/config.h"

namespace insim {
class HostConnection;
}  // namespace insim

namespace app {

// What travo makes of a chat line (an IS_MSO as received): the command it answers, or why it
// answers none. handle_mso acts on it; travo-check --watch shows it, so both decide alike.
struct ChatReading {
    enum class Verdict {
        fb,
        luz,
        r1,
        r0,
        web,
        short_record,     // too short to hold TextStart
        text_start_zero,  // a line without a sender
        not_after_mark,   // the first '!' is not two characters after the first '^' or 'L'
        unknown_word,     // a command line, but no command of travo's
    };
    Verdict verdict;
    std::string_view text;  // Msg up to its zero, inside the packet
    std::size_t bang;       // the first '!' in text; npos when none or not looked for
    std::size_t mark;       // the first '^' or 'L' in text; npos when none or not looked for
};
ChatReading read_chat_line(const std::uint8_t* packet, std::size_t size);

// The current packet is an IS_MSO: answers "!fb", "!luz", "!r1", "!r0" and "!web".
void handle_mso(insim::HostConnection& connection, const ConfigValues& config);

// The current packet is an IS_NCN: the welcome panel and the six welcome lines.
void handle_ncn(insim::HostConnection& connection, const ConfigValues& config);

}  // namespace app
