// travo-check --brief, for journals and scripts, and the note for an admin password that would
// cross the internet as it stands.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/config.h"
#include "tools/check/checker.h"
#include "tools/check/connect.h"

namespace travo_check {

// One line naming the file (as the caller names it: its full path, for a journal), the host and
// port travo will use, whether an admin password is set (never the password) and how many warnings
// there are; then one line per warning: its line and the first sentence of its message, cut to a
// journal line's width.
std::string brief_text(const Report& report, std::string_view name);
// The connection doctor's answer in one line for a journal: the file, then the answer.
std::string brief_connect_text(const ConnectReport& report, std::string_view name);

// 0/8 and 127/8 (this machine), 10/8, 172.16/12, 192.168/16 and the link-local 169.254/16; the
// address in network byte order.
bool is_loopback_or_private(std::uint32_t address_be);

// A note, ended by a line end, when an admin password is set and the host lies neither on this
// machine nor in a private network; empty otherwise, also when the host is not found (the check
// warns about that already).
std::string remote_host_note(const app::ConfigValues& values, const Lookup& lookup);

}  // namespace travo_check
