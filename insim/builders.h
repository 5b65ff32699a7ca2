// Small builders for the records the program sends (each starts from an all-zero record), and
// the test for the keep-alive it answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "insim/records.h"

namespace insim {

// Copies at most `limit` bytes of a zero-terminated text into a zeroed field.
inline void copy_bounded(char* field, const char* text, std::size_t limit) {
    if (text == nullptr) return;
    for (std::size_t i = 0; i < limit && text[i] != '\0'; ++i) field[i] = text[i];
}

// A keep-alive (TINY_NONE) or close (TINY_CLOSE) record; ReqI 0.
inline IS_TINY make_tiny(std::uint8_t subtype) {
    return IS_TINY{sizeof(IS_TINY), ISP_TINY, 0, subtype};
}

// Whether a packet from the host is its keep-alive (a TINY_NONE), which wants the same back.
inline bool is_keep_alive(const std::uint8_t* packet, std::size_t size) {
    return size >= sizeof(IS_TINY) && packet[1] == ISP_TINY && packet[3] == TINY_NONE;
}

// The handshake record. ReqI 1 asks the host to answer with its version.
inline IS_ISI make_isi(const char* app_name, const char* admin_password, bool want_version,
                       std::uint8_t prefix, std::uint16_t flags, std::uint16_t interval_ms,
                       std::uint16_t udp_port) {
    IS_ISI isi{};
    isi.Size = sizeof isi;
    isi.Type = ISP_ISI;
    isi.ReqI = want_version ? 1 : 0;
    isi.UDPPort.set(udp_port);
    isi.Flags.set(flags);
    isi.Prefix = prefix;
    isi.Interval.set(interval_ms);
    copy_bounded(isi.Admin, admin_password, sizeof isi.Admin);
    // The last byte of the name stays zero.
    copy_bounded(isi.IName, app_name, sizeof isi.IName - 1);
    return isi;
}

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
