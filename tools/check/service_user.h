// Whether the user that the packaged service runs travo as can read a file: the check is run as
// root, and root reads everything.
#pragma once

#include <optional>
#include <string>

namespace travo_check {

// The user of travo.service and travo@.service.
inline constexpr const char* kServiceUser = "travo";

// Tries to open `path` as `user` would, with that user's groups, in a child process; nothing
// when that cannot be told here: not root, no such user, or not Linux.
std::optional<bool> user_can_read(const std::string& path, const char* user = kServiceUser);

}  // namespace travo_check
