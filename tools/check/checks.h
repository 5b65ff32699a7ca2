// The checks of travo-check, one kind of finding each, and what they share.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/config.h"
#include "tools/check/checker.h"

namespace travo_check {

std::string join(const std::vector<std::string>& parts);
// "the host (line 2), the port (line 5) and ...".
std::string value_list(const std::vector<int>& lines);
// The lines as the line reader cuts them: LF ends a line, the CR of a CR LF pair is not part of
// it, and a last line without LF still counts.
std::vector<std::string_view> line_texts(std::string_view bytes);
// The values as travo reads them from these bytes.
app::ConfigValues values_of(std::string_view bytes);

// The file's shape: its lines, their ends, its encoding, zero bytes. `more`: the bytes stopped
// at the read limit, so the last line may go on and more lines follow.
void check_lines(const std::vector<std::string_view>& texts, bool more,
                 std::vector<Finding>& findings);
// True when a finding says that every value comes out empty: the other checks would only
// repeat it.
bool check_line_ends(std::string_view raw, std::vector<Finding>& findings);
bool check_utf16(std::string_view raw, const app::ConfigValues& values,
                 std::vector<Finding>& findings);
void check_zero_bytes(const std::vector<std::string_view>& texts, const app::ConfigValues& values,
                      std::vector<Finding>& findings);

// The values: what travo would do with each.
void check_host(const app::ConfigValues& values, const Options& options,
                std::vector<Finding>& findings);
void check_port(const app::ConfigValues& values, std::vector<Finding>& findings);
void check_password(const app::ConfigValues& values, std::vector<Finding>& findings);
void check_overflow(const app::ConfigValues& values, std::vector<Finding>& findings);
void check_encoding(const app::ConfigValues& values, std::vector<Finding>& findings);
void check_control_bytes(const app::ConfigValues& values, std::vector<Finding>& findings);

}  // namespace travo_check
