#include "insim/memory_platform.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace memory_platform {

using platform::SocketHandle;
using platform::WaitResult;

bool MemoryPlatform::fails(Call call) {
    Failure& f = failures_[static_cast<std::size_t>(call)];
    if (f.failing) return true;
    if (f.countdown == 0 || --f.countdown > 0) return false;
    f.failing = f.and_later;
    return true;
}

bool MemoryPlatform::is_open(platform::SocketHandle s) const {
    const auto& open = open_sockets_;
    return std::find(open.begin(), open.end(), s) != open.end();
}

platform::SocketHandle MemoryPlatform::open_socket(Call call) {
    if (fails(call)) return platform::kNoSocket;
    ++record_.sockets_opened;
    open_sockets_.push_back(next_handle_);
    return next_handle_++;
}

// The event a wait or receive meets; null when the script has run out even after the hook.
const MemoryPlatform::Item* MemoryPlatform::front() {
    if (next_ == script_.size() && hook_) hook_();
    return next_ < script_.size() ? &script_[next_] : nullptr;
}

// One receive: `waiting` is the non-blocking kind, which finds nothing behind a time-out.
long MemoryPlatform::receive(platform::SocketHandle s, void* buffer, std::size_t length,
                             bool waiting) {
    ++record_.receives;
    if (!is_open(s) || fails(Call::receive)) return -1;
    if (peer_closed_ || peer_reset_) {
        if (hook_) hook_();
        return peer_reset_ ? -1 : 0;
    }
    for (;;) {
        const Item* item = front();
        if (item == nullptr) {
            if (waiting) {
                ++record_.empty_receives;
                return platform::kWouldBlock;
            }
            ++record_.dry_waits;
            return -1;
        }
        switch (item->event) {
            case Event::bytes: {
                Item& bytes = script_[next_];
                const std::size_t n = std::min(length, bytes.end - bytes.begin);
                std::memcpy(buffer, incoming_.data() + bytes.begin, n);
                bytes.begin += n;
                if (bytes.begin == bytes.end) ++next_;
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
            case Event::exception:
                if (waiting) {
                    ++record_.empty_receives;
                    return platform::kWouldBlock;
                }
                // A blocking receive sleeps through what only a wait would have reported.
                ++next_;
                break;
        }
    }
}

void MemoryPlatform::reset() {
    incoming_.clear();
    script_.clear();
    next_ = 0;
    peer_closed_ = peer_reset_ = connects_time_out_ = false;
    failures_.fill(Failure{});
    hook_ = nullptr;
    open_sockets_.clear();
    next_handle_ = 3;
    clock_ms_ = 0;
    Record& r = record_;
    r.sent.clear();
    r.send_ends.clear();
    r.waits.clear();
    r.sleeps.clear();
    r.lookups.clear();
    r.connected_address = 0;
    r.connected_port = 0;
    r.connect_limit_ms = -1;
    r.layer_starts = r.layer_stops = r.sockets_opened = r.sockets_closed = 0;
    r.receives = r.empty_receives = r.no_delay = r.keep_alive = r.dry_waits = 0;
}

void MemoryPlatform::add_bytes(const std::uint8_t* data, std::size_t length) {
    add_bytes_in_pieces(data, length, length);
}

void MemoryPlatform::add_bytes_in_pieces(const std::uint8_t* data, std::size_t length,
                                         std::size_t piece, bool time_out_first) {
    const std::size_t begin = incoming_.size();
    incoming_.insert(incoming_.end(), data, data + length);
    piece = std::max<std::size_t>(piece, 1);
    for (std::size_t at = 0; at < length; at += piece) {
        if (time_out_first) script_.push_back({Event::timeout, 0, 0});
        script_.push_back({Event::bytes, begin + at, begin + std::min(at + piece, length)});
    }
}

void MemoryPlatform::add_bytes(const Bytes& bytes) {
    add_bytes(bytes.data(), bytes.size());
}

void MemoryPlatform::add_event(Event event, int times) {
    for (int i = 0; i < times; ++i) script_.push_back({event, 0, 0});
}

bool MemoryPlatform::script_pending() const {
    return next_ < script_.size();
}

void MemoryPlatform::fail(Call call, int nth, bool and_later) {
    failures_[static_cast<std::size_t>(call)] = Failure{std::max(nth, 1), and_later, false};
}

void MemoryPlatform::time_out_connects(bool on) {
    connects_time_out_ = on;
}

void MemoryPlatform::on_empty(std::function<void()> hook) {
    hook_ = std::move(hook);
}

const Record& MemoryPlatform::record() const {
    return record_;
}

std::vector<Bytes> MemoryPlatform::sends_since(std::size_t from) const {
    const Record& r = record_;
    std::vector<Bytes> out;
    std::size_t begin = 0;
    for (const std::size_t end : r.send_ends) {
        if (end > from) {
            const std::size_t start = std::max(begin, from);
            out.emplace_back(r.sent.begin() + static_cast<long>(start),
                             r.sent.begin() + static_cast<long>(end));
        }
        begin = end;
    }
    return out;
}

unsigned long long MemoryPlatform::elapsed_ms() const {
    return clock_ms_;
}

int MemoryPlatform::socket_layer_start() {
    ++record_.layer_starts;
    return fails(Call::socket_layer_start) ? -1 : 0;
}

void MemoryPlatform::socket_layer_stop() {
    ++record_.layer_stops;
}

SocketHandle MemoryPlatform::open_tcp_socket() {
    return open_socket(Call::open_tcp_socket);
}

SocketHandle MemoryPlatform::open_udp_socket() {
    return open_socket(Call::open_udp_socket);
}

void MemoryPlatform::close_socket(SocketHandle s) {
    auto& open = open_sockets_;
    const auto it = std::find(open.begin(), open.end(), s);
    if (it == open.end()) {
        ++record_.stray_closes;
        return;
    }
    open.erase(it);
    ++record_.sockets_closed;
}

bool MemoryPlatform::lookup_ipv4(const char* host, std::uint32_t* address_be) {
    record_.lookups.emplace_back(host);
    if (fails(Call::lookup) || *host == '\0') return false;
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

int MemoryPlatform::connect_ipv4(SocketHandle s, std::uint32_t address_be, std::uint16_t port) {
    if (!is_open(s) || fails(Call::connect)) return -1;
    record_.connected_address = address_be;
    record_.connected_port = port;
    return 0;
}

int MemoryPlatform::connect_ipv4_within(SocketHandle s, std::uint32_t address_be,
                                        std::uint16_t port, long milliseconds) {
    record_.connect_limit_ms = milliseconds;
    if (connects_time_out_) {
        clock_ms_ += static_cast<unsigned long long>(std::max(milliseconds, 0L));
        return -2;
    }
    return connect_ipv4(s, address_be, port);
}

int MemoryPlatform::bind_any_ipv4(SocketHandle s, std::uint16_t /*port*/) {
    return is_open(s) && !fails(Call::bind) ? 0 : -1;
}

WaitResult MemoryPlatform::wait_readable(SocketHandle s, long seconds, long microseconds) {
    record_.waits.push_back({seconds, microseconds});
    if (!is_open(s) || fails(Call::wait)) {
        return WaitResult::kFailed;
    }
    if (peer_closed_ || peer_reset_) {
        if (hook_) hook_();
        return WaitResult::kReadable;
    }
    const Item* item = front();
    if (item == nullptr) {
        ++record_.dry_waits;
        return WaitResult::kFailed;
    }
    switch (item->event) {
        case Event::timeout:
            ++next_;
            clock_ms_ += static_cast<unsigned long long>(seconds) * 1000 +
                         static_cast<unsigned long long>(microseconds) / 1000;
            return WaitResult::kTimeout;
        case Event::exception:
            ++next_;
            return WaitResult::kException;
        default:
            return WaitResult::kReadable;
    }
}

long MemoryPlatform::receive_bytes(SocketHandle s, void* buffer, std::size_t length) {
    return receive(s, buffer, length, false);
}

long MemoryPlatform::receive_waiting(SocketHandle s, void* buffer, std::size_t length) {
    return receive(s, buffer, length, true);
}

int MemoryPlatform::wait_writable(SocketHandle s, long milliseconds) {
    if (!is_open(s) || peer_reset_) return -1;
    if (fails(Call::write_wait)) {
        clock_ms_ += static_cast<unsigned long long>(milliseconds);
        return 0;
    }
    return 1;
}

long MemoryPlatform::send_bytes(SocketHandle s, const void* data, std::size_t length) {
    if (!is_open(s) || fails(Call::send) || peer_reset_) {
        return -1;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    record_.sent.insert(record_.sent.end(), bytes, bytes + length);
    record_.send_ends.push_back(record_.sent.size());
    return static_cast<long>(length);
}

void MemoryPlatform::set_no_delay(SocketHandle /*s*/) {
    ++record_.no_delay;
}

void MemoryPlatform::set_keep_alive(SocketHandle /*s*/) {
    ++record_.keep_alive;
}

void MemoryPlatform::sleep_ms(unsigned long milliseconds) {
    record_.sleeps.push_back(milliseconds);
    clock_ms_ += milliseconds;
}

unsigned long long MemoryPlatform::monotonic_ms() {
    return clock_ms_;
}

}  // namespace memory_platform
