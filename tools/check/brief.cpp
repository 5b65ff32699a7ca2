#include "tools/check/brief.h"

#include <cstring>
#include <string>

#include "tools/common/escape.h"

namespace travo_check {
namespace {

// The finding's short form, else its message up to the first full stop or semicolon outside a
// quoted text: always a whole sentence, never cut.
std::string short_form(const Finding& f) {
    if (!f.brief.empty()) return f.brief;
    const std::string_view message = f.message;
    bool quoted = false;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\\') {
            ++i;
        } else if (message[i] == '"') {
            quoted = !quoted;
        } else if (!quoted && i + 1 < message.size() && message[i + 1] == ' ' &&
                   (message[i] == '.' || message[i] == ';')) {
            return std::string(message.substr(0, i));
        }
    }
    return f.message;
}

}  // namespace

std::string brief_text(const Report& report, std::string_view name) {
    const std::string shown_name = toolkit::escaped(name, toolkit::Policy::quoted_name);
    // A file that cannot be read has no values to tell: the reason alone, as its status says.
    if (report.exit_code == toolkit::kUsageStatus && !report.findings.empty())
        return kTool.line(shown_name + ": " + short_form(report.findings.front())) + ".\n";
    const app::ConfigValues& v = report.values;
    const std::size_t n = report.findings.size();
    std::string out =
        kTool.line(shown_name) + ": host " + toolkit::escaped(v.host, toolkit::Policy::text) +
        ", port " + std::to_string(app::port_from_text(v.port)) + ", " +
        (v.admin_password[0] != '\0' ? "admin password set" : "no admin password") + ", " +
        (n == 0 ? std::string("no warnings")
                : std::to_string(n) + (n == 1 ? " warning" : " warnings")) +
        "\n";
    for (const Finding& f : report.findings) {
        out += f.line > 0 ? "  line " + std::to_string(f.line) : std::string("  file");
        out += ": ";
        out += short_form(f) + ".\n";
    }
    return out;
}

std::string brief_connect_text(const ConnectReport& report, std::string_view name) {
    return kTool.line(toolkit::escaped(name, toolkit::Policy::quoted_name) + ": " + report.text) +
           "\n";
}

bool is_loopback_or_private(std::uint32_t address_be) {
    unsigned char a[4];
    std::memcpy(a, &address_be, 4);
    // 0/8 is "this network": a connection to 0.0.0.0 reaches this machine.
    return a[0] == 0 || a[0] == 127 || a[0] == 10 || (a[0] == 172 && (a[1] & 0xF0) == 16) ||
           (a[0] == 192 && a[1] == 168) || (a[0] == 169 && a[1] == 254);
}

std::string remote_host_note(const app::ConfigValues& values, const Lookup& lookup) {
    if (values.admin_password[0] == '\0' || values.host[0] == '\0') return {};
    if (std::strcmp(values.host, "localhost") == 0) return {};
    std::uint32_t address = 0;
    if (!lookup || lookup(values.host, &address) != platform::LookupResult::kFound ||
        is_loopback_or_private(address))
        return {};
    return "Note: the host " + toolkit::escaped(values.host, toolkit::Policy::text) +
           " is neither this machine nor in a private network, and InSim is not encrypted: the "
           "admin password and every packet cross the network as they stand. Run travo on the "
           "host's machine, or reach the host through an SSH forward or a VPN and put the "
           "tunnel's end on line 2 (see \"Remote hosts\" in docs/operations.md).\n";
}

}  // namespace travo_check
