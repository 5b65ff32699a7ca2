// Answers to the packets the loop hands over: chat commands and the welcome panel.
#pragma once

#include "app/config.h"

class HostConnection;

// The current packet is an IS_MSO: answers "!fb", "!luz", "!r1", "!r0" and "!web".
void handle_mso(HostConnection& connection, const ConfigValues& config);

// The current packet is an IS_NCN: the welcome panel and the six welcome lines.
void handle_ncn(HostConnection& connection, const ConfigValues& config);
