// The configuration file "quintaro.travo": 36 lines read by position, 15 of them kept as values.
#pragma once

#include <cstdint>
#include <istream>

namespace app {

inline constexpr const char* kConfigFileName = "quintaro.travo";
inline constexpr int kConfigLines = 36;
// A line read stores at most this many characters; a longer line fails the stream.
inline constexpr int kMaxValueLength = 99;

struct ConfigValues {
    char host[256];
    char port[256];
    char admin_password[256];
    char lights_message[256];
    char facebook_name[256];
    char web_page[256];
    char welcome_extra[256];
    char rule_1[256];
    char rule_2[256];
    char rule_3[256];
    char rule_4[256];
    char rule_5[256];
    char server_name[256];
    char panel_text_1[256];
    char panel_text_2[256];
};

// Bounded line read with the semantics of istream::getline(buffer, 100): stores at most 99
// characters and always a terminating zero; an over-long line or the end of the file sets the
// stream's failbit, after which every read stores an empty text. The CR of a CR LF pair is
// dropped on every platform and does not count towards the limit.
void read_config_line(std::istream& in, char (&buffer)[256]);

// Reads the 36 lines; lines that are not value lines are read and thrown away.
void read_config(std::istream& in, ConfigValues& values);

// strtol base 10, clamped to the 32-bit signed range, then the low 16 bits.
std::uint16_t port_from_text(const char* text);

// The blanks that port_from_text skips before the number: isspace of the "C" locale.
inline constexpr bool is_c_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace app
