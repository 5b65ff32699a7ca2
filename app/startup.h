// Start-up and the packet loop: everything main does after reading the configuration.
#pragma once

#include <cstdint>
#include <ostream>

#include "app/config.h"
#include "insim/records.h"

namespace insim {
class HostConnection;
}  // namespace insim

namespace app {

inline constexpr const char* kAppName = "Travo";
inline constexpr const char* kAuthorName = "Travo Project";
inline constexpr const char* kTeamName = "Travo Team";
// IS_ISI IName: at most 15 bytes.
inline constexpr const char* kInsimName = "^3Travo^7DEV";
// The rest of the handshake: "!" commands, IS_MCI every second, no UDP.
inline constexpr std::uint8_t kInsimPrefix = '!';
inline constexpr std::uint16_t kInsimFlags = insim::ISF_MCI;
inline constexpr std::uint16_t kInsimIntervalMs = 1000;

inline constexpr const char* kConnectError = "*Error al conectar a Live For Speed";
inline constexpr const char* kReceiveError = "*Error al recibir los paquetes de Live For Speed";

// Connects with the configured host, port and password; asks for IS_MCI every second.
int connect_to_host(insim::HostConnection& connection, const ConfigValues& config,
                    insim::IS_VER& verPack);

// The credits block and the host's version line.
void print_banner(std::ostream& out, const insim::IS_VER& verPack);

// The six greeting chat lines.
void send_greeting(insim::HostConnection& connection, const ConfigValues& config);

// Receives and dispatches packets until receiving fails; returns the failed receive's result.
int run_packet_loop(insim::HostConnection& connection, const ConfigValues& config);

}  // namespace app
