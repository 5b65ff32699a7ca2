// travo-check [FILE]: tells what travo will make of its configuration file before it runs.
// travo-check --connect [FILE]: tries travo's handshake with the configured host.
// travo-check --brief [FILE]: what travo is about to try, in a few lines for a journal.
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "app/config.h"
#include "insim/platform.h"
#include "tools/check/brief.h"
#include "tools/check/checker.h"
#include "tools/check/connect.h"
#include "tools/check/picture.h"
#include "tools/check/picture_file.h"

namespace {

void usage(std::ostream& out) {
    out << "usage: travo-check [FILE]\n"
        << "       travo-check --picture PICTURE.svg [FILE]\n"
        << "       travo-check --connect [FILE] [--timeout SECONDS]\n"
        << "       travo-check --brief [FILE]\n"
        << "       travo-check --version\n"
        << "Checks a travo configuration file (default: " << app::kConfigFileName
        << " in the current directory; - reads standard input).\n"
        << "With --picture, also draws what a player sees (the welcome panel, the rules panel,\n"
        << "the start light and the chat) into PICTURE.svg, using travo's own code; it never\n"
        << "writes over the configuration file or any *.travo.\n"
        << "With --connect, connects to the configured host and port, makes travo's handshake\n"
        << "(same name, flags and admin password) and says in one line what happened; it takes\n"
        << "at most SECONDS in all (0.1 to 3600, default 10) and sends no chat line or button.\n"
        << "With --brief, prints one line with the host, the port, whether an admin password\n"
        << "is set and how many warnings there are, then one short line per warning.\n"
        << "Exit status: 0 no problems (connected), 1 warnings (not connected),\n"
        << "2 the file cannot be read or a usage error.\n";
}

int usage_error(const std::string& why) {
    std::cerr << "travo-check: " << why << "\n";
    usage(std::cerr);
    return 2;
}

int refused(const std::string& why) {
    std::cerr << "travo-check: " << why << "\n";
    return 2;
}

int draw_picture(const std::string& picture, const std::string& path,
                 const app::ConfigValues& values, int exit_code) {
    const auto records = travo_check::play_scene(values);
    if (!records) {
        std::cerr << "travo-check: no picture: travo's code did not play the scene to its end\n";
        return 2;
    }
    const std::string svg =
        travo_check::picture_svg(*records, values, "travo-check --picture: " + path);
    if (const std::string why = travo_check::write_whole_file(picture, svg); !why.empty()) {
        std::cerr << "travo-check: cannot write the picture "
                  << travo_check::printable_name(picture) << ": " << why << "\n";
        return 2;
    }
    std::cout << "Picture of what players see: " << travo_check::printable_name(picture)
              << " (open it in any web browser).\n";
    return exit_code;
}

struct Arguments {
    bool connect = false;
    bool brief = false;
    bool picture_given = false;
    std::string picture;
    bool timeout_given = false;
    std::chrono::milliseconds timeout{10000};
    bool path_given = false;
    std::string path = app::kConfigFileName;
};

// Seconds from 0.1 to 3600, kept to the millisecond.
bool parse_timeout(const char* text, std::chrono::milliseconds& limit) {
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(seconds >= 0.1 && seconds <= 3600)) return false;
    // chrono's rounding, not std::llround: that would make the program need libm.
    limit = std::chrono::round<std::chrono::milliseconds>(std::chrono::duration<double>(seconds));
    return true;
}

// The value of an option given as "--name VALUE" or "--name=VALUE"; nothing when `arg` is
// another option. `missing` is set when the value is absent.
std::optional<std::string> option_value(std::string_view name, int argc, char** argv, int& i,
                                        bool& missing) {
    const std::string_view arg = argv[i];
    if (arg == name) {
        missing = i + 1 == argc;
        return missing ? std::string() : std::string(argv[++i]);
    }
    if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=')
        return std::string(arg.substr(name.size() + 1));
    return std::nullopt;
}

// The arguments, or the exit status of a usage error, --help or --version.
std::variant<Arguments, int> parse_arguments(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        bool missing = false;
        if (arg == "-h" || arg == "--help") {
            usage(std::cout);
            return 0;
        }
        if (arg == "--version") {
            std::cout << "travo-check " TRAVO_VERSION "\n";
            return 0;
        }
        if (arg == "--connect") {
            a.connect = true;
        } else if (arg == "--brief") {
            a.brief = true;
        } else if (const auto picture = option_value("--picture", argc, argv, i, missing)) {
            if (missing) return usage_error("--picture needs the name of the picture");
            if (picture->empty()) return usage_error("the picture's name is empty");
            a.picture = *picture;
            a.picture_given = true;
        } else if (const auto seconds = option_value("--timeout", argc, argv, i, missing)) {
            if (missing) return usage_error("--timeout needs a number of seconds");
            if (!parse_timeout(seconds->c_str(), a.timeout))
                return usage_error("--timeout takes seconds from 0.1 to 3600");
            a.timeout_given = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error("unknown option " + travo_check::printable_name(arg));
        } else if (a.path_given) {
            return usage_error("one configuration file at most");
        } else if (arg.empty()) {
            return usage_error("the configuration file's name is empty");
        } else {
            a.path = arg;
            a.path_given = true;
        }
    }
    if (a.connect && a.picture_given) return usage_error("--picture and --connect go apart");
    if (a.timeout_given && !a.connect) return usage_error("--timeout goes with --connect");
    if (a.brief && (a.connect || a.picture_given)) return usage_error("--brief goes alone");
    if (a.picture_given) {
        if (const std::string why = travo_check::picture_refused(a.picture, a.path); !why.empty())
            return refused(why);
    }
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = parse_arguments(argc, argv);
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    const Arguments& a = *std::get_if<Arguments>(&parsed);
    const travo_check::Options options = travo_check::default_options(argc > 0 ? argv[0] : nullptr);

    if (a.brief) {
        const travo_check::Report report = travo_check::check_file(a.path, options);
        std::cout << travo_check::brief_text(report, a.path) << std::flush;
        return report.exit_code;
    }
    if (!a.connect) {
        const travo_check::Report report = travo_check::check_file(a.path, options);
        const auto lookup = [](const char* host, std::uint32_t* address) {
            return platform::os().lookup_ipv4(host, address);
        };
        std::cout << report.text << travo_check::remote_host_note(report.values, lookup)
                  << std::flush;
        if (!a.picture_given || report.exit_code == 2) return report.exit_code;
        return draw_picture(a.picture, a.path, report.values, report.exit_code);
    }
    app::ConfigValues values{};
    if (const auto unreadable = travo_check::read_file(a.path, options, values)) {
        std::cout << unreadable->text << std::flush;
        return unreadable->exit_code;
    }
    const travo_check::ConnectReport report = travo_check::connect_check(values, a.timeout);
    std::cout << report.line << std::endl;
    return report.exit_code;
}
