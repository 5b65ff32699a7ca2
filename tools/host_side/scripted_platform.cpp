#include "tools/host_side/scripted_platform.h"

#include <algorithm>
#include <cstring>

namespace hostside {

using platform::SocketHandle;
using platform::WaitResult;

bool ScriptedPlatform::is_open(SocketHandle s) const {
    return std::find(open_sockets_.begin(), open_sockets_.end(), s) != open_sockets_.end();
}

SocketHandle ScriptedPlatform::open_socket() {
    open_sockets_.push_back(next_handle_);
    return next_handle_++;
}

// One receive: `waiting` is the non-blocking kind, which finds nothing behind a time-out.
long ScriptedPlatform::receive(SocketHandle s, void* buffer, std::size_t length, bool waiting) {
    if (!is_open(s)) return -1;
    if (peer_gone()) return peer_reset_ ? -1 : 0;
    for (; next_ < script_.size(); ++next_) {
        Item& item = script_[next_];
        switch (item.event) {
            case Event::bytes: {
                const std::size_t n = std::min(length, item.end - item.begin);
                std::memcpy(buffer, incoming_.data() + item.begin, n);
                item.begin += n;
                if (item.begin == item.end) ++next_;
                return static_cast<long>(n);
            }
            case Event::close:
                ++next_;
                peer_closed_ = true;
                return 0;
            case Event::reset:
                ++next_;
                peer_reset_ = true;
                return -1;
            case Event::timeout:
                if (waiting) return platform::kWouldBlock;
                // A blocking receive sleeps through what only a wait would have reported.
                break;
        }
    }
    return waiting ? platform::kWouldBlock : -1;
}

void ScriptedPlatform::reset() {
    incoming_.clear();
    script_.clear();
    next_ = 0;
    peer_closed_ = peer_reset_ = false;
    open_sockets_.clear();
    next_handle_ = 3;
    clock_ms_ = 0;
    sent_.clear();
    send_ends_.clear();
}

void ScriptedPlatform::add_bytes(const std::uint8_t* data, std::size_t length) {
    add_bytes_in_pieces(data, length, length);
}

void ScriptedPlatform::add_bytes(const Bytes& bytes) {
    add_bytes(bytes.data(), bytes.size());
}

void ScriptedPlatform::add_bytes_in_pieces(const std::uint8_t* data, std::size_t length,
                                           std::size_t piece, bool time_out_first) {
    const std::size_t begin = incoming_.size();
    incoming_.insert(incoming_.end(), data, data + length);
    piece = std::max<std::size_t>(piece, 1);
    script_.reserve(script_.size() + (length + piece - 1) / piece * (time_out_first ? 2 : 1));
    for (std::size_t at = 0; at < length; at += piece) {
        if (time_out_first) script_.push_back({Event::timeout, 0, 0});
        script_.push_back({Event::bytes, begin + at, begin + std::min(at + piece, length)});
    }
}

void ScriptedPlatform::add_event(Event event, int times) {
    for (int i = 0; i < times; ++i) script_.push_back({event, 0, 0});
}

std::vector<Bytes> ScriptedPlatform::sends_since(std::size_t from) const {
    std::vector<Bytes> out;
    std::size_t begin = 0;
    for (const std::size_t end : send_ends_) {
        if (end > from) {
            const std::size_t start = std::max(begin, from);
            out.emplace_back(sent_.begin() + static_cast<long>(start),
                             sent_.begin() + static_cast<long>(end));
        }
        begin = end;
    }
    return out;
}

void ScriptedPlatform::close_socket(SocketHandle s) {
    const auto it = std::find(open_sockets_.begin(), open_sockets_.end(), s);
    if (it != open_sockets_.end()) open_sockets_.erase(it);
}

bool ScriptedPlatform::lookup_ipv4(const char* host, std::uint32_t* address_be) {
    if (*host == '\0') return false;
    std::uint8_t bytes[4] = {127, 0, 0, 1};
    std::uint8_t dotted[4] = {};
    int part = 0;
    unsigned value = 0;
    bool digits = false;
    for (const char* p = host;; ++p) {
        if (*p >= '0' && *p <= '9' && value < 256) {
            value = value * 10 + static_cast<unsigned>(*p - '0');
            digits = true;
            continue;
        }
        if (!digits || value > 255 || (*p != '.' && *p != '\0') || part == 4) break;
        dotted[part++] = static_cast<std::uint8_t>(value);
        value = 0;
        digits = false;
        if (*p == '\0') {
            if (part == 4) std::memcpy(bytes, dotted, 4);
            break;
        }
    }
    std::memcpy(address_be, bytes, 4);
    return true;
}

int ScriptedPlatform::connect_ipv4(SocketHandle s, std::uint32_t /*address_be*/,
                                   std::uint16_t /*port*/) {
    return is_open(s) ? 0 : -1;
}

int ScriptedPlatform::connect_ipv4_within(SocketHandle s, std::uint32_t address_be,
                                          std::uint16_t port, long /*milliseconds*/) {
    return connect_ipv4(s, address_be, port);
}

int ScriptedPlatform::bind_any_ipv4(SocketHandle s, std::uint16_t /*port*/) {
    return is_open(s) ? 0 : -1;
}

WaitResult ScriptedPlatform::wait_readable(SocketHandle s, long seconds, long microseconds) {
    if (!is_open(s)) return WaitResult::kFailed;
    if (peer_gone()) return WaitResult::kReadable;
    if (!script_pending()) return WaitResult::kFailed;
    if (script_[next_].event == Event::timeout) {
        ++next_;
        clock_ms_ += static_cast<unsigned long long>(seconds) * 1000 +
                     static_cast<unsigned long long>(microseconds) / 1000;
        return WaitResult::kTimeout;
    }
    return WaitResult::kReadable;
}

int ScriptedPlatform::wait_writable(SocketHandle s, long /*milliseconds*/) {
    return is_open(s) && !peer_reset_ ? 1 : -1;
}

long ScriptedPlatform::receive_bytes(SocketHandle s, void* buffer, std::size_t length) {
    return receive(s, buffer, length, false);
}

long ScriptedPlatform::receive_waiting(SocketHandle s, void* buffer, std::size_t length) {
    return receive(s, buffer, length, true);
}

long ScriptedPlatform::send_bytes(SocketHandle s, const void* data, std::size_t length) {
    if (!is_open(s) || peer_reset_) return -1;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    sent_.insert(sent_.end(), bytes, bytes + length);
    send_ends_.push_back(sent_.size());
    return static_cast<long>(length);
}

}  // namespace hostside
