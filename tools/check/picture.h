// travo-check --picture: what a player sees with a configuration, drawn by travo's own code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/config.h"
#include "tools/host_side/fake_host.h"

namespace travo_check {

// The player's actions the picture shows, after travo's greeting: "Racer" joins, then types
// "!fb", "!web", "!r1" and "!luz".
inline constexpr const char* kPicturePlayer = "Racer";
inline constexpr const char* kPictureCommands[] = {"!fb", "!web", "!r1", "!luz"};
// The port the scene's host stands at; nothing listens there, as no socket is opened.
inline constexpr std::uint16_t kPictureHostPort = 29999;

// Runs travo's greeting and packet loop with its handlers over the scripted platform, the start
// light without its waits, and returns every record travo sent after its handshake, in order.
// Nothing when travo's code did not play the scene to its end.
std::optional<std::vector<hostside::Bytes>> play_scene(const app::ConfigValues& values);

// One SVG picture of those records: the button screen at the start light's last lit frame and,
// beside it, the chat as the host shows it. Marks what would surprise the operator: cut chat
// lines, texts squeezed into their buttons, buttons past the grid, a ClickID that changed hands.
// The records go into the picture's metadata, so that it can be compared with what travo sends.
// `title` is bytes, such as a file name; the picture is well-formed UTF-8 XML whatever it holds.
std::string picture_svg(const std::vector<hostside::Bytes>& records,
                        const app::ConfigValues& values, const std::string& title);

}  // namespace travo_check
