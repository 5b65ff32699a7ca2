#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "app/config.h"
#include "app/config_table.h"
#include "insim/records.h"
#include "tools/check/checks.h"
#include "tools/common/escape.h"

namespace travo_check {
namespace {

// The admin field needs no terminator: all 16 bytes carry the password.
constexpr std::size_t kAdminRoom = sizeof(insim::IS_ISI::Admin);

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

}  // namespace

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
        problem = "the port " + toolkit::escaped(text, toolkit::Policy::text) + " is not a number";
    } else if (sign && text[sign_at] == '-' && number != 0) {
        problem = "the port " + toolkit::escaped(text, toolkit::Policy::text) + " is negative";
    } else if (number == 0) {
        problem = "the port is 0";
    } else if (number > 65535) {
        problem = "the port " + toolkit::escaped(text, toolkit::Policy::text) + " is above 65535";
    } else if (after) {
        problem = "the port " + toolkit::escaped(text, toolkit::Policy::text) +
                  " has characters after its digits";
    } else if (sign_at > 0 || sign) {
        problem = "the port " + toolkit::escaped(text, toolkit::Policy::text) + " has " +
                  (sign_at > 0 ? "blanks" : "a sign") + " before its digits";
    } else {
        return;
    }
    Finding f{Issue::port, app::config_line_of(&app::ConfigValues::port).line, used, {}, {}, {},
              {}};
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

void check_host(const app::ConfigValues& values, const Options& options,
                std::vector<Finding>& findings) {
    const std::string_view host = values.host;
    Finding f{Issue::host, app::config_line_of(&app::ConfigValues::host).line, 0, {}, {}, {}, {}};
    const std::string blanks = blank_ends(host);
    std::optional<platform::LookupResult> found;
    std::uint32_t address = 0;
    if (options.lookup && !host.empty()) found = options.lookup(values.host, &address);
    if (host.empty()) {
        f.message = "the host is empty; travo would fail to connect";
        f.fix =
            "write the simulator host's name or IPv4 address, e.g. 127.0.0.1 when it runs on this "
            "machine";
    } else if (!blanks.empty()) {
        f.message = "the host " + toolkit::escaped(host, toolkit::Policy::text) + " has " + blanks +
                    " it; travo looks it up as it stands, blanks included";
        if (found == platform::LookupResult::kFound)
            f.message += ", which happens to work here for this address";
        else if (found == platform::LookupResult::kNotFound)
            f.message += ", and that lookup fails here";
        else if (found == platform::LookupResult::kNoAnswer)
            f.message += ", and the name server gave no answer here";
        f.fix = "remove the blanks from the host";
    } else if (found == platform::LookupResult::kNotFound) {
        f.message = "the host name " + toolkit::escaped(host, toolkit::Policy::text) +
                    " could not be resolved here, so travo would fail to connect from this machine";
        f.fix = "check the spelling, or write the host's IPv4 address";
    } else if (found == platform::LookupResult::kNoAnswer) {
        f.message = "no answer from the name server within " +
                    std::to_string(kLookupLimitMs / 1000) + " s for the host name " +
                    toolkit::escaped(host, toolkit::Policy::text) +
                    "; travo would wait for it as long as the system lets it, then connect or fail";
        f.fix =
            "check the name server of this machine (resolv.conf), or write the host's IPv4 address";
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
            Finding f{Issue::overflow, l.line, static_cast<int>(lost), {}, {}, {}, {}};
            f.message = "the " + std::string(l.label) + " has " + std::to_string(length) +
                        " characters, too many for " + join(where) + ": " +
                        (targets.size() == 1 ? "it loses" : "each loses") + " its last " +
                        plural(lost, "character", "characters") + " (" +
                        (chat ? "a chat line" : "a button text") + " holds " +
                        std::to_string(targets.front()->room) + ")";
            f.brief = "the " + std::string(l.label) + " loses its last " +
                      plural(lost, "character", "characters") + " in " +
                      plural(targets.size(), "text", "texts");
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
            const std::size_t n = toolkit::utf8_length(text, i);
            if (n == 0) {
                ++i;
                continue;
            }
            ++sequences;
            if (shown.size() < 3) {
                shown.push_back(toolkit::escaped(text.substr(i, n), toolkit::Policy::terminal) +
                                " at column " + std::to_string(i + 1));
            }
            i += n;
        }
        if (sequences == 0) continue;
        const bool secret = l.field == &app::ConfigValues::admin_password;
        Finding f{Issue::utf8, l.line, sequences, {}, {}, {}, {}};
        f.message = "the " + std::string(l.label) + " holds " +
                    plural(static_cast<std::size_t>(sequences), "byte sequence", "byte sequences") +
                    (sequences == 1 ? " that looks like UTF-8" : " that look like UTF-8");
        f.brief = f.message;
        if (!secret) {
            f.message += " (" + join(shown) +
                         (static_cast<std::size_t>(sequences) > shown.size() ? ", ..." : "") + ")";
        }
        if (secret) {
            // Players never see the password: what matters is that the host has the same bytes.
            f.message +=
                "; travo sends the password's bytes as they stand, and the host takes them only "
                "when its own password is the same bytes, which a password set in Windows-1252 "
                "on the host is not";
            f.fix =
                "use only ASCII letters, digits and signs in the admin password, here and on the "
                "host";
        } else {
            f.message +=
                "; travo passes bytes on unchanged and the simulator reads them as "
                "Windows-1252, so players see two or more wrong characters for each";
            f.fix = "save the file in Windows-1252 (\"ANSI\") rather than UTF-8";
        }
        findings.push_back(std::move(f));
    }
}

// Tabs, escapes, a stray CR: bytes a player's chat or button has no letter for. Zero bytes end the
// value before this sees them.
void check_control_bytes(const app::ConfigValues& values, std::vector<Finding>& findings) {
    for (const app::ConfigLine& l : app::kValueLines) {
        const bool shown = std::any_of(l.uses.begin(), l.uses.end(),
                                       [](const app::ValueUse& u) { return u.where != nullptr; });
        if (!shown) continue;
        const std::string_view text = app::config_field(values, l);
        std::size_t first = text.size();
        std::size_t count = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto b = static_cast<unsigned char>(text[i]);
            if (b >= 0x20 && b != 0x7F) continue;
            if (count++ == 0) first = i;
        }
        if (count == 0) continue;
        Finding f{Issue::control_byte, l.line, static_cast<int>(first + 1), {}, {}, {}, {}};
        f.message = "the " + std::string(l.label) + " holds the control byte " +
                    toolkit::escaped(text.substr(first, 1), toolkit::Policy::terminal) +
                    " at column " + std::to_string(first + 1) +
                    (count > 1 ? " (and " + std::to_string(count - 1) + " more)" : "") +
                    "; travo sends it as it stands, and players' chat and buttons have no letter "
                    "for it";
        f.fix = "remove it (a tab or a stray CR from another editor may be such a byte)";
        findings.push_back(std::move(f));
    }
}

}  // namespace travo_check
