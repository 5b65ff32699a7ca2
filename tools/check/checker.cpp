#include "tools/check/checker.h"

#include "app/chat_texts.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <system_error>
#include <utility>

#include "app/config.h"
#include "app/config_table.h"
#include "insim/platform.h"
#include "insim/records.h"
#include "tools/check/file_bytes.h"
#include "tools/host_side/text.h"

namespace travo_check {
namespace {

// The admin field needs no terminator: all 16 bytes carry the password.
constexpr std::size_t kAdminRoom = sizeof(insim::IS_ISI::Admin);

std::string hex_byte(unsigned char c) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string("\\x") + kDigits[c >> 4] + kDigits[c & 0xF];
}

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string join(const std::vector<std::string>& parts) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += i + 1 == parts.size() ? " and " : ", ";
        out += parts[i];
    }
    return out;
}

std::string value_list(const std::vector<int>& lines) {
    std::vector<std::string> parts;
    for (const int line : lines) {
        parts.push_back("the " + std::string(app::config_line_at(line)->label) + " (line " +
                        std::to_string(line) + ")");
    }
    return join(parts);
}

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

// The lines as the line reader cuts them: LF ends a line, the CR of a CR LF pair is not part of
// it, and a last line without LF still counts.
std::vector<std::string_view> line_texts(std::string_view bytes) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t lf = bytes.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? bytes.size() : lf;
        std::size_t length = end - start;
        if (lf != std::string_view::npos && length > 0 && bytes[end - 1] == '\r') --length;
        lines.push_back(bytes.substr(start, length));
        if (lf == std::string_view::npos) break;
        start = lf + 1;
    }
    return lines;
}

// Length of a well-formed multi-byte UTF-8 sequence starting at `i`, or 0.
std::size_t utf8_sequence(std::string_view s, std::size_t i) {
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
        Finding f{
            Issue::long_line, line, static_cast<int>(length) - app::kMaxValueLength, {}, {}, {}};
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
        Finding f{Issue::short_file, lines + 1, lines, {}, {}, {}};
        for (const app::ConfigLine& l : app::kValueLines) {
            if (l.line > lines) f.emptied.push_back(l.line);
        }
        f.message = (lines == 0 ? std::string("the file is empty")
                                : "the file ends after line " + std::to_string(lines)) +
                    ", but travo reads " + std::to_string(app::kConfigLines) + " lines, so " +
                    value_list(f.emptied) + (f.emptied.size() == 1 ? " comes" : " come") +
                    " out empty";
        f.fix = "add the missing lines: values go on lines " + value_line_numbers() +
                ", a caption or an empty line on every other line (see examples/quintaro.travo)";
        findings.push_back(std::move(f));
    }
}

void check_port(const app::ConfigValues& values, std::vector<Finding>& findings) {
    const std::string_view text = values.port;
    const std::uint16_t used = app::port_from_text(values.port);
    // What the conversion takes: blanks, a sign, then digits; anything after them is ignored.
    std::size_t i = 0;
    while (i < text.size() && app::is_c_space(text[i])) ++i;
    const std::size_t sign_at = i;
    const bool sign = i < text.size() && (text[i] == '+' || text[i] == '-');
    if (sign) ++i;
    const std::size_t digits_at = i;
    long long number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        number = std::min(number * 10 + (text[i] - '0'), 1000000LL);
    const bool digits = i > digits_at;
    const bool after = i < text.size();

    std::string problem;
    if (text.empty()) {
        problem = "the port is empty";
    } else if (!digits) {
        problem = "the port " + quoted(text) + " is not a number";
    } else if (sign && text[sign_at] == '-' && number != 0) {
        problem = "the port " + quoted(text) + " is negative";
    } else if (number == 0) {
        problem = "the port is 0";
    } else if (number > 65535) {
        problem = "the port " + quoted(text) + " is above 65535";
    } else if (after) {
        problem = "the port " + quoted(text) + " has characters after its digits";
    } else if (sign_at > 0 || sign) {
        problem = "the port " + quoted(text) + " has " + (sign_at > 0 ? "blanks" : "a sign") +
                  " before its digits";
    } else {
        return;
    }
    Finding f{Issue::port, app::config_line_of(&app::ConfigValues::port).line, used, {}, {}, {}};
    f.message = problem +
                (digits && after && number <= 65535 && number > 0
                     ? "; travo uses the digits and connects to port "
                     : "; travo would connect to port ") +
                std::to_string(used);
    if (used == 0) f.message += ", which always fails";
    f.fix =
        "write the InSim port that the host opened (its /insim command), digits only, e.g. 29999";
    findings.push_back(std::move(f));
}

// "a blank before", "blanks after", ... or empty: the blanks at the ends of a text.
std::string blank_ends(std::string_view text) {
    std::size_t before = 0;
    while (before < text.size() && app::is_c_space(text[before])) ++before;
    std::size_t after = 0;
    while (after < text.size() - before && app::is_c_space(text[text.size() - 1 - after])) ++after;
    if (before + after == 0) return "";
    if (before == text.size())
        return before == 1 ? "nothing but a blank in" : "nothing but blanks in";
    const std::string blanks = before + after == 1 ? "a blank " : "blanks ";
    if (before > 0 && after > 0) return blanks + "before and after";
    return blanks + (before > 0 ? "before" : "after");
}

void check_host(const app::ConfigValues& values, const Options& options,
                std::vector<Finding>& findings) {
    const std::string_view host = values.host;
    Finding f{Issue::host, app::config_line_of(&app::ConfigValues::host).line, 0, {}, {}, {}};
    const std::string blanks = blank_ends(host);
    if (host.empty()) {
        f.message = "the host is empty; travo would fail to connect";
        f.fix =
            "write the simulator host's name or IPv4 address, e.g. 127.0.0.1 when it runs on this "
            "machine";
    } else if (!blanks.empty()) {
        f.message = "the host " + quoted(host) + " has " + blanks +
                    " it; travo looks it up as it stands, blanks included";
        if (options.resolves) {
            f.message += options.resolves(values.host)
                             ? ", which happens to work here for this address"
                             : ", and that lookup fails here";
        }
        f.fix = "remove the blanks from the host";
    } else if (options.resolves && !options.resolves(values.host)) {
        f.message = "the host name " + quoted(host) +
                    " could not be resolved here, so travo would fail to connect from this machine";
        f.fix = "check the spelling, or write the host's IPv4 address";
    } else {
        return;
    }
    findings.push_back(std::move(f));
}

void check_password(const app::ConfigValues& values, std::vector<Finding>& findings) {
    const std::size_t length = std::strlen(values.admin_password);
    if (const std::string blanks = blank_ends(values.admin_password); !blanks.empty()) {
        Finding f{Issue::password,
                  app::config_line_of(&app::ConfigValues::admin_password).line,
                  0,
                  {},
                  {},
                  {}};
        f.message = "the admin password has " + blanks +
                    " it; travo sends the password as it stands, blanks included, and the host "
                    "refuses the connection unless its own password has them too";
        f.fix = "remove the blanks from the admin password";
        findings.push_back(std::move(f));
    }
    if (length <= kAdminRoom) return;
    Finding f{Issue::long_password,
              app::config_line_of(&app::ConfigValues::admin_password).line,
              static_cast<int>(length - kAdminRoom),
              {},
              {},
              {}};
    f.message = "the admin password has " + std::to_string(length) +
                " bytes; the InSim admin field holds " + std::to_string(kAdminRoom) +
                ", so travo sends only its first " + std::to_string(kAdminRoom) +
                " and the host refuses the connection unless its password is exactly those " +
                std::to_string(kAdminRoom) + " bytes";
    f.fix = "use an admin password of at most " + std::to_string(kAdminRoom) +
            " bytes, here and on the host";
    findings.push_back(std::move(f));
}

void check_overflow(const app::ConfigValues& values, std::vector<Finding>& findings) {
    for (const app::ConfigLine& l : app::kValueLines) {
        const std::size_t length = std::strlen(app::config_field(values, l));
        // Texts of one kind that lose the same characters share a finding.
        std::map<std::pair<std::size_t, std::size_t>, std::vector<const app::ValueUse*>> by_loss;
        for (const app::ValueUse& t : l.uses) {
            if (t.where == nullptr) continue;
            const std::size_t prefix = std::strlen(t.prefix);
            if (prefix + length > t.room) by_loss[{t.room, prefix + length - t.room}].push_back(&t);
        }
        for (const auto& [key, targets] : by_loss) {
            const std::size_t lost = key.second;
            std::vector<std::string> where;
            for (const app::ValueUse* t : targets) where.emplace_back(t->where);
            const bool chat = targets.front()->room == app::kChatRoom;
            Finding f{Issue::overflow, l.line, static_cast<int>(lost), {}, {}, {}};
            f.message = "the " + std::string(l.label) + " has " + std::to_string(length) +
                        " characters, too many for " + join(where) + ": " +
                        (targets.size() == 1 ? "it loses" : "each loses") + " its last " +
                        plural(lost, "character", "characters") + " (" +
                        (chat ? "a chat line" : "a button text") + " holds " +
                        std::to_string(targets.front()->room) + ")";
            f.fix = "shorten the " + std::string(l.label) + " to at most " +
                    std::to_string(app::longest_fit(l)) + " characters";
            findings.push_back(std::move(f));
        }
    }
}

void check_encoding(const app::ConfigValues& values, std::vector<Finding>& findings) {
    for (const app::ConfigLine& l : app::kValueLines) {
        const std::string_view text = app::config_field(values, l);
        std::vector<std::string> shown;
        int sequences = 0;
        for (std::size_t i = 0; i < text.size();) {
            const std::size_t n = utf8_sequence(text, i);
            if (n == 0) {
                ++i;
                continue;
            }
            ++sequences;
            if (shown.size() < 3) {
                std::string bytes;
                for (std::size_t k = 0; k < n; ++k)
                    bytes += hex_byte(static_cast<unsigned char>(text[i + k]));
                shown.push_back(bytes + " at column " + std::to_string(i + 1));
            }
            i += n;
        }
        if (sequences == 0) continue;
        const bool secret = l.field == &app::ConfigValues::admin_password;
        Finding f{Issue::utf8, l.line, sequences, {}, {}, {}};
        f.message = "the " + std::string(l.label) + " holds " +
                    plural(static_cast<std::size_t>(sequences), "byte sequence", "byte sequences") +
                    (sequences == 1 ? " that looks like UTF-8" : " that look like UTF-8");
        if (!secret) {
            f.message += " (" + join(shown) +
                         (static_cast<std::size_t>(sequences) > shown.size() ? ", ..." : "") + ")";
        }
        f.message +=
            "; travo passes bytes on unchanged and the simulator reads them as Windows-1252, so "
            "players see two or more wrong characters for each";
        f.fix = "save the file in Windows-1252 (\"ANSI\") rather than UTF-8";
        findings.push_back(std::move(f));
    }
}

std::string shown_value(const app::ConfigValues& values, const app::ConfigLine& l) {
    const std::string_view text = app::config_field(values, l);
    if (l.field != &app::ConfigValues::admin_password) return quoted(text);
    if (text.empty()) return "(empty)";
    return "(set, " + plural(text.size(), "byte", "bytes") + ")";
}

std::string warnings_text(const std::vector<Finding>& findings) {
    std::ostringstream out;
    out << plural(findings.size(), "warning", "warnings") << ":\n";
    for (const Finding& f : findings) {
        out << "  line " << f.line << ": " << f.message << ".\n";
        out << "    fix: " << f.fix << ".\n";
    }
    return out.str();
}

// A file saved with CR alone between its lines: travo, reading up to LF, sees one long line.
bool check_line_ends(std::string_view raw, std::vector<Finding>& findings) {
    if (raw.find('\n') != std::string_view::npos || raw.find('\r') == std::string_view::npos)
        return false;
    const auto lines = std::count(raw.begin(), raw.end(), '\r') + (raw.back() != '\r' ? 1 : 0);
    Finding f{Issue::line_ends, 1, static_cast<int>(lines), {}, {}, {}};
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

bool check_utf16(std::string_view raw, const app::ConfigValues& values,
                 std::vector<Finding>& findings) {
    const std::string order = utf16_order(raw);
    if (order.empty()) return false;
    Finding f{Issue::utf16, 1, 0, {}, {}, {}};
    for (const app::ConfigLine& l : app::kValueLines) {
        if (app::config_field(values, l)[0] == '\0') f.emptied.push_back(l.line);
    }
    f.message = "this file is UTF-16 text (" + order +
                "), as Notepad saves \"Unicode\"; travo reads single bytes and ends a value at "
                "its first zero byte, so every value comes out empty or cut to a character";
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
                Finding f{Issue::zero_byte, line, static_cast<int>(zero + 1), {}, {}, {}};
                const bool secret = l.field == &app::ConfigValues::admin_password;
                f.message = "the " + std::string(l.label) + " holds a zero byte at column " +
                            std::to_string(zero + 1) + "; travo ends the value there and sends " +
                            (secret ? "only the " + plural(zero, "byte", "bytes") + " before it"
                                    : quoted(app::config_field(values, l)));
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

Report analyse(std::string_view name, const app::ConfigValues& values, std::string_view raw,
               bool more, const Options& options) {
    Report report{{}, {}, 0, values};
    const std::vector<std::string_view> lines = line_texts(raw);
    // Every other finding would only repeat that every value is empty.
    if (!check_utf16(raw, values, report.findings) && !check_line_ends(raw, report.findings)) {
        check_lines(lines, more, report.findings);
        check_zero_bytes(lines, values, report.findings);
        check_host(values, options, report.findings);
        check_port(values, report.findings);
        check_password(values, report.findings);
        check_overflow(values, report.findings);
        check_encoding(values, report.findings);
    }
    std::stable_sort(report.findings.begin(), report.findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    report.exit_code = report.findings.empty() ? 0 : 1;

    std::ostringstream out;
    out << "travo-check: " << printable_name(name) << ", "
        << (more ? "at least " + plural(lines.size(), "line", "lines") + " in its first " +
                       std::to_string(kReadLimit / 1024) + " KiB, read no further"
                 : plural(lines.size(), "line", "lines"));
    if (lines.size() > static_cast<std::size_t>(app::kConfigLines)) {
        out << " (lines " << app::kConfigLines + 1 << " and later are not read)";
    }
    out << "\n\nValues as travo reads them (bytes outside printable ASCII as \\xNN):\n";
    for (const app::ConfigLine& l : app::kValueLines) {
        out << "  line " << (l.line < 10 ? " " : "") << l.line << "  " << l.meaning << ": "
            << shown_value(values, l) << "\n";
    }
    out << "\n";
    if (report.findings.empty()) {
        out << "No problems found.\n";
    } else {
        out << warnings_text(report.findings);
    }
    report.text = out.str();
    return report;
}

enum class Unreadable { missing, directory, permission, fifo, device, other };

Report unreadable(const std::string& path, Unreadable kind, const std::string& why,
                  const Options& options) {
    Finding f{Issue::unreadable, 0, 0, {}, {}, {}};
    for (const app::ConfigLine& l : app::kValueLines) f.emptied.push_back(l.line);
    f.message = "cannot read " + printable_name(path) + ": " + why;
    // A pipe or a device holds travo at its start; anything else gives it empty values.
    if (kind != Unreadable::fifo && kind != Unreadable::device)
        f.message += "; travo would run with every value empty and fail to connect";
    const std::string installed =
        options.installed_example.empty()
            ? std::string("/usr/share/travo/examples/quintaro.travo where the .deb is installed")
            : options.installed_example + " (the installed example)";
    switch (kind) {
        case Unreadable::missing:
            f.fix =
                "copy the example configuration, examples/quintaro.travo in the source tree "
                "or " +
                installed + ", to \"" + app::kConfigFileName +
                "\" in the directory travo is started from, and edit it";
            break;
        case Unreadable::directory:
            f.fix = "move the directory away and put the configuration file \"" +
                    std::string(app::kConfigFileName) + "\" in its place";
            break;
        case Unreadable::permission:
            f.fix =
                "make the file readable by the user that runs travo, e.g. owner root, group "
                "travo, mode 0640 (chown root:travo " +
                path + "; chmod 0640 " + path + "), as docs/operations.md describes";
            break;
        case Unreadable::fifo:
        case Unreadable::device:
            f.fix = "give travo-check the regular file that travo reads, \"" +
                    std::string(app::kConfigFileName) + "\" in travo's directory";
            break;
        case Unreadable::other:
            f.fix = "check the disk and the file, or write the file anew from the example";
            break;
    }
    Report report{{}, {}, 2, {}};
    report.text = "travo-check: " + f.message + ".\n  fix: " + f.fix + ".\n";
    report.findings.push_back(std::move(f));
    return report;
}

}  // namespace

Options default_options(const char* argv0) {
    Options options;
    options.resolves = [](const char* host) {
        std::uint32_t address = 0;
        return platform::os().lookup_ipv4(host, &address);
    };
    // Installed layouts: PREFIX/bin beside PREFIX/share/travo/examples; the Windows folder holds
    // the example beside the programs.
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error && argv0 != nullptr) program = std::filesystem::absolute(argv0, error);
    if (error || program.empty()) return options;
    const std::filesystem::path bin = program.parent_path();
    for (const auto& candidate : {bin.parent_path() / "share/travo/examples" / app::kConfigFileName,
                                  bin / app::kConfigFileName}) {
        if (std::filesystem::is_regular_file(candidate, error)) {
            options.installed_example = candidate.lexically_normal().string();
            break;
        }
    }
    return options;
}

namespace {

// The name a report gives what it read.
std::string shown_name(const std::string& path) {
    return path == "-" ? std::string("standard input") : path;
}

// The report for a file that cannot be read, or nothing when its bytes are in `file`.
std::optional<Report> unreadable_report(const std::string& path, const FileBytes& file,
                                        const Options& options) {
    const std::string name = shown_name(path);
    switch (file.kind) {
        case FileBytes::Kind::read:
            return std::nullopt;
        case FileBytes::Kind::missing:
            return unreadable(name, Unreadable::missing, "the file does not exist", options);
        case FileBytes::Kind::directory:
            return unreadable(name, Unreadable::directory, "it is a directory", options);
        case FileBytes::Kind::permission:
            return unreadable(name, Unreadable::permission, "permission denied", options);
        case FileBytes::Kind::fifo:
            return unreadable(name, Unreadable::fifo,
                              "it is a named pipe (FIFO), not a file; travo would wait there "
                              "until a program writes to it, and then read what it writes",
                              options);
        case FileBytes::Kind::device:
            return unreadable(name, Unreadable::device,
                              "it is a device, not a file; travo would read from it as long as "
                              "it gives bytes, which may never finish",
                              options);
        case FileBytes::Kind::failed:
            break;
    }
    return unreadable(name, Unreadable::other,
                      "reading the file failed" + (file.why.empty() ? "" : " (" + file.why + ")"),
                      options);
}

app::ConfigValues values_of(std::string_view bytes) {
    std::istringstream in{std::string(bytes), std::ios::in | std::ios::binary};
    app::ConfigValues values{};
    app::read_config(in, values);
    return values;
}

}  // namespace

Report check_file(const std::string& path, const Options& options) {
    const FileBytes file = read_bounded(path);
    if (auto failed = unreadable_report(path, file, options)) return std::move(*failed);
    return analyse(shown_name(path), values_of(file.bytes), file.bytes, file.more, options);
}

std::optional<Report> read_file(const std::string& path, const Options& options,
                                app::ConfigValues& values) {
    const FileBytes file = read_bounded(path);
    if (auto failed = unreadable_report(path, file, options)) return failed;
    values = values_of(file.bytes);
    return std::nullopt;
}

std::string printable_name(std::string_view name) {
    std::string out;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            out += hex_byte(c);
        } else {
            out += ch;
        }
    }
    return out;
}

std::string printable(std::string_view bytes) {
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x7F) {
            out += hex_byte(c);
        } else {
            out += ch;
        }
    }
    return out;
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        if (ch == '"' || ch == '\\') out += '\\';
        out += printable(std::string_view(&ch, 1));
    }
    return out + "\"";
}

std::string picture_text(std::string_view bytes) {
    bool utf8 = true;
    for (std::size_t i = 0; i < bytes.size() && utf8;) {
        const std::size_t n =
            static_cast<unsigned char>(bytes[i]) < 0x80 ? 1 : utf8_sequence(bytes, i);
        utf8 = n > 0;
        i += n;
    }
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x20 || c == 0x7F) {
            out += hex_byte(c);
        } else if (utf8 || c < 0x80) {
            out += bytes[i];
        } else {
            out += hostside::cp1252_to_utf8(bytes.substr(i, 1));
        }
    }
    return out;
}

std::string chat_line_lost(std::string_view sent, const app::ConfigValues& values) {
    for (const app::ConfigLine& l : app::kValueLines) {
        for (const app::ValueUse& use : l.uses) {
            if (use.where == nullptr || use.room != app::kChatRoom) continue;
            const std::string full = std::string(use.prefix) + (values.*l.field);
            if (full.size() > use.room && sent.size() == use.room &&
                full.compare(0, use.room, sent) == 0)
                return full.substr(use.room);
        }
    }
    return {};
}

Report check_contents(std::string_view contents, std::string_view name, const Options& options) {
    return analyse(name, values_of(contents), contents, false, options);
}

}  // namespace travo_check
