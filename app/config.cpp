#include "app/config.h"

#include <cstdint>
#include <streambuf>

#include "app/config_table.h"

namespace app {

void read_config_line(std::istream& in, char (&buffer)[256]) {
    buffer[0] = '\0';
    if (!in.good()) {
        in.setstate(std::ios::failbit);
        return;
    }
    std::streambuf* sb = in.rdbuf();
    constexpr int kEof = std::char_traits<char>::eof();
    int stored = 0;
    bool extracted = false;
    std::ios::iostate state = std::ios::goodbit;

    for (;;) {
        const int c = sb->sgetc();
        if (c == kEof) {
            state |= extracted ? std::ios::eofbit : std::ios::eofbit | std::ios::failbit;
            break;
        }
        if (c == '\n') {
            sb->sbumpc();
            break;
        }
        // Kept on purpose: a line of 100 or more characters fails the stream, so every later
        // value reads empty; files written for the program rely on its exact line positions.
        if (stored == kMaxValueLength && c != '\r') {
            state |= std::ios::failbit;
            break;
        }
        sb->sbumpc();
        // Only the CR of a CR LF pair ends the line; a lone CR is an ordinary character. It is
        // kept rather than put back: a pipe's buffer may have no room to put it back into.
        if (c == '\r') {
            if (sb->sgetc() == '\n') {
                sb->sbumpc();
                break;
            }
            if (stored == kMaxValueLength) {
                state |= std::ios::failbit;
                break;
            }
        }
        buffer[stored++] = static_cast<char>(c);
        extracted = true;
    }
    buffer[stored] = '\0';
    if (state != std::ios::goodbit) in.setstate(state);
}

void read_config(std::istream& in, ConfigValues& values) {
    char label[256];
    int next_value = 0;
    // The reader works on the stream buffer, whose read errors (a directory, a failing disk)
    // arrive as exceptions that the stream would otherwise have caught: a file that cannot be
    // read is a missing file, every value empty.
    try {
        for (int line = 1; line <= kConfigLines; ++line) {
            if (next_value < kValueLineCount && kValueLines[next_value].line == line) {
                read_config_line(in, values.*kValueLines[next_value].field);
                ++next_value;
            } else {
                read_config_line(in, label);
            }
        }
    } catch (...) {
        values = ConfigValues{};
        if ((in.exceptions() & std::ios::badbit) == 0) in.setstate(std::ios::badbit);
    }
}

std::uint16_t port_from_text(const char* text) {
    constexpr std::int64_t kMax = 2147483647;
    constexpr std::int64_t kMin = -kMax - 1;
    const char* p = text;
    while (is_c_space(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    std::int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        // Saturate early; anything beyond the 32-bit range clamps to its limit.
        if (value <= -kMin) value = value * 10 + (*p - '0');
    }
    value = negative ? -value : value;
    if (value > kMax) value = kMax;
    if (value < kMin) value = kMin;
    // Kept on purpose: the value wraps modulo 65536 ("95535" is port 29999, "-1" is 65535), as
    // it always has; travo-check warns about a port outside 1 to 65535.
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu);
}

}  // namespace app
