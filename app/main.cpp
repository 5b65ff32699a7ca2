// Travo: chat commands, a start light and a welcome panel for a Live for Speed host.
#include <fstream>
#include <iostream>

#include "app/config.h"
#include "app/console_pause.h"
#include "app/startup.h"
#include "insim/host_connection.h"

// The program's one connection to the host.
HostConnection host_connection;

namespace {

// A window of its own (a double-click) stays until its last line has been read.
int end(int status) {
    return end_of_program(status, read_console_facts(), std::cout,
                          [] { wait_for_key(kKeyWaitMs); });
}

}  // namespace

int main() {
    // Binary mode: line ends are handled by the reader, the same on every platform.
    std::ifstream myfile(kConfigFileName, std::ios::in | std::ios::binary);
    ConfigValues config{};
    read_config(myfile, config);

    insim::IS_VER verPack{};
    if (connect_to_host(host_connection, config, verPack) < 0) {
        std::cerr << kConnectError << std::endl;
        return end(-1);
    }
    print_banner(std::cout, verPack);
    send_greeting(host_connection, config);

    // The loop never ends normally; both exits return -1 (status 255), kept for supervisors.
    run_packet_loop(host_connection, config);
    std::cerr << kReceiveError << std::endl;
    return end(-1);
}
