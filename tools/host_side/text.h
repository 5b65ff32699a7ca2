// What a player sees of a text: Windows-1252 bytes decoded, the simulator's colour codes applied.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hostside {

// A piece of text in one colour; colour is 0 to 9 as in "^0".."^9", 8 and 9 the default.
struct ColouredRun {
    int colour;
    std::string utf8;
};

// Splits at "^0".."^9"; every other caret sequence is shown as it stands. Bytes that show
// nothing come out as U+FFFD, as a picture draws them.
std::vector<ColouredRun> colour_runs(std::string_view text, int start_colour = 8);

// The text for a terminal, colours as ANSI escapes (or plain when `ansi` is false); bytes that
// show nothing as \xNN.
std::string terminal_text(std::string_view text, bool ansi);

// The text without its colour codes, decoded: what takes room on the screen.
std::string plain_text(std::string_view text);

// RGB colour of a colour code for pictures, e.g. "#ff3030".
const char* colour_rgb(int colour);

// The text as SVG <tspan> elements, one per colour run; empty for an empty text.
std::string svg_tspans(std::string_view text, int start_colour = 8);

}  // namespace hostside
