// travo-sim: a virtual simulator host on 127.0.0.1 for trying Travo without the simulator.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "insim/platform.h"
#include "insim/records.h"
#include "tools/common/escape.h"
#include "tools/common/numbers.h"
#include "tools/common/options.h"
#include "tools/common/standard_output.h"
#include "tools/sim/host.h"
#include "tools/sim/settings.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

using sim::kTool;

namespace {

constexpr const char* kHelp = R"(Usage: travo-sim [options]

A virtual Live for Speed host for Travo: listens on 127.0.0.1 for InSim clients (up to 8 at
once, as many after one another as come), answers their handshakes, plays players from a
script or from standard input, and shows what the players would see: the chat lines and the
button screen.

Options:
  --port N            TCP port to listen on, 0 to 65535 (default 29999; 0 picks a free one)
  --host-version TEXT host version reported in IS_VER, 1 to 7 bytes (default 0.7F)
  --insim-version N   InSim version reported in IS_VER, 0 to 65535 (default 9)
  --admin-password PW refuse a client whose IS_ISI carries another admin password (1 to 16
                      bytes); without it any password is accepted
  --keepalive SECONDS send a keep-alive this often, 0 = never, up to 86400 (default 30)
  --cars N            cars on track, 0 to 8: multi-car packets at each client's interval
                      (default 0)
  --size-unit N       1 (default) or 4: Size counts bytes, or 4-byte units as hosts of
                      InSim version 9 and later count it for a client that asks, in every
                      record sent; to see what a client that counts bytes makes of such a host
  --script FILE       read the commands from FILE instead of standard input
  --snapshot FILE     write the screen as an SVG picture at exit
  --ready-file FILE   create FILE once listening, holding the port (for scripts that start
                      the client)
  --wait-client SECS  how long to wait for the first client, up to 86400 (default 60)
  --forever           when the commands have ended, go on serving clients until SIGINT or
                      SIGTERM, then end with status 0; wait for the first client without a
                      limit, and report a command that fails without ending
  --trace             print every packet in both directions, decoded
  --plain             no terminal colours
  --help              this text
  --version           the name and version of this program
Options take their value as --option VALUE or --option=VALUE, once; an empty value is
refused, and numbers are plain decimal.
--snapshot, --ready-file and the snapshot command write only a new file or a regular one
(replaced whole), never a *.travo file or the script, and are checked before listening.

Commands (one a line, words apart by blanks or tabs, # starts a comment; they start once the
first client has made its handshake, and run back to back but for wait):
  join NAME           a connection joins with nickname NAME (IS_NCN), 1 to 23 bytes
  say NAME TEXT       NAME types TEXT: IS_MSO with Msg = NAME + " ^8" + TEXT (at most 127
                      bytes) and TextStart = length of NAME + 1, as the host reports chat lines
  chat TEXTSTART TEXT an IS_MSO with exactly this Msg (1 to 127 bytes) and TextStart (0 to 127)
  wait SECONDS        serve the clients for that long (0 to 86400)
  screen              draw the button screen now
  snapshot FILE.svg   write the button screen as an SVG picture
  close [N]           close the connection of every client, or of client N
  reset [N]           reset the connection of every client, or of client N
  quit                end here
join, say and chat go to every connected client; join and say show first, once, as a line
such as "[player] Racer types !fb". Clients are numbered 1, 2, ... in the order they
connect; with more than one, the lines name them as [client N]. A mistake in a script ends
the run before listening; one typed on standard input is refused and the run goes on.

A client that fails its handshake (a port probe, another program) is said in one line and is
not the client the run waits for. A client is closed, with a line saying why, when more than
256 KiB wait for it, when it has taken nothing for 10 s while bytes wait, or when it sends a
record with Size 0; no client holds up another or the commands.

Exit status: 0 when the commands ran to their end (with --forever: when stopped), 1 with a
one-line reason otherwise, 2 for a usage error, commands that cannot be read (a script or
standard input) or an output file that cannot be used, 3 when standard output could not be
written.
)";

// The version text as IS_VER holds it, with its zero.
constexpr std::size_t kVersionRoom = sizeof(insim::IS_VER::Version) - 1;
constexpr std::size_t kAdminRoom = sizeof(insim::IS_ISI::Admin);

volatile std::sig_atomic_t g_stop = 0;

extern "C" void on_stop_signal(int) {
    g_stop = 1;
}

bool stdout_is_terminal() {
#ifdef _WIN32
    return _isatty(1) != 0;
#else
    return isatty(1) != 0;
#endif
}

}  // namespace

bool sim::stopping() {
    return g_stop != 0;
}

int main(int argc, char** argv) {
    // Before the checked output takes std::cout: this call would replace its buffer.
    std::ios::sync_with_stdio(false);
    toolkit::StandardOutput output(kTool);
    sim::Options opt;
    opt.ansi = stdout_is_terminal();
    bool help = false;
    bool version = false;
    using toolkit::flag;
    using toolkit::number;
    using toolkit::text;
    const std::vector<toolkit::Option> options = {
        flag("--help", help),
        flag("-h", help),
        flag("--version", version),
        number("--port", 0, 65535, true, "",
               [&](double v) { opt.port = static_cast<std::uint16_t>(v); }),
        number("--insim-version", 0, 65535, true, "",
               [&](double v) { opt.insim_version = static_cast<std::uint16_t>(v); }),
        number("--keepalive", 0, 86400, false, "seconds", [&](double v) { opt.keepalive = v; }),
        number("--cars", 0, 8, true, "", [&](double v) { opt.cars = static_cast<int>(v); }),
        number("--wait-client", 0, 86400, false, "seconds", [&](double v) { opt.wait_client = v; }),
        {"--admin-password", "1 to 16 bytes",
         [&](const std::string& v) {
             opt.admin_password = v;
             return v.size() <= kAdminRoom;
         },
         true},
        {"--host-version", "1 to " + std::to_string(kVersionRoom) + " bytes",
         [&](const std::string& v) {
             opt.version = v;
             return v.size() <= kVersionRoom;
         }},
        {"--size-unit", "1 or 4",
         [&](const std::string& v) {
             const auto n = toolkit::parse_number(v, 1, 4, true);
             opt.size_unit = n ? static_cast<int>(*n) : 0;
             return opt.size_unit == 1 || opt.size_unit == 4;
         }},
        text("--script", "the name of a file", opt.script),
        text("--snapshot", "the name of a file", opt.snapshot),
        text("--ready-file", "the name of a file", opt.ready_file),
        flag("--forever", opt.forever),
        flag("--trace", opt.trace),
        {"--plain", "", [&](const std::string&) { return !(opt.ansi = false); }},
    };
    std::vector<std::string> operands;
    if (const std::string why = toolkit::read_options(argc, argv, options, operands); !why.empty())
        return output.status(kTool.usage_error(why));
    if (!operands.empty()) {
        return output.status(kTool.usage_error(
            "unexpected argument " +
            toolkit::escaped_start(operands.front(), toolkit::Policy::quoted, 60) + ": " +
            std::string(kTool.name()) + " takes options only"));
    }
    if (help) {
        std::cout << kHelp;
        return output.status(0);
    }
    if (version) {
        std::cout << kTool.name() << " " TRAVO_VERSION "\n";
        return output.status(0);
    }
    // Standard input is the script unless a file is named.
    if (opt.script == "-") opt.script.clear();
    if (opt.forever) {
        if (std::signal(SIGINT, on_stop_signal) == SIG_ERR ||
            std::signal(SIGTERM, on_stop_signal) == SIG_ERR) {
            kTool.complain("cannot catch SIGINT and SIGTERM for --forever");
            return output.status(1);
        }
    }
    if (platform::os().socket_layer_start() != 0) {
        kTool.complain("the socket layer does not start");
        return output.status(1);
    }
    int status = 0;
    {
        sim::VirtualHost host(opt);
        status = host.prepare();
        if (status == 0) status = host.run();
        // The host's lines may still wait for a reader that is slow to take them: a signal
        // now ends the wait, and them.
        if (opt.forever) {
            (void)std::signal(SIGINT, SIG_DFL);
            (void)std::signal(SIGTERM, SIG_DFL);
        }
    }
    platform::os().socket_layer_stop();
    return output.status(status);
}
