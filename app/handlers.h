// Answers to the packets the loop hands over: chat commands and the welcome panel.
#pragma once

#include "app/config.h"

namespace insim {
class HostConnection;
}  // namespace insim

namespace app {

// The current packet is an IS_MSO: answers "!fb", "!luz", "!r1", "!r0" and "!web".
void handle_mso(insim::HostConnection& connection, const ConfigValues& config);

// The current packet is an IS_NCN: the welcome panel and the six welcome lines.
void handle_ncn(insim::HostConnection& connection, const ConfigValues& config);

}  // namespace app
