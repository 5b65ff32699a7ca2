// travo-check [FILE]: tells what travo will make of its configuration file before it runs.
// travo-check --connect [FILE]: tries travo's handshake with the configured host.
// travo-check --brief [FILE]: what travo is about to try, in a few lines for a journal.
// travo-check --watch [FILE]: the host's chat lines and what travo makes of each.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

#include "app/config.h"
#include "insim/platform.h"
#include "tools/check/brief.h"
#include "tools/check/checker.h"
#include "tools/check/connect.h"
#include "tools/check/picture.h"
#include "tools/check/watch.h"
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
       travo-check --brief --connect [FILE] [--timeout SECONDS]
       travo-check --watch [FILE] [--timeout SECONDS]
       travo-check --version
Checks a travo configuration file (default: quintaro.travo in the current directory;
- reads standard input).
With --picture, also draws what a player sees (the welcome panel, the rules panel,
the start light and the chat) into PICTURE.svg, using travo's own code; it writes only
a new file or a regular one, never the configuration file or any *.travo.
With --connect, connects to the configured host and port, makes travo's handshake
(same name, flags and admin password) and says in one line what happened; it takes
at most SECONDS in all (0.1 to 3600, default 10) and sends no chat line or button.
With --brief, prints one line with the file's full path, the host, the port, whether
an admin password is set and how many warnings there are, then one short line per
warning. With --brief --connect, the connection's answer in one line after the file's
full path; under systemd after a run (ExecStopPost=), nothing and no connection when
SERVICE_RESULT is "success": the service was stopped, not ended by a fault.
With --watch, makes travo's handshake with the host as one more InSim client and
prints each chat line the host reports, with what travo makes of it: the command it
answers, or why none; until Ctrl+C, or for SECONDS at most. It sends nothing to
players. Exit status 0 when it ends so, 1 when the connection failed or ended.
Options take their value as --option VALUE or --option=VALUE, once.
Exit status: 0 no problems (connected), 1 warnings (not connected),
2 the file cannot be read, a usage error or a picture refused before any work,
3 standard output could not be written.
)";

// The connection doctor's limit, and the watch's for its handshake.
constexpr std::chrono::milliseconds kDoctorLimit{10000};

struct Arguments {
    bool connect = false;
    bool brief = false;
    bool watch = false;
    bool help = false;
    bool version = false;
    std::string picture;
    bool timeout_given = false;
    std::chrono::milliseconds timeout = kDoctorLimit;
    std::string path = app::kConfigFileName;
};

// The arguments, or the exit status of a usage error.
std::variant<Arguments, int> parse_arguments(int argc, char** argv) {
    Arguments a;
    const std::vector<toolkit::Option> options = {
        toolkit::flag("--connect", a.connect),
        toolkit::flag("--brief", a.brief),
        toolkit::flag("--watch", a.watch),
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
    if (a.watch && (a.connect || a.brief || picture))
        return kTool.usage_error("--watch goes alone, with --timeout at most");
    if (a.connect && picture) return kTool.usage_error("--picture and --connect go apart");
    if (a.timeout_given && !a.connect && !a.watch)
        return kTool.usage_error("--timeout goes with --connect or --watch");
    if (a.brief && picture) return kTool.usage_error("--brief and --picture go apart");
    return a;
}

// The file as a journal names it: by its full path, so that the lines of several hosts say whose.
std::string full_path(const std::string& path) {
    if (path == "-") return "standard input";
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    return error ? path : full.lexically_normal().string();
}

// Under systemd's ExecStopPost=: the service was stopped (systemctl stop or restart), so travo
// ended by no fault of the connection and there is nothing to find out.
bool stopped_by_systemd() {
    const char* result = std::getenv("SERVICE_RESULT");
    return result != nullptr && std::string_view(result) == "success";
}

volatile std::sig_atomic_t g_stop = 0;
extern "C" void on_stop_signal(int) {
    g_stop = 1;
}

// The doctor's handshake, then the chat as travo sees it until Ctrl+C or the time limit.
int watch(const Arguments& a, const app::ConfigValues& values) {
    if (std::signal(SIGINT, on_stop_signal) == SIG_ERR ||
        std::signal(SIGTERM, on_stop_signal) == SIG_ERR) {
        kTool.complain("cannot catch SIGINT and SIGTERM for --watch");
    }
    using std::chrono::milliseconds;
    const auto started = std::chrono::steady_clock::now();
    const auto watched = [&](const travo_check::Connected& connected) {
        milliseconds left{0};  // no limit
        if (a.timeout_given) {
            const auto spent = std::chrono::duration_cast<milliseconds>(
                std::chrono::steady_clock::now() - started);
            left = std::max(milliseconds{1}, a.timeout - spent);
        }
        return travo_check::watch_chat(
            connected, left, [] { return g_stop != 0; }, std::cout);
    };
    const travo_check::ConnectReport report = travo_check::connect_check(
        values, std::min(a.timeout, kDoctorLimit), platform::os(), watched);
    std::cout << report.line << std::endl;
    return report.exit_code;
}

int check(const Arguments& a, const travo_check::Options& options) {
    if (a.brief && !a.connect) {
        const travo_check::Report report = travo_check::check_file(a.path, options);
        std::cout << travo_check::brief_text(report, full_path(a.path)) << std::flush;
        return report.exit_code;
    }
    if (a.connect || a.watch) {
        if (a.brief && stopped_by_systemd()) return 0;
        app::ConfigValues values{};
        if (const auto unreadable = travo_check::read_file(a.path, options, values)) {
            std::cout << (a.brief ? travo_check::brief_text(*unreadable, full_path(a.path))
                                  : unreadable->text)
                      << std::flush;
            return unreadable->exit_code;
        }
        if (a.watch) return watch(a, values);
        const travo_check::ConnectReport report = travo_check::connect_check(values, a.timeout);
        std::cout << (a.brief ? travo_check::brief_connect_text(report, full_path(a.path))
                              : report.line + "\n")
                  << std::flush;
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
    toolkit::show_letters(toolkit::terminal_letters());
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
