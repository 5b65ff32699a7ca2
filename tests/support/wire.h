// Records as the tests expect to see them arrive at the host.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "insim/records.h"
#include "tools/host_side/fake_host.h"

namespace testsupport {

// An IS_BTN of `size` bytes for every connection: the text, zero bytes after it. `text` may run
// on past its zero to spell out stale bytes of a reused record. The fields are spelled out here
// rather than taken from the builders, so that a fault in those shows.
inline hostside::Bytes button_bytes(std::uint8_t size, std::uint8_t click_id, std::uint8_t style,
                                    std::uint8_t left, std::uint8_t top, std::uint8_t width,
                                    std::uint8_t height, std::string_view text) {
    insim::IS_BTN r{};
    r.Size = size;
    r.Type = insim::ISP_BTN;
    r.ReqI = 1;
    r.UCID = insim::UCID_ALL;
    r.ClickID = click_id;
    r.BStyle = style;
    r.L = left;
    r.T = top;
    r.W = width;
    r.H = height;
    std::copy_n(text.data(), std::min(text.size(), sizeof r.Text), r.Text);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&r);
    hostside::Bytes b(p, p + std::min<std::size_t>(size, sizeof r));
    b.resize(size, 0);
    return b;
}

// The same with the Size the connection gives it: the text rounded up to a multiple of 4.
inline hostside::Bytes button_bytes(std::uint8_t click_id, std::uint8_t style, std::uint8_t left,
                                    std::uint8_t top, std::uint8_t width, std::uint8_t height,
                                    std::string_view text) {
    const auto size =
        static_cast<std::uint8_t>(offsetof(insim::IS_BTN, Text) + (text.size() + 3) / 4 * 4);
    return button_bytes(size, click_id, style, left, top, width, height, text);
}

// The parts one after another, as one piece of a stream.
inline hostside::Bytes concat(std::initializer_list<hostside::Bytes> parts) {
    hostside::Bytes out;
    for (const hostside::Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The 68-byte IS_MST that travo sends for `text` (at most 63 bytes of it) when its record is
// `previous`: the record is reused, so bytes behind the new text's zero stay.
inline hostside::Bytes reused_chat_bytes(hostside::Bytes previous, std::string_view text) {
    constexpr std::size_t kMsg = offsetof(insim::IS_MST, Msg);
    const std::size_t n = std::min<std::size_t>(text.size(), sizeof(insim::IS_MST::Msg) - 1);
    std::copy_n(text.begin(), n, previous.begin() + kMsg);
    previous[kMsg + n] = 0;
    return previous;
}

// The same on a fresh record of zero bytes.
inline hostside::Bytes chat_bytes(std::string_view text) {
    insim::IS_MST r{};
    r.Size = sizeof r;
    r.Type = insim::ISP_MST;
    const auto* b = reinterpret_cast<const std::uint8_t*>(&r);
    return reused_chat_bytes(hostside::Bytes(b, b + sizeof r), text);
}

// Chat records sent one after another from one record whose text is never cleared.
inline std::vector<hostside::Bytes> reused_chat_records(const std::vector<std::string>& lines) {
    std::vector<hostside::Bytes> sent;
    hostside::Bytes record = chat_bytes("");
    for (const auto& line : lines) {
        record = reused_chat_bytes(std::move(record), line);
        sent.push_back(record);
    }
    return sent;
}

}  // namespace testsupport
