// Records as the tests expect to see them arrive at the host.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

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

}  // namespace testsupport
