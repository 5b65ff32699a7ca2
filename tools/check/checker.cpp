#include "tools/check/checker.h"

#include <algorithm>
#include <cstddef>
#include <sstream>
#include <string>

#include "app/config.h"
#include "app/config_table.h"
#include "tools/check/checks.h"
#include "tools/check/service_user.h"
#include "tools/common/escape.h"

namespace travo_check {
namespace {

std::string shown_value(const app::ConfigValues& values, const app::ConfigLine& l) {
    const std::string_view text = app::config_field(values, l);
    if (l.field != &app::ConfigValues::admin_password)
        return toolkit::escaped(text, toolkit::Policy::text);
    if (text.empty()) return "(empty)";
    return "(set, " + plural(text.size(), "byte", "bytes") + ")";
}

std::string warnings_text(const std::vector<Finding>& findings) {
    std::ostringstream out;
    out << plural(findings.size(), "warning", "warnings") << ":\n";
    for (const Finding& f : findings) {
        out << (f.line > 0 ? "  line " + std::to_string(f.line) : std::string("  file")) << ": "
            << f.message << ".\n";
        out << "    fix: " << f.fix << ".\n";
    }
    return out.str();
}

// Whether the user the service runs as can read the file, where that was told.
void check_service_user(const ReadFile& file, std::string_view name,
                        std::vector<Finding>& findings) {
    if (file.service_user_reads.value_or(true)) return;
    Finding f{Issue::service_user, 0, 0, {}, {}, {}, {}};
    for (const app::ConfigLine& l : app::kValueLines) f.emptied.push_back(l.line);
    const std::string user = kServiceUser;
    const std::string path = toolkit::escaped(name, toolkit::Policy::shell);
    f.message = "the user " + user +
                ", which the service runs as, cannot read this file, so travo started by the "
                "service would run with every value empty and fail to connect";
    f.brief = "the user " + user + ", which the service runs as, cannot read this file";
    f.fix = "let the user " + user +
            " read the file and enter its folders, e.g. owner root, group travo, mode 0640 "
            "(chown root:travo " +
            path + "; chmod 0640 " + path + "), as docs/operations.md describes";
    findings.push_back(std::move(f));
}

}  // namespace

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

app::ConfigValues values_of(std::string_view bytes) {
    std::istringstream in{std::string(bytes), std::ios::in | std::ios::binary};
    app::ConfigValues values{};
    app::read_config(in, values);
    return values;
}

Report check_read(const ReadFile& file, std::string_view name, const Options& options) {
    const std::string_view raw = file.bytes;
    const bool more = file.more;
    const app::ConfigValues values = values_of(raw);
    Report report{{}, {}, 0, values};
    const std::vector<std::string_view> lines = line_texts(raw);
    check_service_user(file, name, report.findings);
    // Every other finding would only repeat that every value is empty.
    if (!check_utf16(raw, values, report.findings) && !check_line_ends(raw, report.findings)) {
        check_lines(lines, more, report.findings);
        check_zero_bytes(lines, values, report.findings);
        check_host(values, options, report.findings);
        check_port(values, report.findings);
        check_password(values, report.findings);
        check_overflow(values, report.findings);
        check_encoding(values, report.findings);
        check_control_bytes(values, report.findings);
    }
    std::stable_sort(report.findings.begin(), report.findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    report.exit_code = report.findings.empty() ? 0 : 1;

    std::ostringstream out;
    out << kTool.line(toolkit::escaped(name, toolkit::Policy::name)) << ", "
        << (more ? "at least " + plural(lines.size(), "line", "lines") + " in its first " +
                       std::to_string(kReadLimit / 1024) + " KiB, read no further"
                 : plural(lines.size(), "line", "lines"));
    if (lines.size() > static_cast<std::size_t>(app::kConfigLines)) {
        out << " (lines " << app::kConfigLines + 1 << " and later are not read)";
    }
    out << "\n\nValues as travo reads them (bytes that cannot be shown here as \\xNN):\n";
    for (const app::ConfigLine& l : app::kValueLines) {
        out << "  line " << (l.line < 10 ? " " : "") << l.line << "  " << l.meaning << ": "
            << shown_value(values, l) << "\n";
    }
    out << "\n";
    if (file.service_user_reads.value_or(false)) {
        out << "The user " << kServiceUser << ", which the service runs as, can read this file.\n";
    }
    if (report.findings.empty()) {
        out << "No problems found.\n";
    } else {
        out << warnings_text(report.findings);
    }
    report.text = out.str();
    return report;
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
    return check_read(ReadFile{contents, false, std::nullopt}, name, options);
}

}  // namespace travo_check
