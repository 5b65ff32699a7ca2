#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

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

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Edits (a letter added, dropped or changed) from one name to the other, up to `most` + 1.
std::size_t edits(std::string_view a, std::string_view b, std::size_t most) {
    if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > most) return most + 1;
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// A file beside a missing one whose name is near its own, and how near: the name with an
// extension behind it, as Notepad saves "quintaro.travo.txt" (0); the same name in other letters
// or with blanks around it (1); the same stem with another extension (2); a slip of a letter or
// two (3).
struct NearName {
    int rank;
    std::string name;
};

std::vector<NearName> near_names(const std::string& path) {
    namespace fs = std::filesystem;
    std::vector<NearName> found;
    const fs::path wanted(path);
    const std::string want = lower(wanted.filename().string());
    if (path == "-" || want.empty()) return found;
    const std::string stem = want.substr(0, want.find('.'));
    const fs::path folder = wanted.parent_path().empty() ? fs::path(".") : wanted.parent_path();
    std::error_code error;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    // A huge folder is looked through only so far.
    for (int looked = 0; !error && it != fs::directory_iterator() && looked < 4096;
         it.increment(error), ++looked) {
        std::error_code kind_error;
        if (!it->is_regular_file(kind_error)) continue;
        const std::string name = it->path().filename().string();
        const std::string have = lower(name);
        std::string trimmed = have;
        trimmed.erase(0, trimmed.find_first_not_of(' '));
        trimmed.erase(trimmed.find_last_not_of(' ') + 1);
        int rank = -1;
        if (have.size() > want.size() + 1 && have.starts_with(want + ".") &&
            have.find('.', want.size() + 1) == std::string::npos) {
            rank = 0;
        } else if (trimmed == want) {
            rank = 1;
        } else if (!stem.empty() && have.substr(0, have.find('.')) == stem) {
            rank = 2;
        } else if (want.size() >= 8 && edits(have, want, 2) <= 2) {
            rank = 3;
        }
        if (rank >= 0) found.push_back({rank, name});
    }
    std::sort(found.begin(), found.end(), [](const NearName& a, const NearName& b) {
        return a.rank != b.rank ? a.rank < b.rank : a.name < b.name;
    });
    if (found.size() > 3) found.resize(3);
    return found;
}

// ", but this folder holds ..." for a missing file with near names beside it.
std::string near_text(const std::vector<NearName>& near) {
    if (near.empty()) return {};
    std::vector<std::string> names;
    for (const NearName& n : near)
        names.push_back(toolkit::escaped(n.name, toolkit::Policy::quoted_name));
    return ", but this folder holds " + join(names);
}

// Rename the nearest name to the one asked for.
std::string rename_fix(const std::string& path, const NearName& near) {
    namespace fs = std::filesystem;
    const fs::path wanted(path);
    const std::string from = (wanted.parent_path() / near.name).string();
    const std::string want = wanted.filename().string();
    std::string fix = "if " + toolkit::escaped(near.name, toolkit::Policy::quoted_name) +
                      " is the configuration, rename it to " +
                      toolkit::escaped(want, toolkit::Policy::quoted_name);
#ifndef _WIN32
    fix += " (mv " + toolkit::escaped(from, toolkit::Policy::shell) + " " +
           toolkit::escaped(path, toolkit::Policy::shell) + ")";
#endif
    if (near.rank == 0) {
        fix += "; Windows hides known extensions such as \"" + near.name.substr(want.size()) +
               "\", so Explorer shows that file as " +
               toolkit::escaped(want, toolkit::Policy::quoted_name) +
               " (View, Show, \"File name extensions\" shows its whole name)";
    }
    return fix;
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
    const std::vector<NearName> near =
        file.kind == FileBytes::Kind::missing ? near_names(path) : std::vector<NearName>{};
    f.message = "cannot read " + shown(shown_name(path)) + ": " + reason(file) + near_text(near);
    // A pipe or a device holds travo at its start; anything else gives it empty values. Closed
    // standard input tells nothing of the file travo reads.
    if (file.kind != FileBytes::Kind::fifo && file.kind != FileBytes::Kind::device &&
        file.kind != FileBytes::Kind::closed)
        f.message += "; travo would run with every value empty and fail to connect";
    f.fix = near.empty() ? fix(file, path, options) : rename_fix(path, near.front());
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
