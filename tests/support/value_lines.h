// The lines of the configuration file's values as files out there have them, written out rather
// than taken from the reader's own table, so that a value read from a wrong line shows.
#pragma once

#include "app/config.h"

namespace testsupport {

struct ValueLine {
    int line;
    char (ConfigValues::*field)[256];
};

inline constexpr ValueLine kExpectedLines[] = {
    {2, &ConfigValues::host},           {5, &ConfigValues::port},
    {8, &ConfigValues::admin_password}, {11, &ConfigValues::lights_message},
    {14, &ConfigValues::facebook_name}, {17, &ConfigValues::web_page},
    {20, &ConfigValues::welcome_extra}, {23, &ConfigValues::rule_1},
    {24, &ConfigValues::rule_2},        {25, &ConfigValues::rule_3},
    {26, &ConfigValues::rule_4},        {27, &ConfigValues::rule_5},
    {30, &ConfigValues::server_name},   {33, &ConfigValues::panel_text_1},
    {36, &ConfigValues::panel_text_2},
};
static_assert(sizeof kExpectedLines / sizeof kExpectedLines[0] == 15);

}  // namespace testsupport
