#include "tools/host_side/text.h"

#include <cstdint>

namespace hostside {

namespace {

// Code points of 0x80..0x9F in Windows-1252; the five unassigned bytes show as U+FFFD.
constexpr char16_t kHigh[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// ANSI foreground for each colour code; 8 and 9 reset to the terminal's default.
constexpr const char* kAnsi[10] = {"\x1b[90m", "\x1b[91m", "\x1b[92m", "\x1b[93m", "\x1b[94m",
                                   "\x1b[95m", "\x1b[96m", "\x1b[97m", "\x1b[0m",  "\x1b[0m"};

constexpr const char* kRgb[10] = {"#202020", "#ff3030", "#30ff30", "#ffff30", "#3060ff",
                                  "#ff30ff", "#30ffff", "#ffffff", "#d8d8d8", "#d8d8d8"};

// Control bytes would upset a terminal or an XML file: a picture shows them as U+FFFD, a
// terminal as \xNN, so that what was sent can be read off.
std::string decode(std::string_view text, bool escape) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        std::uint32_t cp = b;
        if (b < 0x20 || b == 0x7F) {
            cp = 0xFFFD;
        } else if (b >= 0x80 && b < 0xA0) {
            cp = kHigh[b - 0x80];
        }
        if (cp == 0xFFFD && escape) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            append_utf8(out, cp);
        }
    }
    return out;
}

std::vector<ColouredRun> runs_of(std::string_view text, int start_colour, bool escape) {
    std::vector<ColouredRun> runs;
    int colour = start_colour;
    std::size_t from = 0;
    auto flush = [&](std::size_t to) {
        if (to > from) runs.push_back({colour, decode(text.substr(from, to - from), escape)});
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

std::string cp1252_to_utf8(std::string_view text) {
    return decode(text, false);
}

std::string printable_text(std::string_view text) {
    return decode(text, true);
}

std::vector<ColouredRun> colour_runs(std::string_view text, int start_colour) {
    return runs_of(text, start_colour, false);
}

std::string terminal_text(std::string_view text, bool ansi) {
    std::string out;
    for (const ColouredRun& run : runs_of(text, 8, true)) {
        if (ansi) out += kAnsi[run.colour];
        out += run.utf8;
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

std::string xml_escape(std::string_view s) {
    std::string out;
    for (const char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string svg_tspans(std::string_view text, int start_colour) {
    std::string out;
    for (const ColouredRun& r : colour_runs(text, start_colour)) {
        out += "<tspan fill=\"";
        out += colour_rgb(r.colour);
        out += "\">" + xml_escape(r.utf8) + "</tspan>";
    }
    return out;
}

}  // namespace hostside
