// The button identifiers (ClickID) of the program's three groups of buttons. Every button goes
// to every connection, so the groups share one numbering.
#pragma once

#include <cstdint>

namespace click_id {

// Start light, 2 to 10: the pattern strip, the housing and the inner panel in two layers each,
// then lamps 1 to 4.
inline constexpr std::uint8_t kLightFirst = 2;
inline constexpr std::uint8_t kLightPattern = 2;
inline constexpr std::uint8_t kLightHousing = 3;  // and 4
inline constexpr std::uint8_t kLightPanel = 5;    // and 6
inline constexpr std::uint8_t kLamp1 = 7;
inline constexpr std::uint8_t kLamp2 = 8;
inline constexpr std::uint8_t kLamp3 = 9;
inline constexpr std::uint8_t kLamp4 = 10;
inline constexpr std::uint8_t kLightLast = 10;

// Rules panel, 10 to 14: one button per rule, from the top.
// Kept on purpose: ClickID 10 is both lamp 4 of the start light and the first rules line: "!luz"
// draws its lamp over the first rule, and deleting the light at its end removes that rule from a
// panel on show. Players have always seen it so.
inline constexpr std::uint8_t kRulesFirst = 10;
inline constexpr std::uint8_t kRulesLast = 14;

// Welcome panel, 50 to 61; three of them carry a value.
inline constexpr std::uint8_t kWelcomeFirst = 50;
inline constexpr std::uint8_t kWelcomeServerName = 54;
inline constexpr std::uint8_t kWelcomePanelText1 = 59;
inline constexpr std::uint8_t kWelcomePanelText2 = 61;
inline constexpr std::uint8_t kWelcomeLast = 61;

static_assert(kLamp4 == kLightLast && kLightLast == kRulesFirst, "ClickID 10 is shared");
static_assert(kRulesLast < kWelcomeFirst, "the welcome panel shares no ClickID");

}  // namespace click_id
