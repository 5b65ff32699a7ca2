// travo-check [FILE]: tells what travo will make of its configuration file before it runs.
// travo-check --connect [FILE]: tries travo's handshake with the configured host.
// travo-check --brief [FILE]: what travo is about to try, in a few lines for a journal.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "app/config.h"
#include "insim/platform.h"
#include "tools/check/brief.h"
#include "tools/check/checker.h"
#include "tools/check/connect.h"
#include "tools/check/picture.h"

namespace {

void usage(std::ostream& out) {
    out << "usage: travo-check [FILE]\n"
        << "       travo-check --picture PICTURE.svg [FILE]\n"
        << "       travo-check --connect [FILE] [--timeout SECONDS]\n"
        << "       travo-check --brief [FILE]\n"
        << "       travo-check --version\n"
        << "Checks a travo configuration file (default: " << kConfigFileName
        << " in the current directory).\n"
        << "With --picture, also draws what a player sees (the welcome panel, the rules panel,\n"
        << "the start light and the chat) into PICTURE.svg, using travo's own code.\n"
        << "With --connect, connects to the configured host and port, makes travo's handshake\n"
        << "(same name, flags and admin password) and says in one line what happened; it waits\n"
        << "at most SECONDS (default 10) and sends no chat line and no button.\n"
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

int draw_picture(const std::string& picture, const std::string& path, const ConfigValues& values,
                 int exit_code) {
    const auto records = travo_check::play_scene(values);
    if (!records) {
        std::cerr << "travo-check: no picture: travo's code needs a connection to 127.0.0.1 "
                     "inside this program, and none could be had\n";
        return 2;
    }
    std::ofstream out(picture, std::ios::out | std::ios::binary | std::ios::trunc);
    out << travo_check::picture_svg(*records, values, "travo-check --picture: " + path);
    out.close();
    if (!out) {
        std::cerr << "travo-check: cannot write the picture " << picture << "\n";
        return 2;
    }
    std::cout << "Picture of what players see: " << picture << " (open it in any web browser).\n";
    return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
    bool connect = false;
    bool brief = false;
    std::string picture;
    double timeout_seconds = 10;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(std::cout);
            return 0;
        }
        if (arg == "--version") {
            std::cout << "travo-check " TRAVO_VERSION "\n";
            return 0;
        }
        if (arg == "--connect") {
            connect = true;
        } else if (arg == "--brief") {
            brief = true;
        } else if (arg == "--picture") {
            if (i + 1 == argc) return usage_error("--picture needs the name of the picture");
            picture = argv[++i];
        } else if (arg == "--timeout") {
            if (i + 1 == argc) return usage_error("--timeout needs a number of seconds");
            char* end = nullptr;
            timeout_seconds = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(timeout_seconds > 0) ||
                timeout_seconds > 3600) {
                return usage_error("--timeout takes seconds from 0.1 to 3600");
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error("unknown option " + std::string(arg));
        } else if (path.empty()) {
            path = arg;
        } else {
            return usage_error("one configuration file at most");
        }
    }
    if (path.empty()) path = kConfigFileName;
    const travo_check::Options options = travo_check::default_options(argc > 0 ? argv[0] : nullptr);

    if (connect && !picture.empty()) return usage_error("--picture and --connect go apart");
    if (brief) {
        if (connect || !picture.empty()) return usage_error("--brief goes alone");
        const travo_check::Report report = travo_check::check_file(path, options);
        std::cout << travo_check::brief_text(report, path) << std::flush;
        return report.exit_code;
    }
    if (!connect) {
        const travo_check::Report report = travo_check::check_file(path, options);
        std::cout << report.text
                  << travo_check::remote_host_note(report.values, platform::lookup_ipv4)
                  << std::flush;
        if (picture.empty() || report.exit_code == 2) return report.exit_code;
        return draw_picture(picture, path, report.values, report.exit_code);
    }
    ConfigValues values{};
    if (const auto unreadable = travo_check::read_file(path, options, values)) {
        std::cout << unreadable->text << std::flush;
        return unreadable->exit_code;
    }
    const auto limit = std::chrono::milliseconds(static_cast<long long>(timeout_seconds * 1000));
    const travo_check::ConnectReport report = travo_check::connect_check(values, limit);
    std::cout << report.line << std::endl;
    return report.exit_code;
}
