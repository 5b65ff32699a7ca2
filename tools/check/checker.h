// travo-check: reads a configuration file the way travo does and says what travo will make of it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/config.h"

namespace travo_check {

enum class Issue {
    unreadable,     // the file is missing or cannot be read
    short_file,     // fewer than 36 lines
    long_line,      // a line of 100 or more characters
    port,           // not a whole number from 1 to 65535
    long_password,  // more than the 16 bytes of the InSim admin field
    overflow,       // a chat line or button text longer than its field
    utf8,           // byte sequences that look like UTF-8
    host,           // empty, blanks around it, or a name that does not resolve
    password,       // blanks before or after the admin password
    line_ends,      // lines ended by CR alone: travo sees one long line
    utf16,          // the file is UTF-16 text
    zero_byte,      // a zero byte inside a value, which ends it
};

struct Finding {
    Issue issue;
    int line;  // 1-based; 0 for the file as a whole
    // unreadable: 0; short_file: lines present; long_line: characters beyond 99; port: the port
    // travo would use; long_password: bytes cut; overflow: characters cut; utf8: sequences found;
    // zero_byte: its column.
    int count;
    std::vector<int> emptied;  // value lines that come out empty because of this finding
    std::string message;
    std::string fix;
};

struct Report {
    std::vector<Finding> findings;
    std::string text;          // what travo-check prints
    int exit_code;             // 0 clean, 1 warnings, 2 unreadable
    app::ConfigValues values;  // as travo reads them; all empty when unreadable
};

struct Options {
    // Whether a host name resolves on this machine; empty: no lookup is made.
    std::function<bool(const char* host)> resolves;
    // The example configuration of the installed package, where one is found (else empty).
    std::string installed_example;
};

// The name lookup travo makes, and the installed example next to the running program.
Options default_options(const char* argv0);

// Reads `path` once, as far as travo reads and a little beyond, and checks it; "-" is standard
// input. Named pipes and devices are reported unreadable without being opened.
Report check_file(const std::string& path, const Options& options = {});

// Reads the values as travo does; the report of check_file when the file cannot be read.
std::optional<Report> read_file(const std::string& path, const Options& options,
                                app::ConfigValues& values);

// What travo's chat line `sent` (the Msg as it went out) lost to the 63-character field: the
// cut-off end of the value that made it, or empty when nothing was cut.
std::string chat_line_lost(std::string_view sent, const app::ConfigValues& values);

// A text for the terminal: every byte outside printable ASCII as \xNN.
std::string printable(std::string_view bytes);
// In double quotes, with '"' and '\\' escaped and every byte outside printable ASCII as \xNN, so
// that blanks and encodings show and a journal line stays one line.
std::string quoted(std::string_view text);

// A file name for the terminal: control bytes as \xNN, so that none moves the cursor or ends the
// line; other bytes as they stand.
std::string printable_name(std::string_view name);

// A name for a picture: kept where it is well-formed UTF-8, else read as Windows-1252 like the
// values; control bytes as \xNN either way. Always well-formed UTF-8.
std::string picture_text(std::string_view bytes);

// Checks file contents already in memory; `name` is what the report calls the file.
Report check_contents(std::string_view contents, std::string_view name,
                      const Options& options = {});

}  // namespace travo_check
