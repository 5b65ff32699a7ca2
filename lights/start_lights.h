// The start light: four lamps drawn with buttons on every screen, a countdown, then removal.
#pragma once

#include <cstdint>

namespace insim {
class HostConnection;
}  // namespace insim

namespace lights {

// Where the light stands on the 200-unit button grid: the housing's top left corner, and the
// lamps, which overhang the housing. Kept on purpose: the lamps reach column 202, past the grid's
// edge, as players have always seen them; travo-sim notes it as by design.
inline constexpr int kStartLightLeft = 178;
inline constexpr int kStartLightTop = 55;
inline constexpr int kStartLampLeft = kStartLightLeft - 14;
inline constexpr int kStartLampSize = 38;

// Draws the light, counts down and deletes it; blocks for 17.301 s to 19.000 s, sleeping through
// the connection's platform (over the scripted platform the sleeps take no time). Returns 0.
int run_start_lights(insim::HostConnection& connection);

// min + (next draw mod (max - min + 1)); the caller passes min <= max.
int random_between(int min, int max);

// The random source starts at state 1 in every run of the program; tests rewind it.
void set_random_state(std::uint32_t state);

}  // namespace lights
