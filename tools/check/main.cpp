// travo-check [FILE]: tells what travo will make of its configuration file before it runs.
// travo-check --connect [FILE]: tries travo's handshake with the configured host.
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "app/config.h"
#include "tools/check/checker.h"
#include "tools/check/connect.h"

namespace {

void usage(std::ostream& out) {
    out << "usage: travo-check [FILE]\n"
        << "       travo-check --connect [FILE] [--timeout SECONDS]\n"
        << "Checks a travo configuration file (default: " << kConfigFileName
        << " in the current directory).\n"
        << "With --connect, connects to the configured host and port, makes travo's handshake\n"
        << "(same name, flags and admin password) and says in one line what happened; it waits\n"
        << "at most SECONDS (default 10) and sends no chat line and no button.\n"
        << "Exit status: 0 no problems (connected), 1 warnings (not connected),\n"
        << "2 the file cannot be read or a usage error.\n";
}

int usage_error(const std::string& why) {
    std::cerr << "travo-check: " << why << "\n";
    usage(std::cerr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool connect = false;
    double timeout_seconds = 10;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(std::cout);
            return 0;
        }
        if (arg == "--connect") {
            connect = true;
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

    if (!connect) {
        const travo_check::Report report = travo_check::check_file(path, options);
        std::cout << report.text << std::flush;
        return report.exit_code;
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
