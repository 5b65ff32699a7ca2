// The lines of the configuration file's values as files out there have them, written out rather
// than taken from the reader's own table, so that a value read from a wrong line shows.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "app/config.h"

namespace testsupport {

struct ValueLine {
    int line;
    char (app::ConfigValues::*field)[256];
};

inline constexpr ValueLine kExpectedLines[] = {
    {2, &app::ConfigValues::host},           {5, &app::ConfigValues::port},
    {8, &app::ConfigValues::admin_password}, {11, &app::ConfigValues::lights_message},
    {14, &app::ConfigValues::facebook_name}, {17, &app::ConfigValues::web_page},
    {20, &app::ConfigValues::welcome_extra}, {23, &app::ConfigValues::rule_1},
    {24, &app::ConfigValues::rule_2},        {25, &app::ConfigValues::rule_3},
    {26, &app::ConfigValues::rule_4},        {27, &app::ConfigValues::rule_5},
    {30, &app::ConfigValues::server_name},   {33, &app::ConfigValues::panel_text_1},
    {36, &app::ConfigValues::panel_text_2},
};
static_assert(sizeof kExpectedLines / sizeof kExpectedLines[0] == 15);

// The text of a configuration file: line n (1-based) from `lines`, else `filler(n)`. Every line
// ends in `eol`, the last one too unless `final_eol` is false.
inline std::string config_file_text(int line_count, const std::map<int, std::string>& lines,
                                    const std::function<std::string(int)>& filler,
                                    std::string_view eol = "\n", bool final_eol = true) {
    std::string text;
    for (int n = 1; n <= line_count; ++n) {
        const auto it = lines.find(n);
        text += it != lines.end() ? it->second : filler(n);
        if (n < line_count || final_eol) text += eol;
    }
    return text;
}

}  // namespace testsupport
