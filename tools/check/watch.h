// travo-check --watch: the host's chat lines as travo sees them, each with what travo's own
// recognition makes of it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "tools/check/connect.h"

namespace travo_check {

// One chat line (an IS_MSO as received) and travo's decision on it, in words:
// chat "Racer ^8!fb" (TextStart 6): travo answers !fb
std::string watch_line(const std::uint8_t* packet, std::size_t size);

// Watches the connection: a line when it starts, one per chat line, until `stopped` says so or
// `duration` has passed (zero: no limit). The report says how it ended: exit status 0 when
// stopped or at the limit, 1 when the connection ended or failed.
ConnectReport watch_chat(const Connected& connected, std::chrono::milliseconds duration,
                         const std::function<bool()>& stopped, std::ostream& out);

}  // namespace travo_check
