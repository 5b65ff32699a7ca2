// Small builders for the records the program sends: each starts from an all-zero record.
#pragma once

#include <cstdint>
#include <cstdio>

#include "insim/records.h"

namespace insim {

// A button for every connection; Size is set from the text when it is sent.
inline IS_BTN make_button(std::uint8_t click_id, std::uint8_t style, std::uint8_t left,
                          std::uint8_t top, std::uint8_t width, std::uint8_t height) {
    IS_BTN b{};
    b.Size = sizeof b;
    b.Type = ISP_BTN;
    b.ReqI = 1;
    b.UCID = UCID_ALL;
    b.ClickID = click_id;
    b.BStyle = style;
    b.L = left;
    b.T = top;
    b.W = width;
    b.H = height;
    return b;
}

// Writes `prefix` then `value` as the button text, zero-terminated and bounded by the field.
// Bytes behind the terminator keep whatever an earlier, longer text left there.
inline void set_button_text(IS_BTN& b, const char* prefix, const char* value = "") {
    std::snprintf(b.Text, sizeof b.Text, "%s%s", prefix, value);
}

// Deletion of one button on every connection; ClickID is set before each send.
inline IS_BFN make_button_delete() {
    IS_BFN d{};
    d.Size = sizeof d;
    d.Type = ISP_BFN;
    d.ReqI = 1;
    d.SubT = BFN_DEL_BTN;
    d.UCID = UCID_ALL;
    return d;
}

}  // namespace insim
