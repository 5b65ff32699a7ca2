// Records as the tests expect to see them arrive at the host.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// The parts one after another, as one piece of a stream.
inline hostside::Bytes concat(std::initializer_list<hostside::Bytes> parts) {
    hostside::Bytes out;
    for (const hostside::Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The 68-byte IS_MST that travo sends for `text` (at most 63 bytes of it) when its record is
// `previous`: the record is reused, so bytes behind the new text's zero stay.
inline hostside::Bytes reused_chat_bytes(hostside::Bytes previous, std::string_view text) {
    const std::size_t n = std::min<std::size_t>(text.size(), 63);
    std::copy_n(text.begin(), n, previous.begin() + 4);
    previous[4 + n] = 0;
    return previous;
}

// The same on a fresh record of zero bytes.
inline hostside::Bytes chat_bytes(std::string_view text) {
    hostside::Bytes record(68, 0);
    record[0] = 68;
    record[1] = insim::ISP_MST;
    return reused_chat_bytes(std::move(record), text);
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
