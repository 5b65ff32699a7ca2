#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "app/config.h"
#include "app/config_table.h"
#include "insim/platform.h"
#include "tools/check/checker.h"
#include "tools/check/checks.h"
#include "tools/check/service_user.h"
#include "tools/common/escape.h"
#include "tools/common/input_file.h"

namespace travo_check {
namespace {

struct Answer {
    platform::LookupResult result = platform::LookupResult::kNotFound;
    std::uint32_t address = 0;
};

using toolkit::FileBytes;

// A name as a message shows it; a name that cannot be read may be as long as a command line.
std::string shown(const std::string& name) {
    return toolkit::escaped_start(name, toolkit::Policy::name, 200);
}

// Why the file cannot be read, and what travo would do with it where that is not plain.
std::string reason(const FileBytes& file) {
    const std::string why = toolkit::why_unreadable(file);
    switch (file.kind) {
        case FileBytes::Kind::fifo:
            return why +
                   "; travo would wait there until a program writes to it, and then read "
                   "what it writes";
        case FileBytes::Kind::socket:
            return why + "; travo cannot read its configuration from it";
        case FileBytes::Kind::device:
            return why +
                   "; travo would read from it as long as it gives bytes, which may never "
                   "finish";
        default:
            return why;
    }
}

// What to do about it; `path` as given, `name` as the report calls it.
std::string fix(const FileBytes& file, const std::string& path, const Options& options) {
    const std::string installed =
        options.installed_example.empty()
            ? std::string("/usr/share/travo/examples/quintaro.travo where the .deb is installed")
            : shown(options.installed_example) + " (the installed example)";
    const std::string quoted_path = toolkit::escaped(path, toolkit::Policy::shell);
    switch (file.kind) {
        case FileBytes::Kind::missing:
            return "copy the example configuration, examples/quintaro.travo in the source tree "
                   "or " +
                   installed + ", to \"" + app::kConfigFileName +
                   "\" in the directory travo is started from, and edit it";
        case FileBytes::Kind::directory:
            return "move the directory away and put the configuration file \"" +
                   std::string(app::kConfigFileName) + "\" in its place";
        case FileBytes::Kind::permission:
            return "make the file readable by the user that runs travo, e.g. owner root, group "
                   "travo, mode 0640 (chown root:travo " +
                   quoted_path + "; chmod 0640 " + quoted_path +
                   "), as docs/operations.md describes";
        case FileBytes::Kind::fifo:
        case FileBytes::Kind::socket:
        case FileBytes::Kind::device:
            return "give " + std::string(kTool.name()) + " the regular file that travo reads, \"" +
                   std::string(app::kConfigFileName) + "\" in travo's directory";
        case FileBytes::Kind::loop:
            return "point the link at the configuration file, or put the file in its place";
        case FileBytes::Kind::closed:
            return "name the configuration file, or give it on standard input (" +
                   std::string(kTool.name()) + " - < " + app::kConfigFileName + ")";
        case FileBytes::Kind::read:
        case FileBytes::Kind::failed:
            break;
    }
    if (file.error == ENAMETOOLONG)
        return "give a shorter name: the system takes at most 255 bytes a name";
    return "check the disk and the file, or write the file anew from the example";
}

// The name a report gives what it read.
std::string shown_name(const std::string& path) {
    return path == "-" ? std::string("standard input") : path;
}

// The report for a file that cannot be read, or nothing when its bytes are in `file`.
std::optional<Report> unreadable_report(const std::string& path, const FileBytes& file,
                                        const Options& options) {
    if (file.kind == FileBytes::Kind::read) return std::nullopt;
    Finding f{Issue::unreadable, 0, 0, {}, {}, {}, {}};
    for (const app::ConfigLine& l : app::kValueLines) f.emptied.push_back(l.line);
    f.message = "cannot read " + shown(shown_name(path)) + ": " + reason(file);
    // A pipe or a device holds travo at its start; anything else gives it empty values. Closed
    // standard input tells nothing of the file travo reads.
    if (file.kind != FileBytes::Kind::fifo && file.kind != FileBytes::Kind::device &&
        file.kind != FileBytes::Kind::closed)
        f.message += "; travo would run with every value empty and fail to connect";
    f.fix = fix(file, path, options);
    Report report{{}, {}, toolkit::kUsageStatus, {}};
    report.text = kTool.line(f.message) + ".\n  fix: " + f.fix + ".\n";
    report.findings.push_back(std::move(f));
    return report;
}

FileBytes read_config_file(const std::string& path) {
    return toolkit::read_bounded(path, kReadLimit);
}

}  // namespace

Options default_options(const char* argv0) {
    Options options;
    options.service_user_reads = [](const std::string& path) { return user_can_read(path); };
    // The check and the remote-host note ask for the same name: one wait for the name server.
    options.lookup = [last = std::make_shared<std::pair<std::string, Answer>>()](
                         const char* host, std::uint32_t* address_be) {
        if (last->first != host) {
            last->first = host;
            last->second.result =
                platform::os().lookup_ipv4_within(host, &last->second.address, kLookupLimitMs);
        }
        *address_be = last->second.address;
        return last->second.result;
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

Report check_file(const std::string& path, const Options& options) {
    const FileBytes file = read_config_file(path);
    if (auto failed = unreadable_report(path, file, options)) return std::move(*failed);
    std::optional<bool> service_user_reads;
    std::error_code error;
    if (options.service_user_reads && std::filesystem::is_regular_file(path, error))
        service_user_reads = options.service_user_reads(path);
    return check_read({file.bytes, file.more, service_user_reads}, shown_name(path), options);
}

std::optional<Report> read_file(const std::string& path, const Options& options,
                                app::ConfigValues& values) {
    const FileBytes file = read_config_file(path);
    if (auto failed = unreadable_report(path, file, options)) return failed;
    values = values_of(file.bytes);
    return std::nullopt;
}

}  // namespace travo_check
