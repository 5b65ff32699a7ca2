// A model of the buttons on a player's screen, fed with the packets the client sends.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "tools/host_side/fake_host.h"

namespace hostside {

struct ScreenButton {
    std::uint8_t click_id = 0;
    std::uint8_t style = 0;
    std::uint8_t left = 0, top = 0, width = 0, height = 0;
    std::string text;  // Windows-1252, colour codes kept
};

// How a button's text is drawn: sized to about three quarters of the button's height, and a
// text too wide for the button shrunk until it fits, never wrapped or clipped.
struct TextFit {
    double font_size;  // in the units of the drawing
    double shrunk;     // 1 when the text fits at the height's size, else the factor it took
};
TextFit fit_text(const ScreenButton& b, double scale);

class ScreenModel {
  public:
    // The button grid is 200 by 200 units; buttons may reach past it.
    static constexpr int kGrid = 200;

    // IS_BTN adds or replaces the button of its ClickID, IS_BFN deletes; true if anything changed.
    // Every InSim program has ClickIDs of its own: `owner` tells whose packet it is, and one
    // owner's button never replaces another's. All owners' buttons are drawn.
    bool apply(const Bytes& packet, int owner = 0);

    const std::map<std::uint8_t, ScreenButton>& buttons(int owner = 0) const;
    std::size_t count() const;  // every owner's buttons
    // Removes an owner's buttons, as the host does when the program leaves; true if any.
    bool forget(int owner);
    void clear() { layers_.clear(); }

    // The screen drawn with characters, two grid units a column and four a row.
    std::string render_terminal(bool ansi) const;

    // The screen as an SVG picture: one <g> per button, in ClickID order.
    std::string svg() const;
    // The buttons' SVG elements alone, grid unit `scale` pixels, the grid's corner at (x, y).
    std::string svg_buttons(int x, int y, int scale) const;

  private:
    std::map<int, std::map<std::uint8_t, ScreenButton>> layers_;
};

}  // namespace hostside
