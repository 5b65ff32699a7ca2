#include "tools/common/escape.h"

#include <cstdint>

namespace toolkit {
namespace {

// Code points of 0x80..0x9F in Windows-1252; 0 marks the five unassigned bytes.
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void hex_byte(std::string& out, unsigned char b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += "\\x";
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
}

bool control(unsigned char b) {
    return b < 0x20 || b == 0x7F;
}

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

// The code point of a Windows-1252 byte; 0 for a byte that shows nothing.
std::uint32_t windows1252(unsigned char b) {
    if (control(b)) return 0;
    if (b >= 0x80 && b < 0xA0) return kHigh[b - 0x80];
    return b;
}

// Characters that show nothing yet change what a terminal shows around them: C1 controls,
// zero-width characters, line and paragraph separators, and the marks that turn text around.
bool invisible(std::uint32_t cp) {
    return (cp >= 0x80 && cp < 0xA0) || cp == 0x61C || (cp >= 0x200B && cp <= 0x200F) ||
           (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF;
}

// The length of the UTF-8 character at `i` that may stand as it is: 1 for printable ASCII, the
// sequence's length for any other well-formed character that shows; 0 otherwise.
std::size_t showable_utf8(std::string_view s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) return control(b) ? 0 : 1;
    const std::size_t n = utf8_length(s, i);
    if (n == 0 || n == 4) return n;
    std::uint32_t cp = b & (n == 2 ? 0x1Fu : 0x0Fu);
    for (std::size_t k = 1; k < n; ++k)
        cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
    return invisible(cp) ? 0 : n;
}

Letters& letters_shown() {
    static Letters letters;
    return letters;
}

// Printable ASCII as it stands; '\\' and the `quote` character (none for 0) after a '\\'; the
// letters a terminal shows as it shows them; every other byte as \xNN. Between the quotes, if any.
std::string backslashed(std::string_view bytes, char quote, const Letters* letters = nullptr) {
    std::string out;
    out.reserve(bytes.size() + 2);
    if (quote != 0) out += quote;
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (ch == '\\' || (quote != 0 && ch == quote)) {
            out += '\\';
            out += ch;
        } else if (b >= 0x80 && letters != nullptr && !(*letters)[b - 0x80].empty()) {
            out += (*letters)[b - 0x80];
        } else if (b < 0x20 || b >= 0x7F) {
            hex_byte(out, b);
        } else {
            out += ch;
        }
    }
    if (quote != 0) out += quote;
    return out;
}

std::string name(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = showable_utf8(bytes, i);
        if (n == 0) {
            hex_byte(out, static_cast<unsigned char>(bytes[i++]));
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

bool shell_safe(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("_@%+=:,./-").find(c) != std::string_view::npos;
}

std::string shell(std::string_view bytes) {
    if (bytes.empty()) return "''";
    // A word that starts with '-' would be read as an option.
    const std::string lead = bytes.front() == '-' ? "./" : "";
    bool safe = true;
    bool plain = well_formed_utf8(bytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        safe = safe && shell_safe(bytes[i]);
        plain = plain && showable_utf8(bytes, i) != 0;
        if (static_cast<unsigned char>(bytes[i]) >= 0x80) {
            // Continuation bytes were checked with their lead byte.
            const std::size_t n = utf8_length(bytes, i);
            if (n > 1) i += n - 1;
        }
    }
    if (safe) return lead + std::string(bytes);
    if (plain) {
        std::string out = lead + "'";
        for (const char c : bytes) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    }
    // Bytes a terminal cannot show or a paste cannot carry: the $'...' form spells each one.
    return lead + "$" + backslashed(bytes, '\'');
}

std::string decoded(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (ch == '\\') {
            // Doubled, so that a typed "\x07" and a real BEL never show alike.
            out += "\\\\";
        } else if (const std::uint32_t cp = windows1252(b); cp != 0) {
            append_utf8(out, cp);
        } else {
            hex_byte(out, b);
        }
    }
    return out;
}

std::string xml(std::string_view bytes) {
    const bool utf8 = well_formed_utf8(bytes);
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        std::size_t n = 1;
        switch (bytes[i]) {
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
                if (utf8 && (n = showable_utf8(bytes, i)) > 0) {
                    out.append(bytes.substr(i, n));
                } else if (const std::uint32_t cp = utf8 ? 0 : windows1252(b); cp != 0) {
                    append_utf8(out, cp);
                    n = 1;
                } else {
                    hex_byte(out, b);
                    n = 1;
                }
        }
        i += n;
    }
    return out;
}

}  // namespace

std::size_t utf8_length(std::string_view s, std::size_t i) {
    const auto at = [&](std::size_t k) -> unsigned {
        return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u;
    };
    const auto cont = [&](std::size_t k) { return (at(k) & 0xC0u) == 0x80u; };
    const unsigned lead = at(0);
    if (lead >= 0xC2 && lead <= 0xDF) return cont(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        // Second-byte ranges exclude overlong forms and surrogates.
        const unsigned lo = lead == 0xE0 ? 0xA0u : 0x80u;
        const unsigned hi = lead == 0xED ? 0x9Fu : 0xBFu;
        return at(1) >= lo && at(1) <= hi && cont(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned lo = lead == 0xF0 ? 0x90u : 0x80u;
        const unsigned hi = lead == 0xF4 ? 0x8Fu : 0xBFu;
        return at(1) >= lo && at(1) <= hi && cont(2) && cont(3) ? 4 : 0;
    }
    return 0;
}

bool well_formed_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = static_cast<unsigned char>(s[i]) < 0x80 ? 1 : utf8_length(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

Letters letters_from(const std::function<std::string(char32_t)>& encode) {
    Letters letters;
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        if (const std::uint32_t cp = windows1252(static_cast<unsigned char>(b)); cp != 0)
            letters[b - 0x80] = encode(cp);
    }
    return letters;
}

Letters utf8_letters() {
    return letters_from([](char32_t cp) {
        std::string out;
        append_utf8(out, cp);
        return out;
    });
}

void show_letters(const Letters& letters) {
    letters_shown() = letters;
}

std::string windows1252_to_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const std::uint32_t cp = windows1252(static_cast<unsigned char>(ch));
        append_utf8(out, cp != 0 ? cp : 0xFFFD);
    }
    return out;
}

std::string escaped(std::string_view bytes, Policy policy) {
    switch (policy) {
        case Policy::terminal:
            return backslashed(bytes, 0);
        case Policy::quoted:
            return backslashed(bytes, '"');
        case Policy::name:
            return name(bytes);
        case Policy::quoted_name:
            return '"' + name(bytes) + '"';
        case Policy::shell:
            return shell(bytes);
        case Policy::windows1252:
            return decoded(bytes);
        case Policy::text:
            return backslashed(bytes, '"', &letters_shown());
        case Policy::xml:
            return xml(bytes);
    }
    return backslashed(bytes, 0);
}

std::string escaped_start(std::string_view bytes, Policy policy, std::size_t most) {
    if (bytes.size() <= most) return escaped(bytes, policy);
    return escaped(bytes.substr(0, most), policy) + "...";
}

}  // namespace toolkit
