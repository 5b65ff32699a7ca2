// Records as the tests expect to see them arrive at the host.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "insim/records.h"
#include "tools/host_side/fake_host.h"

namespace testsupport {

// An IS_BTN of `size` bytes for every connection: the text from byte 12, zero bytes after it.
// `text` may run on past its zero to spell out stale bytes of a reused record.
inline hostside::Bytes button_bytes(std::uint8_t size, std::uint8_t click_id, std::uint8_t style,
                                    std::uint8_t left, std::uint8_t top, std::uint8_t width,
                                    std::uint8_t height, std::string_view text) {
    hostside::Bytes b(size, 0);
    const std::uint8_t head[12] = {size, insim::ISP_BTN, 1,   insim::UCID_ALL, click_id, 0, style,
                                   0,    left,           top, width,           height};
    std::copy_n(head, std::min<std::size_t>(sizeof head, b.size()), b.begin());
    for (std::size_t i = 0; i < text.size() && sizeof head + i < b.size(); ++i)
        b[sizeof head + i] = static_cast<std::uint8_t>(text[i]);
    return b;
}

// The same with the Size the connection gives it: the text rounded up to a multiple of 4.
inline hostside::Bytes button_bytes(std::uint8_t click_id, std::uint8_t style, std::uint8_t left,
                                    std::uint8_t top, std::uint8_t width, std::uint8_t height,
                                    std::string_view text) {
    const auto size = static_cast<std::uint8_t>(12 + (text.size() + 3) / 4 * 4);
    return button_bytes(size, click_id, style, left, top, width, height, text);
}

}  // namespace testsupport
