// travo-check [FILE]: tells what travo will make of its configuration file before it runs.
// travo-check --connect [FILE]: tries travo's handshake with the configured host.
// travo-check --brief [FILE]: what travo is about to try, in a few lines for a journal.
#include <chrono>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "app/config.h"
#include "insim/platform.h"
#include "tools/check/brief.h"
#include "tools/check/checker.h"
#include "tools/check/connect.h"
#include "tools/check/picture.h"
#include "tools/common/escape.h"
#include "tools/common/options.h"
#include "tools/common/output_file.h"
#include "tools/common/standard_output.h"

namespace {

using travo_check::kTool;

constexpr const char* kUsage =
    R"(usage: travo-check [FILE]
       travo-check --picture PICTURE.svg [FILE]
       travo-check --connect [FILE] [--timeout SECONDS]
       travo-check --brief [FILE]
       travo-check --version
Checks a travo configuration file (default: quintaro.travo in the current directory;
- reads standard input).
With --picture, also draws what a player sees (the welcome panel, the rules panel,
the start light and the chat) into PICTURE.svg, using travo's own code; it writes only
a new file or a regular one, never the configuration file or any *.travo.
With --connect, connects to the configured host and port, makes travo's handshake
(same name, flags and admin password) and says in one line what happened; it takes
at most SECONDS in all (0.1 to 3600, default 10) and sends no chat line or button.
With --brief, prints one line with the host, the port, whether an admin password
is set and how many warnings there are, then one short line per warning.
Options take their value as --option VALUE or --option=VALUE, once.
Exit status: 0 no problems (connected), 1 warnings (not connected),
2 the file cannot be read, a usage error or a picture refused before any work,
3 standard output could not be written.
)";

struct Arguments {
    bool connect = false;
    bool brief = false;
    bool help = false;
    bool version = false;
    std::string picture;
    bool timeout_given = false;
    std::chrono::milliseconds timeout{10000};
    std::string path = app::kConfigFileName;
};

// The arguments, or the exit status of a usage error.
std::variant<Arguments, int> parse_arguments(int argc, char** argv) {
    Arguments a;
    const std::vector<toolkit::Option> options = {
        toolkit::flag("--connect", a.connect),
        toolkit::flag("--brief", a.brief),
        toolkit::flag("--help", a.help),
        toolkit::flag("-h", a.help),
        toolkit::flag("--version", a.version),
        toolkit::text("--picture", "the name of the picture", a.picture),
        toolkit::number("--timeout", 0.1, 3600, false, "seconds",
                        [&](double seconds) {
                            // chrono's rounding, not std::llround: that would need libm.
                            a.timeout = std::chrono::round<std::chrono::milliseconds>(
                                std::chrono::duration<double>(seconds));
                            a.timeout_given = true;
                        }),
    };
    std::vector<std::string> operands;
    if (const std::string why = toolkit::read_options(argc, argv, options, operands); !why.empty())
        return kTool.usage_error(why);
    if (operands.size() > 1) return kTool.usage_error("one configuration file at most");
    if (operands.size() == 1) {
        if (operands.front().empty())
            return kTool.usage_error("the configuration file's name is empty");
        a.path = operands.front();
    }
    const bool picture = !a.picture.empty();
    if (a.connect && picture) return kTool.usage_error("--picture and --connect go apart");
    if (a.timeout_given && !a.connect) return kTool.usage_error("--timeout goes with --connect");
    if (a.brief && (a.connect || picture)) return kTool.usage_error("--brief goes alone");
    return a;
}

int check(const Arguments& a, const travo_check::Options& options) {
    if (a.brief) {
        const travo_check::Report report = travo_check::check_file(a.path, options);
        std::cout << travo_check::brief_text(report, a.path) << std::flush;
        return report.exit_code;
    }
    if (a.connect) {
        app::ConfigValues values{};
        if (const auto unreadable = travo_check::read_file(a.path, options, values)) {
            std::cout << unreadable->text << std::flush;
            return unreadable->exit_code;
        }
        const travo_check::ConnectReport report = travo_check::connect_check(values, a.timeout);
        std::cout << report.line << std::endl;
        return report.exit_code;
    }
    // The picture's name is tried before the file is read, so that a refusal costs nothing.
    toolkit::RunFiles files;
    files.reads(a.path, "the configuration file");
    if (!a.picture.empty()) {
        if (const std::string why = files.claim(a.picture, "the picture"); !why.empty())
            return kTool.refuse(why);
    }
    const travo_check::Report report = travo_check::check_file(a.path, options);
    std::cout << report.text << travo_check::remote_host_note(report.values, options.lookup)
              << std::flush;
    if (a.picture.empty() || report.exit_code == toolkit::kUsageStatus) return report.exit_code;

    const auto records = travo_check::play_scene(report.values);
    if (!records) {
        return kTool.refuse("no picture: travo's code did not play the scene to its end");
    }
    const std::string svg = travo_check::picture_svg(
        *records, report.values, std::string(kTool.name()) + " --picture: " + a.path);
    if (const std::string why = files.write(a.picture, svg, "the picture"); !why.empty())
        return kTool.refuse(why);
    std::cout << "Picture of what players see: "
              << toolkit::escaped(a.picture, toolkit::Policy::name)
              << " (open it in any web browser).\n";
    return report.exit_code;
}

}  // namespace

int main(int argc, char** argv) {
    toolkit::StandardOutput output(kTool);
    const auto parsed = parse_arguments(argc, argv);
    if (const int* status = std::get_if<int>(&parsed)) return output.status(*status);
    const Arguments& a = *std::get_if<Arguments>(&parsed);
    if (a.help) {
        std::cout << kUsage;
        return output.status(0);
    }
    if (a.version) {
        std::cout << kTool.name() << " " TRAVO_VERSION "\n";
        return output.status(0);
    }
    return output.status(check(a, travo_check::default_options(argc > 0 ? argv[0] : nullptr)));
}
