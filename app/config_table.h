// The one table of the configuration file's values: the line each is read from, where it is
// kept, how travo-check names it, its caption in examples/quintaro.travo and the texts it goes
// into, from which the longest value that fits is worked out.
#pragma once

#include <array>
#include <cstddef>
#include <iterator>
#include <string>

#include "app/chat_texts.h"
#include "app/config.h"
#include "insim/records.h"

namespace app {

// snprintf keeps the last byte of a text field for the terminating zero.
inline constexpr std::size_t kChatRoom = sizeof(insim::IS_MST::Msg) - 1;
inline constexpr std::size_t kButtonRoom = sizeof(insim::IS_BTN::Text) - 1;

// A text that a value is put into, after what travo writes in front of it.
struct ValueUse {
    const char* where;  // as travo-check names it; null for an unused entry
    const char* prefix;
    std::size_t room;  // characters the text holds
};

struct ConfigLine {
    int line;  // 1-based
    char (ConfigValues::*field)[256];
    const char* name;     // the field's name
    const char* label;    // inside travo-check's sentences
    const char* meaning;  // in travo-check's list of values
    // The line above the value in the example file; null where the caption of a group covers it.
    const char* caption;
    std::array<ValueUse, 3> uses;
};

inline constexpr ConfigLine kValueLines[] = {
    {2,
     &ConfigValues::host,
     "host",
     "host",
     "simulator host, name or IPv4 address",
     "# Host: name or IPv4 address of the Live for Speed host (next line)",
     {}},
    {5,
     &ConfigValues::port,
     "port",
     "port",
     "InSim TCP port of the host",
     "# InSim port: the port given to /insim on the host",
     {}},
    {8,
     &ConfigValues::admin_password,
     "admin_password",
     "admin password",
     "InSim admin password of the host",
     "# InSim admin password of the host (empty when the host has none)",
     {}},
    {11,
     &ConfigValues::lights_message,
     "lights_message",
     "lights message",
     "chat line of \"!luz\", before the lights",
     "# Chat line sent by !luz before the start light (at most 58 characters)",
     {{{"the \"!luz\" chat line", kLightsAnswer, kChatRoom}}}},
    {14,
     &ConfigValues::facebook_name,
     "facebook_name",
     "Facebook page name",
     "Facebook page (greeting, \"!fb\", welcome)",
     "# Facebook page name (at most 28 characters)",
     {{{"start-up greeting line 4", kGreetingFacebook, kChatRoom},
       {"the \"!fb\" chat line", kFacebookAnswer, kChatRoom},
       {"join welcome line 4", kWelcomeFacebook, kChatRoom}}}},
    {17,
     &ConfigValues::web_page,
     "web_page",
     "web page",
     "web page (greeting, \"!web\")",
     "# Web page (at most 37 characters)",
     {{{"start-up greeting line 5", kGreetingWeb, kChatRoom},
       {"the \"!web\" chat line", kWebAnswer, kChatRoom}}}},
    {20,
     &ConfigValues::welcome_extra,
     "welcome_extra",
     "extra welcome line",
     "extra welcome chat line",
     "# Extra welcome line (at most 51 characters)",
     {{{"join welcome line 5", kWelcomeExtra, kChatRoom}}}},
    {23,
     &ConfigValues::rule_1,
     "rule_1",
     "first rule",
     "rules panel (\"!r1\"), line 1",
     "# Rules panel, shown with !r1: five lines",
     {{{"rules button 1", "", kButtonRoom}}}},
    {24,
     &ConfigValues::rule_2,
     "rule_2",
     "second rule",
     "rules panel (\"!r1\"), line 2",
     nullptr,
     {{{"rules button 2", "", kButtonRoom}}}},
    {25,
     &ConfigValues::rule_3,
     "rule_3",
     "third rule",
     "rules panel (\"!r1\"), line 3",
     nullptr,
     {{{"rules button 3", "", kButtonRoom}}}},
    {26,
     &ConfigValues::rule_4,
     "rule_4",
     "fourth rule",
     "rules panel (\"!r1\"), line 4",
     nullptr,
     {{{"rules button 4", "", kButtonRoom}}}},
    {27,
     &ConfigValues::rule_5,
     "rule_5",
     "fifth rule",
     "rules panel (\"!r1\"), line 5",
     nullptr,
     {{{"rules button 5", "", kButtonRoom}}}},
    {30,
     &ConfigValues::server_name,
     "server_name",
     "server name",
     "server name (welcome panel and welcome line)",
     "# Server name (welcome panel and welcome line 2; at most 36 characters)",
     {{{"join welcome line 2", kWelcomeServer, kChatRoom},
       {"the welcome panel's centre box", kPanelValuePrefix, kButtonRoom}}}},
    {33,
     &ConfigValues::panel_text_1,
     "panel_text_1",
     "left panel text",
     "welcome panel, left box",
     "# Welcome panel, left box",
     {{{"the welcome panel's left box", kPanelValuePrefix, kButtonRoom}}}},
    {36,
     &ConfigValues::panel_text_2,
     "panel_text_2",
     "right panel text",
     "welcome panel, right box",
     "# Welcome panel, right box",
     {{{"the welcome panel's right box", kPanelValuePrefix, kButtonRoom}}}},
};

inline constexpr int kValueLineCount = static_cast<int>(std::size(kValueLines));
static_assert(sizeof(ConfigValues) == std::size(kValueLines) * sizeof(ConfigValues::host),
              "every field of ConfigValues has its line in the table");

constexpr bool lines_ascend() {
    for (std::size_t i = 1; i < std::size(kValueLines); ++i)
        if (kValueLines[i].line <= kValueLines[i - 1].line) return false;
    return kValueLines[0].line >= 1 && kValueLines[std::size(kValueLines) - 1].line <= kConfigLines;
}
static_assert(lines_ascend(), "the reader takes the value lines in file order");

inline const char* config_field(const ConfigValues& c, const ConfigLine& l) {
    return c.*l.field;
}

// The longest value that every text it goes into holds whole.
constexpr std::size_t longest_fit(const ConfigLine& l) {
    std::size_t most = kMaxValueLength;
    for (const ValueUse& u : l.uses) {
        if (u.where == nullptr) continue;
        const std::size_t prefix = std::char_traits<char>::length(u.prefix);
        if (u.room - prefix < most) most = u.room - prefix;
    }
    return most;
}

// The entry of a field (the first one for a field not in the table, which cannot happen).
constexpr const ConfigLine& config_line_of(char (ConfigValues::*field)[256]) {
    for (const ConfigLine& l : kValueLines)
        if (l.field == field) return l;
    return kValueLines[0];
}

// The entry of a line, or null for a label line.
constexpr const ConfigLine* config_line_at(int line) {
    for (const ConfigLine& l : kValueLines)
        if (l.line == line) return &l;
    return nullptr;
}

}  // namespace app
