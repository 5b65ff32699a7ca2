// travo-check [FILE]: tells what travo will make of its configuration file before it runs.
#include <iostream>
#include <string>
#include <string_view>

#include "app/config.h"
#include "tools/check/checker.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "travo-check " TRAVO_VERSION "\n";
        return 0;
    }
    const bool help =
        argc == 2 && (std::string_view(argv[1]) == "-h" || std::string_view(argv[1]) == "--help");
    if (argc > 2 || help) {
        (help ? std::cout : std::cerr)
            << "usage: travo-check [FILE]\n"
            << "       travo-check --version\n"
            << "Checks a travo configuration file (default: " << kConfigFileName
            << " in the current directory).\n"
            << "Exit status: 0 no problems, 1 warnings, 2 the file cannot be read.\n";
        return help ? 0 : 2;
    }
    const std::string path = argc == 2 ? argv[1] : kConfigFileName;
    const travo_check::Report report = travo_check::check_file(path);
    std::cout << report.text << std::flush;
    return report.exit_code;
}
