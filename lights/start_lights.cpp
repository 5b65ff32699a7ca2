#include "lights/start_lights.h"

#include "insim/builders.h"
#include "insim/click_ids.h"
#include "insim/host_connection.h"

namespace lights {

namespace {

// Kept on purpose: every run starts the same sequence, so the pauses repeat from run to run.
std::uint32_t random_state = 1;

// Lamp texts: a colour code and the Windows-1252 bullet.
constexpr const char* kUnlit = "^0\x95";
constexpr const char* kRed = "^1\x95";
constexpr const char* kGreen = "^2\x95";
constexpr const char* kYellow = "^3\x95";
constexpr const char* kPattern = "^3\x95 \x95 \x95 ^2\x95";

constexpr int kLeft = kStartLightLeft;
constexpr int kTop = kStartLightTop;
constexpr int kLamp = kStartLampSize;

struct Piece {
    std::uint8_t click_id;
    int left, top, width, height;
    std::uint8_t style;
};

using namespace click_id;

constexpr Piece kPieces[] = {
    {kLightPattern, kLeft, kTop + 65, 10, 5, insim::ISB_LIGHT},  // pattern strip under the housing
    {kLightHousing, kLeft, kTop, 10, 65, insim::ISB_LIGHT},      // housing, two layers
    {kLightHousing + 1, kLeft, kTop, 10, 65, insim::ISB_LIGHT},
    {kLightPanel, kLeft + 1, kTop + 1, 8, 63, insim::ISB_DARK},  // inner panel, two layers
    {kLightPanel + 1, kLeft + 1, kTop + 1, 8, 63, insim::ISB_DARK},
    {kLamp1, kStartLampLeft, kTop - 10, kLamp, kLamp,
     0},  // lamps 1 to 4, overhanging the grid's edge
    {kLamp2, kStartLampLeft, kTop + 4, kLamp, kLamp, 0},
    {kLamp3, kStartLampLeft, kTop + 18, kLamp, kLamp, 0},
    {kLamp4, kStartLampLeft, kTop + 35, kLamp, kLamp, 0},
};
static_assert(std::size(kPieces) == kLightLast - kLightFirst + 1);

void send_piece(insim::HostConnection& connection, const Piece& p, const char* text) {
    insim::IS_BTN b = insim::make_button(
        p.click_id, p.style, static_cast<std::uint8_t>(p.left), static_cast<std::uint8_t>(p.top),
        static_cast<std::uint8_t>(p.width), static_cast<std::uint8_t>(p.height));
    insim::set_button_text(b, text);
    connection.send_packet(&b);
}

const char* piece_text(std::uint8_t id, int phase) {
    switch (id) {
        case kLightPattern:
            return kPattern;
        case kLamp1:
        case kLamp2:
        case kLamp3:
            return phase == 0 ? kUnlit : kYellow;
        case kLamp4:
            return phase == 0 ? kRed : kGreen;
        default:
            return "";
    }
}

// Wait that follows each lamp of the countdown.
unsigned long wait_after(std::uint8_t id) {
    switch (id) {
        case kLamp1:
        case kLamp2:
            return 1000;
        case kLamp3:
            return 3300 + static_cast<unsigned long>(random_between(1, 1700));
        default:
            return 5000;
    }
}

}  // namespace

int random_between(int min, int max) {
    random_state = random_state * 214013u + 2531011u;
    const int r = static_cast<int>((random_state >> 16) & 0x7FFF);
    return min + r % (max - min + 1);
}

void set_random_state(std::uint32_t state) {
    random_state = state;
}

// Kept on purpose: the sleeps hold the packet loop for 17.3 to 19 s; packets that arrive meanwhile
// wait in the connection and are handled afterwards, in order. No thread, no timer.
int run_start_lights(insim::HostConnection& connection) {
    // First pass: the display with unlit lamps and a red fourth lamp.
    for (const Piece& p : kPieces) send_piece(connection, p, piece_text(p.click_id, 0));

    // Second pass: the housing again, then the countdown lamp by lamp.
    for (const Piece& p : kPieces) {
        if (p.click_id == kLamp1) connection.platform().sleep_ms(7000);
        send_piece(connection, p, piece_text(p.click_id, 1));
        if (p.click_id >= kLamp1) connection.platform().sleep_ms(wait_after(p.click_id));
    }

    insim::IS_BFN Bfn_base = insim::make_button_delete();
    for (const Piece& p : kPieces) {
        Bfn_base.ClickID = p.click_id;
        connection.send_packet(&Bfn_base);
    }
    return 0;
}

}  // namespace lights
