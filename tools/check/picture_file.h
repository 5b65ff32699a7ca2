// Writing the picture without ever costing the operator a file.
#pragma once

#include <string>
#include <string_view>

namespace travo_check {

// Why `picture` must not be written, or empty when it may: it is the configuration file that
// `config` names (however either path is written), or any *.travo file.
std::string picture_refused(const std::string& picture, const std::string& config);

// Writes `bytes` to a new file beside `path` and renames it into place, so that `path` is either
// untouched or whole. The reason when it failed (nothing is left behind then), else empty.
std::string write_whole_file(const std::string& path, std::string_view bytes);

}  // namespace travo_check
