#include "tools/host_side/text.h"

#include "tools/common/escape.h"

namespace hostside {

namespace {

// ANSI foreground for each colour code; 8 and 9 reset to the terminal's default.
constexpr const char* kAnsi[10] = {"\x1b[90m", "\x1b[91m", "\x1b[92m", "\x1b[93m", "\x1b[94m",
                                   "\x1b[95m", "\x1b[96m", "\x1b[97m", "\x1b[0m",  "\x1b[0m"};

constexpr const char* kRgb[10] = {"#202020", "#ff3030", "#30ff30", "#ffff30", "#3060ff",
                                  "#ff30ff", "#30ffff", "#ffffff", "#d8d8d8", "#d8d8d8"};

struct ByteRun {
    int colour;
    std::string_view bytes;
};

std::vector<ByteRun> split_colours(std::string_view text, int start_colour) {
    std::vector<ByteRun> runs;
    int colour = start_colour;
    std::size_t from = 0;
    auto flush = [&](std::size_t to) {
        if (to > from) runs.push_back({colour, text.substr(from, to - from)});
    };
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '^' && text[i + 1] >= '0' && text[i + 1] <= '9') {
            flush(i);
            colour = text[i + 1] - '0';
            from = i + 2;
            ++i;
        }
    }
    flush(text.size());
    return runs;
}

}  // namespace

std::vector<ColouredRun> colour_runs(std::string_view text, int start_colour) {
    std::vector<ColouredRun> runs;
    for (const ByteRun& run : split_colours(text, start_colour))
        runs.push_back({run.colour, toolkit::windows1252_to_utf8(run.bytes)});
    return runs;
}

std::string terminal_text(std::string_view text, bool ansi) {
    std::string out;
    for (const ByteRun& run : split_colours(text, 8)) {
        if (ansi) out += kAnsi[run.colour];
        out += toolkit::escaped(run.bytes, toolkit::Policy::windows1252);
    }
    if (ansi) out += "\x1b[0m";
    return out;
}

std::string plain_text(std::string_view text) {
    std::string out;
    for (const ColouredRun& run : colour_runs(text)) out += run.utf8;
    return out;
}

const char* colour_rgb(int colour) {
    return kRgb[colour < 0 || colour > 9 ? 8 : colour];
}

std::string svg_tspans(std::string_view text, int start_colour) {
    std::string out;
    for (const ColouredRun& r : colour_runs(text, start_colour)) {
        out += "<tspan fill=\"";
        out += colour_rgb(r.colour);
        out += "\">" + toolkit::escaped(r.utf8, toolkit::Policy::xml) + "</tspan>";
    }
    return out;
}

}  // namespace hostside
