// Small builders for the records the program sends (each starts from an all-zero record), the
// Size of the records trimmed to their text, the test for the keep-alive it answers, and the
// reading of records that arrive as bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "insim/records.h"

namespace insim {

// Copies at most `limit` bytes of a zero-terminated text into a zeroed field.
inline void copy_bounded(char* field, const char* text, std::size_t limit) {
    if (text == nullptr) return;
    for (std::size_t i = 0; i < limit && text[i] != '\0'; ++i) field[i] = text[i];
}

// Records and streams of them held as bytes, outside the connection.
using Bytes = std::vector<std::uint8_t>;

// The bytes of a record as record R: fields that the bytes do not reach read as zero.
template <class R>
R record_from(const std::uint8_t* bytes, std::size_t size) {
    R r{};
    std::memcpy(&r, bytes, std::min(size, sizeof r));
    return r;
}
template <class R>
R record_from(const Bytes& bytes) {
    return record_from<R>(bytes.data(), bytes.size());
}

// A text field up to its zero byte or the field's end.
template <std::size_t N>
std::string_view field_text(const char (&field)[N]) {
    return {field, static_cast<std::size_t>(std::find(field, field + N, '\0') - field)};
}

// Length of the text of an IS_MTC or IS_BTN: up to its zero byte, the field's end or the end of
// the `available` bytes of the record, whichever comes first; 0 for any other type.
inline std::size_t trimmed_text_length(const std::uint8_t* record, std::size_t available) {
    if (available <= offsetof(Header, Type)) return 0;
    std::size_t at = 0, field = 0;
    if (record[offsetof(Header, Type)] == ISP_MTC) {
        at = offsetof(IS_MTC, Text);
        field = sizeof(IS_MTC::Text);
    } else if (record[offsetof(Header, Type)] == ISP_BTN) {
        at = offsetof(IS_BTN, Text);
        field = sizeof(IS_BTN::Text);
    }
    if (available <= at) return 0;
    const std::uint8_t* text = record + at;
    const std::size_t limit = std::min(field, available - at);
    return static_cast<std::size_t>(std::find(text, text + limit, std::uint8_t{0}) - text);
}

// IS_MTC and IS_BTN go out trimmed to their text: the Size a sender gives them, or 0 when the
// record cannot go out, or is neither. `available` bounds the bytes read, as for a received one.
inline std::size_t trimmed_size(const std::uint8_t* record,
                                std::size_t available = sizeof(IS_BTN)) {
    if (available <= offsetof(Header, Type)) return 0;
    const std::size_t n = trimmed_text_length(record, available);
    switch (record[offsetof(Header, Type)]) {
        case ISP_MTC:
            // The text area always holds a zero byte: a text that fills the field has no room.
            if (n >= sizeof(IS_MTC::Text)) return 0;
            return offsetof(IS_MTC, Text) + n + 4 - n % 4;
        case ISP_BTN:
            // Kept on purpose: rounded up to a multiple of 4 only, so a text of such a length goes
            // without its zero; the host reads no further than Size.
            return offsetof(IS_BTN, Text) + (n + 3) / 4 * 4;
        default:
            return 0;
    }
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

// An empty IS_MST ready for chat lines ("/msg " host commands): Size 68, everything else zero.
inline IS_MST make_chat_record() {
    IS_MST m{};
    m.Size = sizeof m;
    m.Type = ISP_MST;
    return m;
}

// Writes `text` followed by `value` into Msg. The value is data, never a format; a line longer
// than 63 characters is cut there, and the last byte of Msg stays zero. Bytes behind the new
// terminator keep what an earlier, longer line left.
inline void set_chat_line(IS_MST& record, const char* text, const char* value = "") {
    // A line cut at the end of Msg is the intended outcome, not an error.
    (void)std::snprintf(record.Msg, sizeof record.Msg, "%s%s", text, value);
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
