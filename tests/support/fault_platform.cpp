#include "tests/support/fault_platform.h"

#include <algorithm>
#include <utility>

namespace testsupport {

using platform::SocketHandle;
using platform::WaitResult;

bool FaultPlatform::fails(Call call) {
    Failure& f = failures_[static_cast<std::size_t>(call)];
    if (f.failing) return true;
    if (f.countdown == 0 || --f.countdown > 0) return false;
    f.failing = f.and_later;
    return true;
}

void FaultPlatform::reset() {
    host_.reset();
    failures_.fill(Failure{});
    hook_ = nullptr;
    // The lists keep their room: a fuzzer resets for every input.
    CallLog fresh;
    fresh.waits.swap(log_.waits);
    fresh.sleeps.swap(log_.sleeps);
    fresh.lookups.swap(log_.lookups);
    fresh.waits.clear();
    fresh.sleeps.clear();
    fresh.lookups.clear();
    log_ = std::move(fresh);
}

void FaultPlatform::fail(Call call, int nth, bool and_later) {
    failures_[static_cast<std::size_t>(call)] = Failure{std::max(nth, 1), and_later, false};
}

void FaultPlatform::before_reading(bool blocking) {
    if (host_.script_pending()) return;
    if (hook_) hook_();
    if (blocking && !host_.script_pending() && !host_.peer_gone()) ++log_.dry_waits;
}

SocketHandle FaultPlatform::opened(SocketHandle s) {
    if (s != platform::kNoSocket) ++log_.sockets_opened;
    return s;
}

int FaultPlatform::socket_layer_start() {
    ++log_.layer_starts;
    return fails(Call::socket_layer_start) ? -1 : host_.socket_layer_start();
}

void FaultPlatform::socket_layer_stop() {
    ++log_.layer_stops;
    host_.socket_layer_stop();
}

SocketHandle FaultPlatform::open_tcp_socket() {
    return fails(Call::open_tcp_socket) ? platform::kNoSocket : opened(host_.open_tcp_socket());
}

SocketHandle FaultPlatform::open_udp_socket() {
    return fails(Call::open_udp_socket) ? platform::kNoSocket : opened(host_.open_udp_socket());
}

void FaultPlatform::close_socket(SocketHandle s) {
    ++(host_.is_open(s) ? log_.sockets_closed : log_.stray_closes);
    host_.close_socket(s);
}

bool FaultPlatform::lookup_ipv4(const char* host, std::uint32_t* address_be) {
    log_.lookups.emplace_back(host);
    return !fails(Call::lookup) && host_.lookup_ipv4(host, address_be);
}

platform::LookupResult FaultPlatform::lookup_ipv4_within(const char* host,
                                                         std::uint32_t* address_be,
                                                         long milliseconds) {
    if (fails(Call::lookup_unanswered)) {
        log_.lookups.emplace_back(host);
        host_.sleep_ms(static_cast<unsigned long>(std::max(milliseconds, 0L)));
        return platform::LookupResult::kNoAnswer;
    }
    // Through this platform's own lookup_ipv4, so that its failures and its log hold.
    return lookup_ipv4(host, address_be) ? platform::LookupResult::kFound
                                         : platform::LookupResult::kNotFound;
}

int FaultPlatform::connect_ipv4(SocketHandle s, std::uint32_t address_be, std::uint16_t port) {
    if (!host_.is_open(s) || fails(Call::connect)) return -1;
    const int r = host_.connect_ipv4(s, address_be, port);
    if (r == 0) {
        log_.connected_address = address_be;
        log_.connected_port = port;
    }
    return r;
}

int FaultPlatform::connect_ipv4_within(SocketHandle s, std::uint32_t address_be, std::uint16_t port,
                                       long milliseconds) {
    log_.connect_limit_ms = milliseconds;
    if (host_.is_open(s) && fails(Call::connect_late)) {
        host_.sleep_ms(static_cast<unsigned long>(std::max(milliseconds, 0L)));
        return -2;
    }
    if (host_.is_open(s) && fails(Call::connect_refused)) return -3;
    return connect_ipv4(s, address_be, port);
}

int FaultPlatform::bind_any_ipv4(SocketHandle s, std::uint16_t port) {
    if (!host_.is_open(s) || fails(Call::bind)) return -1;
    return host_.bind_any_ipv4(s, port);
}

WaitResult FaultPlatform::wait_readable(SocketHandle s, long seconds, long microseconds) {
    log_.waits.push_back({seconds, microseconds});
    if (!host_.is_open(s) || fails(Call::wait)) return WaitResult::kFailed;
    if (fails(Call::exception)) return WaitResult::kException;
    before_reading(true);
    return host_.wait_readable(s, seconds, microseconds);
}

int FaultPlatform::wait_writable(SocketHandle s, long milliseconds) {
    const int ready = host_.wait_writable(s, milliseconds);
    if (ready <= 0 || !fails(Call::write_wait)) return ready;
    // The wait takes its whole time on the host's clock.
    host_.sleep_ms(static_cast<unsigned long>(std::max(milliseconds, 0L)));
    return 0;
}

long FaultPlatform::receive_bytes(SocketHandle s, void* buffer, std::size_t length) {
    ++log_.receives;
    if (!host_.is_open(s) || fails(Call::receive)) return -1;
    before_reading(true);
    return host_.receive_bytes(s, buffer, length);
}

long FaultPlatform::receive_waiting(SocketHandle s, void* buffer, std::size_t length) {
    ++log_.receives;
    if (!host_.is_open(s) || fails(Call::receive)) return -1;
    before_reading(false);
    const long got = host_.receive_waiting(s, buffer, length);
    if (got == platform::kWouldBlock) ++log_.empty_receives;
    return got;
}

long FaultPlatform::send_bytes(SocketHandle s, const void* data, std::size_t length) {
    if (!host_.is_open(s) || fails(Call::send)) return -1;
    return host_.send_bytes(s, data, length);
}

void FaultPlatform::set_no_delay(SocketHandle s) {
    ++log_.no_delay;
    host_.set_no_delay(s);
}

void FaultPlatform::set_keep_alive(SocketHandle s) {
    ++log_.keep_alive;
    host_.set_keep_alive(s);
}

void FaultPlatform::sleep_ms(unsigned long milliseconds) {
    log_.sleeps.push_back(milliseconds);
    host_.sleep_ms(milliseconds);
}

}  // namespace testsupport
