// Arbitrary configuration file bytes through travo-check: the report must show every value as
// travo's reader returns it and hold no control byte; the picture of the scene travo plays with
// those values (over the scripted platform) must be well-formed UTF-8 XML without control
// characters. The file's first bytes also name it, so the picture's title sees every byte too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/config.h"
#include "app/config_table.h"
#include "app/startup.h"
#include "insim/host_connection.h"
#include "tools/check/checker.h"
#include "tools/check/picture.h"
#include "tools/host_side/fake_host.h"
#include "tools/host_side/scripted_platform.h"

namespace {

using Event = hostside::ScriptedPlatform::Event;

// The machine these tests run on: one for the whole program, reset by each test.
hostside::ScriptedPlatform host;
using Bytes = insim::Bytes;

[[noreturn]] void fail(const char* what, std::string_view where = {}) {
    (void)std::fprintf(stderr, "fuzz_check: %s: %.*s\n", what, static_cast<int>(where.size()),
                       where.data());
    std::abort();
}

// Well-formed UTF-8: no overlong form, no surrogate, nothing past U+10FFFF.
bool valid_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (b < 0x80) {
            n = 1, cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            n = 2, cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            n = 3, cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            n = 4, cp = b & 0x07;
        } else {
            return false;
        }
        if (i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = cp << 6 | (c & 0x3F);
        }
        constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

bool control_free(std::string_view s) {
    return std::none_of(s.begin(), s.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b < 0x20 && b != '\n') || b == 0x7F;
    });
}

// A small XML well-formedness check: one root, balanced tags, quoted attributes, known entities.
class XmlCheck {
  public:
    explicit XmlCheck(std::string_view s) : s_(s) {}

    const char* error() {
        if (s_.starts_with("<?xml")) {
            const std::size_t end = s_.find("?>");
            if (end == std::string_view::npos) return "unterminated declaration";
            i_ = end + 2;
        }
        int roots = 0;
        std::vector<std::string_view> open;
        while (i_ < s_.size()) {
            if (s_[i_] != '<') {
                if (open.empty() && !blank(s_[i_])) return "text outside the root";
                if (const char* e = text('<')) return e;
                continue;
            }
            ++i_;
            if (at('/')) {
                ++i_;
                const std::string_view n = name();
                if (open.empty() || n != open.back()) return "end tag does not match";
                open.pop_back();
                if (!at('>')) return "bad end tag";
                ++i_;
                continue;
            }
            if (open.empty() && ++roots > 1) return "more than one root";
            const std::string_view n = name();
            if (n.empty()) return "bad tag name";
            for (;;) {
                skip_blanks();
                if (at('>')) {
                    ++i_;
                    open.push_back(n);
                    break;
                }
                if (s_.substr(i_).starts_with("/>")) {
                    i_ += 2;
                    break;
                }
                if (name().empty()) return "bad attribute name";
                if (!at('=')) return "attribute without value";
                ++i_;
                if (!at('"') && !at('\'')) return "unquoted attribute";
                const char quote = s_[i_++];
                if (const char* e = text(quote)) return e;
                if (!at(quote)) return "unterminated attribute";
                ++i_;
            }
        }
        if (!open.empty()) return "unclosed element";
        return roots == 1 ? nullptr : "no root";
    }

  private:
    static bool blank(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }
    static bool name_char(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == ':' || c == '-' || c == '.';
    }
    bool at(char c) const { return i_ < s_.size() && s_[i_] == c; }
    void skip_blanks() {
        while (i_ < s_.size() && blank(s_[i_])) ++i_;
    }
    std::string_view name() {
        const std::size_t from = i_;
        while (i_ < s_.size() && name_char(s_[i_])) ++i_;
        return s_.substr(from, i_ - from);
    }
    // Character data up to `stop`; '<' never inside, '&' only as an entity.
    const char* text(char stop) {
        while (i_ < s_.size() && s_[i_] != stop) {
            if (s_[i_] == '<') return "'<' inside text";
            if (s_[i_] == '&') {
                const std::size_t end = s_.find(';', i_);
                if (end == std::string_view::npos) return "unterminated entity";
                const std::string_view e = s_.substr(i_ + 1, end - i_ - 1);
                if (e != "amp" && e != "lt" && e != "gt" && e != "quot" && e != "apos")
                    return "unknown entity";
                i_ = end;
            }
            ++i_;
        }
        return nullptr;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

// How the report must show a value: quoted, bytes outside printable ASCII as \xNN; the
// password only by its length.
std::string expected_shown(const app::ConfigLine& l, const char* value) {
    const std::string_view v = value;
    if (l.field == &app::ConfigValues::admin_password) {
        if (v.empty()) return "(empty)";
        return "(set, " + std::to_string(v.size()) + (v.size() == 1 ? " byte)" : " bytes)");
    }
    std::string out = "\"";
    for (const char ch : v) {
        const auto c = static_cast<unsigned char>(ch);
        char hex[5];
        (void)std::snprintf(hex, sizeof hex, "\\x%02X", c);
        if (c == '"' || c == '\\') out += '\\';
        out += c < 0x20 || c >= 0x7F ? std::string(hex) : std::string(1, ch);
    }
    return out + "\"";
}

// Compared without memcmp, which libFuzzer intercepts and traces at a high cost.
bool same(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

void check_report(const travo_check::Report& report, const app::ConfigValues& travo) {
    if (!control_free(report.text)) fail("control byte in the report", report.text);
    // The value lines follow the header's blank line, one a line in the table's order.
    std::string_view rest = report.text;
    rest.remove_prefix(std::min(rest.size(), rest.find("\n\n") + 2));
    rest.remove_prefix(std::min(rest.size(), rest.find('\n') + 1));
    for (const app::ConfigLine& l : app::kValueLines) {
        const char* value = app::config_field(travo, l);
        if (!same(app::config_field(report.values, l), value)) fail("value differs from travo's");
        const std::string line = std::string("  line ") + (l.line < 10 ? " " : "") +
                                 std::to_string(l.line) + "  " + l.meaning + ": " +
                                 expected_shown(l, value);
        const std::string_view shown = rest.substr(0, rest.find('\n'));
        if (!same(shown, line)) fail("value shown differs", line);
        rest.remove_prefix(std::min(rest.size(), shown.size() + 1));
    }
}

// The scene the picture shows, played by travo's code over the scripted platform.
std::vector<hostside::Bytes> scene(const app::ConfigValues& values) {
    host.reset();
    host.add_bytes(hostside::version_packet("0.7F", 9));
    host.add_bytes(hostside::ncn_packet(travo_check::kPicturePlayer));
    for (const char* command : travo_check::kPictureCommands)
        host.add_bytes(hostside::say_packet(travo_check::kPicturePlayer, command));
    host.add_event(Event::close);
    insim::HostConnection connection{host};
    insim::IS_VER version{};
    if (connection.connect_host("127.0.0.1", 29999, app::kInsimName, values.admin_password,
                                &version, app::kInsimPrefix, app::kInsimFlags,
                                app::kInsimIntervalMs, 0) != 0)
        fail("no handshake");
    const std::size_t from = host.sent().size();
    app::send_greeting(connection, values);
    app::run_packet_loop(connection, values);
    std::vector<hostside::Bytes> records;
    for (const Bytes& b : host.sends_since(from)) records.emplace_back(b.begin(), b.end());
    return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::istringstream in{std::string(bytes), std::ios::in | std::ios::binary};
    app::ConfigValues travo{};
    app::read_config(in, travo);

    const std::string name(bytes.substr(0, 40));
    const travo_check::Report report = travo_check::check_contents(bytes, name);
    check_report(report, travo);

    const std::string svg =
        travo_check::picture_svg(scene(report.values), report.values, "picture of " + name);
    if (!valid_utf8(svg)) fail("picture not UTF-8");
    if (!control_free(svg)) fail("control character in the picture");
    if (const char* error = XmlCheck(svg).error()) fail(error, svg);
    return 0;
}
