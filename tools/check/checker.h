// travo-check: reads a configuration file the way travo does and says what travo will make of it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/config.h"
#include "insim/platform.h"
#include "tools/common/messages.h"

namespace travo_check {

inline constexpr toolkit::Tool kTool{"travo-check"};

// Far more than travo's 36 lines of at most 101 bytes, so that a reader can still tell how long
// an over-long line is and that more lines follow.
inline constexpr std::size_t kReadLimit = 64 * 1024;

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
    utf16,          // the file is UTF-16 or UTF-32 text
    zero_byte,      // a zero byte inside a value, which ends it
    service_user,   // the user the service runs as cannot read the file
    control_byte,   // a control byte inside a text that players see
};

struct Finding {
    Issue issue;
    int line;  // 1-based; 0 for the file as a whole
    // unreadable: 0; short_file: lines present; long_line: characters beyond 99; port: the port
    // travo would use; long_password: bytes cut; overflow: characters cut; utf8: sequences found;
    // zero_byte, control_byte: the column of the first.
    int count;
    std::vector<int> emptied;  // value lines that come out empty because of this finding
    std::string message;
    std::string fix;
    // For --brief, where the message's first clause is long: a short form of the finding, a whole
    // sentence without its full stop.
    std::string brief;
};

struct Report {
    std::vector<Finding> findings;
    std::string text;          // what travo-check prints
    int exit_code;             // 0 clean, 1 warnings, 2 unreadable
    app::ConfigValues values;  // as travo reads them; all empty when unreadable
};

// A host name or dotted address to an IPv4 address in network byte order, as travo looks it up.
using Lookup = std::function<platform::LookupResult(const char* host, std::uint32_t* address_be)>;

// How long the check waits for the name server; the doctor has its own limit.
inline constexpr long kLookupLimitMs = 5000;

struct Options {
    // The lookup of the host name on this machine; empty: no lookup is made.
    Lookup lookup;
    // The example configuration of the installed package, where one is found (else empty).
    std::string installed_example;
    // Whether the user the service runs as can read a file; empty, or nothing returned: that
    // cannot be told here.
    std::function<std::optional<bool>(const std::string& path)> service_user_reads;
};

// The name lookup travo makes, the installed example next to the running program, and whether
// the service's user can read the file.
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

// Checks file contents already in memory; `name` is what the report calls the file.
Report check_contents(std::string_view contents, std::string_view name,
                      const Options& options = {});

// What check_file found in a file it could read: `more` when the read stopped at the limit,
// `service_user_reads` where that could be told.
struct ReadFile {
    std::string_view bytes;
    bool more = false;
    std::optional<bool> service_user_reads;
};
Report check_read(const ReadFile& file, std::string_view name, const Options& options);

// "1 line", "3 lines".
std::string plural(std::size_t n, const char* one, const char* many);

}  // namespace travo_check
