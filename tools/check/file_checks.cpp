#include <algorithm>
#include <cstddef>
#include <string>

#include "app/config.h"
#include "app/config_table.h"
#include "tools/check/checks.h"
#include "tools/common/escape.h"

namespace travo_check {
namespace {

// "2, 5, ..., 23 to 27, 30, 33 and 36": runs of consecutive lines as ranges.
std::string value_line_numbers() {
    std::vector<std::string> parts;
    for (int i = 0; i < app::kValueLineCount;) {
        int j = i;
        while (j + 1 < app::kValueLineCount &&
               app::kValueLines[j + 1].line == app::kValueLines[j].line + 1)
            ++j;
        parts.push_back(std::to_string(app::kValueLines[i].line) +
                        (j > i ? " to " + std::to_string(app::kValueLines[j].line) : ""));
        i = j + 1;
    }
    return join(parts);
}

// "UTF-32 text (big-endian)": text of 4-byte units, else empty. Its mark starts with UTF-16's.
std::string utf32_kind(std::string_view raw) {
    const std::string_view le_mark("\xFF\xFE\0\0", 4);
    const std::string_view be_mark("\0\0\xFE\xFF", 4);
    if (raw.starts_with(le_mark)) return "UTF-32 text (little-endian, with its mark)";
    if (raw.starts_with(be_mark)) return "UTF-32 text (big-endian, with its mark)";
    // Without the mark: text from the Latin range has three zero bytes in every four.
    const std::size_t units = std::min<std::size_t>(raw.size(), 512) / 4;
    if (units < 2) return "";
    std::size_t little = 0;
    std::size_t big = 0;
    for (std::size_t i = 0; i < units; ++i) {
        const std::string_view u = raw.substr(4 * i, 4);
        little += u[0] != '\0' && u.substr(1) == std::string_view("\0\0\0", 3) ? 1 : 0;
        big += u[3] != '\0' && u.substr(0, 3) == std::string_view("\0\0\0", 3) ? 1 : 0;
    }
    if (little * 2 >= units && big == 0) return "UTF-32 text (little-endian)";
    if (big * 2 >= units && little == 0) return "UTF-32 text (big-endian)";
    return "";
}

// The byte order when the bytes are UTF-16 text (Notepad's "Unicode"), else empty.
std::string utf16_order(std::string_view raw) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(raw[i]); };
    if (raw.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) return "little-endian, with its mark";
    if (raw.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) return "big-endian, with its mark";
    // Without the mark: text from the Latin range has a zero byte in every other place.
    const std::size_t pairs = std::min<std::size_t>(raw.size(), 512) / 2;
    if (pairs < 2) return "";
    std::size_t zero_first = 0;
    std::size_t zero_second = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        zero_first += raw[2 * i] == '\0' ? 1 : 0;
        zero_second += raw[2 * i + 1] == '\0' ? 1 : 0;
    }
    if (zero_second * 2 >= pairs && zero_first * 16 <= pairs) return "little-endian";
    if (zero_first * 2 >= pairs && zero_second * 16 <= pairs) return "big-endian";
    return "";
}

}  // namespace

// `more`: the bytes stopped at the read limit, so the last line may go on and more lines follow.
void check_lines(const std::vector<std::string_view>& texts, bool more,
                 std::vector<Finding>& findings) {
    const int lines = static_cast<int>(texts.size());
    const int read = more ? app::kConfigLines : std::min(lines, app::kConfigLines);
    int first_long = 0;
    for (int line = 1; line <= std::min(lines, app::kConfigLines); ++line) {
        const std::size_t length = texts[static_cast<std::size_t>(line - 1)].size();
        if (length <= static_cast<std::size_t>(app::kMaxValueLength)) continue;
        const app::ConfigLine* own = app::config_line_at(line);
        Finding f{Issue::long_line,
                  line,
                  static_cast<int>(length) - app::kMaxValueLength,
                  {},
                  {},
                  {},
                  {}};
        f.message = "this line has " + std::string(more && line == lines ? "more than " : "") +
                    std::to_string(length) + " characters; travo reads at most " +
                    std::to_string(app::kMaxValueLength) + " from a line";
        if (first_long == 0) {
            first_long = line;
            for (const app::ConfigLine& l : app::kValueLines) {
                if (l.line > line && l.line <= read) f.emptied.push_back(l.line);
            }
            if (own != nullptr) {
                f.message += ", keeps the first " + std::to_string(app::kMaxValueLength) +
                             " of the " + own->label + " (" +
                             plural(static_cast<std::size_t>(f.count), "character", "characters") +
                             " lost)";
            }
            f.message += f.emptied.empty()
                             ? " and stops reading there"
                             : " and stops reading there, so " + value_list(f.emptied) +
                                   (f.emptied.size() == 1 ? " comes" : " come") + " out empty";
        } else {
            f.message += "; reading already stops at line " + std::to_string(first_long) +
                         ", and this line would stop it too";
        }
        f.fix = own != nullptr
                    ? "shorten the " + std::string(own->label) + " to at most " +
                          std::to_string(app::kMaxValueLength) + " characters"
                    : "shorten this caption to at most " + std::to_string(app::kMaxValueLength) +
                          " characters (travo never shows it; it may also be empty)";
        findings.push_back(std::move(f));
    }

    if (lines < app::kConfigLines && !more) {
        Finding f{Issue::short_file, lines + 1, lines, {}, {}, {}, {}};
        for (const app::ConfigLine& l : app::kValueLines) {
            if (l.line > lines) f.emptied.push_back(l.line);
        }
        f.brief = (lines == 0 ? std::string("the file is empty")
                              : "the file ends after line " + std::to_string(lines)) +
                  ", but travo reads " + std::to_string(app::kConfigLines) + " lines";
        f.message = f.brief + ", so " + value_list(f.emptied) +
                    (f.emptied.size() == 1 ? " comes" : " come") + " out empty";
        f.fix = "add the missing lines: values go on lines " + value_line_numbers() +
                ", a caption or an empty line on every other line (see examples/quintaro.travo)";
        findings.push_back(std::move(f));
    }
}

// A file saved with CR alone between its lines: travo, reading up to LF, sees one long line.
bool check_line_ends(std::string_view raw, std::vector<Finding>& findings) {
    if (raw.find('\n') != std::string_view::npos || raw.find('\r') == std::string_view::npos)
        return false;
    const auto lines = std::count(raw.begin(), raw.end(), '\r') + (raw.back() != '\r' ? 1 : 0);
    Finding f{Issue::line_ends, 1, static_cast<int>(lines), {}, {}, {}, {}};
    for (const app::ConfigLine& l : app::kValueLines) f.emptied.push_back(l.line);
    f.message = "the " + plural(static_cast<std::size_t>(lines), "line", "lines") +
                " of this file end in CR alone (old Mac line ends); travo ends a line only at LF "
                "or CR LF, so it reads the whole file as one line of " +
                plural(raw.size(), "character", "characters") +
                ": every value comes out empty and travo would fail to connect";
    f.fix = "save the file with LF or CR LF (Windows) line ends";
    findings.push_back(std::move(f));
    return true;
}

bool check_utf16(std::string_view raw, const app::ConfigValues& values,
                 std::vector<Finding>& findings) {
    const std::string utf32 = utf32_kind(raw);
    const std::string order = utf32.empty() ? utf16_order(raw) : "";
    if (utf32.empty() && order.empty()) return false;
    Finding f{Issue::utf16, 1, 0, {}, {}, {}, {}};
    for (const app::ConfigLine& l : app::kValueLines) {
        if (app::config_field(values, l)[0] == '\0') f.emptied.push_back(l.line);
    }
    f.message =
        "this file is " +
        (utf32.empty() ? "UTF-16 text (" + order + "), as Notepad saves \"Unicode\"" : utf32) +
        "; travo reads single bytes and ends a value at its first zero byte, so every "
        "value comes out empty or cut to a character";
    f.fix = "save the file as Windows-1252 (in Notepad: Save As, encoding \"ANSI\")";
    findings.push_back(std::move(f));
    return true;
}

// A zero byte ends a value for travo, which sends it as a C string: what follows is lost.
void check_zero_bytes(const std::vector<std::string_view>& texts, const app::ConfigValues& values,
                      std::vector<Finding>& findings) {
    const int lines = std::min(static_cast<int>(texts.size()), app::kConfigLines);
    int next_value = 0;
    for (int line = 1; line <= lines && next_value < app::kValueLineCount; ++line) {
        const std::string_view text = texts[static_cast<std::size_t>(line - 1)];
        const app::ConfigLine& l = app::kValueLines[next_value];
        if (l.line == line) {
            ++next_value;
            const std::size_t zero = text.substr(0, app::kMaxValueLength).find('\0');
            if (zero != std::string_view::npos) {
                Finding f{Issue::zero_byte, line, static_cast<int>(zero + 1), {}, {}, {}, {}};
                const bool secret = l.field == &app::ConfigValues::admin_password;
                f.message = "the " + std::string(l.label) + " holds a zero byte at column " +
                            std::to_string(zero + 1) + "; travo ends the value there and sends " +
                            (secret ? "only the " + plural(zero, "byte", "bytes") + " before it"
                                    : toolkit::escaped(app::config_field(values, l),
                                                       toolkit::Policy::text));
                f.fix =
                    "remove the zero byte (a program that saves binary data or UTF-16 may "
                    "have put it there)";
                findings.push_back(std::move(f));
            }
        }
        // Reading stops at an over-long line.
        if (text.size() > static_cast<std::size_t>(app::kMaxValueLength)) break;
    }
}

}  // namespace travo_check
