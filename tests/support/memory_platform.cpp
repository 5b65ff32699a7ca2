#include "tests/support/memory_platform.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace memory_platform {
namespace {

struct Item {
    Event event;
    std::size_t begin;  // bytes: the part of `incoming` not yet received
    std::size_t end;
};

struct Failure {
    int countdown = 0;  // 0: no failure asked for
    bool and_later = false;
    bool failing = false;  // every call fails from now on
};

struct State {
    Bytes incoming;
    std::vector<Item> script;
    std::size_t next = 0;
    bool peer_closed = false;
    bool peer_reset = false;
    bool connects_time_out = false;
    std::array<Failure, static_cast<std::size_t>(Call::count_)> failures{};
    std::function<void()> hook;
    std::vector<platform::SocketHandle> open_sockets;
    platform::SocketHandle next_handle = 3;
    unsigned long long clock_ms = 0;
    Record record;
};

State& state() {
    static State s;
    return s;
}

bool fails(Call call) {
    Failure& f = state().failures[static_cast<std::size_t>(call)];
    if (f.failing) return true;
    if (f.countdown == 0 || --f.countdown > 0) return false;
    f.failing = f.and_later;
    return true;
}

bool is_open(platform::SocketHandle s) {
    const auto& open = state().open_sockets;
    return std::find(open.begin(), open.end(), s) != open.end();
}

platform::SocketHandle open_socket(Call call) {
    State& st = state();
    if (fails(call)) return platform::kNoSocket;
    ++st.record.sockets_opened;
    st.open_sockets.push_back(st.next_handle);
    return st.next_handle++;
}

// The event a wait or receive meets; null when the script has run out even after the hook.
const Item* front() {
    State& st = state();
    if (st.next == st.script.size() && st.hook) st.hook();
    return st.next < st.script.size() ? &st.script[st.next] : nullptr;
}

// One receive: `waiting` is the non-blocking kind, which finds nothing behind a time-out.
long receive(platform::SocketHandle s, void* buffer, std::size_t length, bool waiting) {
    State& st = state();
    ++st.record.receives;
    if (!is_open(s) || fails(Call::receive)) return -1;
    if (st.peer_closed || st.peer_reset) {
        if (st.hook) st.hook();
        return st.peer_reset ? -1 : 0;
    }
    for (;;) {
        const Item* item = front();
        if (item == nullptr) {
            if (waiting) {
                ++st.record.empty_receives;
                return platform::kWouldBlock;
            }
            ++st.record.dry_waits;
            return -1;
        }
        switch (item->event) {
            case Event::bytes: {
                Item& bytes = st.script[st.next];
                const std::size_t n = std::min(length, bytes.end - bytes.begin);
                std::memcpy(buffer, st.incoming.data() + bytes.begin, n);
                bytes.begin += n;
                if (bytes.begin == bytes.end) ++st.next;
                return static_cast<long>(n);
            }
            case Event::close:
                ++st.next;
                st.peer_closed = true;
                return 0;
            case Event::reset:
                ++st.next;
                st.peer_reset = true;
                return -1;
            case Event::timeout:
            case Event::exception:
                if (waiting) {
                    ++st.record.empty_receives;
                    return platform::kWouldBlock;
                }
                // A blocking receive sleeps through what only a wait would have reported.
                ++st.next;
                break;
        }
    }
}

}  // namespace

void reset() {
    State& st = state();
    st.incoming.clear();
    st.script.clear();
    st.next = 0;
    st.peer_closed = st.peer_reset = st.connects_time_out = false;
    st.failures.fill(Failure{});
    st.hook = nullptr;
    st.open_sockets.clear();
    st.next_handle = 3;
    st.clock_ms = 0;
    Record& r = st.record;
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

void add_bytes(const std::uint8_t* data, std::size_t length) {
    add_bytes_in_pieces(data, length, length);
}

void add_bytes_in_pieces(const std::uint8_t* data, std::size_t length, std::size_t piece,
                         bool time_out_first) {
    State& st = state();
    const std::size_t begin = st.incoming.size();
    st.incoming.insert(st.incoming.end(), data, data + length);
    piece = std::max<std::size_t>(piece, 1);
    for (std::size_t at = 0; at < length; at += piece) {
        if (time_out_first) st.script.push_back({Event::timeout, 0, 0});
        st.script.push_back({Event::bytes, begin + at, begin + std::min(at + piece, length)});
    }
}

void add_bytes(const Bytes& bytes) {
    add_bytes(bytes.data(), bytes.size());
}

void add_event(Event event, int times) {
    for (int i = 0; i < times; ++i) state().script.push_back({event, 0, 0});
}

bool script_pending() {
    return state().next < state().script.size();
}

void fail(Call call, int nth, bool and_later) {
    state().failures[static_cast<std::size_t>(call)] = Failure{std::max(nth, 1), and_later, false};
}

void time_out_connects(bool on) {
    state().connects_time_out = on;
}

void on_empty(std::function<void()> hook) {
    state().hook = std::move(hook);
}

const Record& record() {
    return state().record;
}

std::vector<Bytes> sends_since(std::size_t from) {
    const Record& r = state().record;
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

unsigned long long elapsed_ms() {
    return state().clock_ms;
}

}  // namespace memory_platform

namespace platform {

using memory_platform::Call;
using memory_platform::state;

int socket_layer_start() {
    ++state().record.layer_starts;
    return memory_platform::fails(Call::socket_layer_start) ? -1 : 0;
}

void socket_layer_stop() {
    ++state().record.layer_stops;
}

SocketHandle open_tcp_socket() {
    return memory_platform::open_socket(Call::open_tcp_socket);
}

SocketHandle open_udp_socket() {
    return memory_platform::open_socket(Call::open_udp_socket);
}

void close_socket(SocketHandle s) {
    auto& open = state().open_sockets;
    const auto it = std::find(open.begin(), open.end(), s);
    if (it == open.end()) {
        ++state().record.stray_closes;
        return;
    }
    open.erase(it);
    ++state().record.sockets_closed;
}

bool lookup_ipv4(const char* host, std::uint32_t* address_be) {
    state().record.lookups.emplace_back(host);
    if (memory_platform::fails(Call::lookup) || *host == '\0') return false;
    // Every name is this machine; a dotted address stands for itself.
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

int connect_ipv4(SocketHandle s, std::uint32_t address_be, std::uint16_t port) {
    if (!memory_platform::is_open(s) || memory_platform::fails(Call::connect)) return -1;
    state().record.connected_address = address_be;
    state().record.connected_port = port;
    return 0;
}

int connect_ipv4_within(SocketHandle s, std::uint32_t address_be, std::uint16_t port,
                        long milliseconds) {
    state().record.connect_limit_ms = milliseconds;
    if (state().connects_time_out) {
        state().clock_ms += static_cast<unsigned long long>(std::max(milliseconds, 0L));
        return -2;
    }
    return connect_ipv4(s, address_be, port);
}

int bind_any_ipv4(SocketHandle s, std::uint16_t /*port*/) {
    return memory_platform::is_open(s) && !memory_platform::fails(Call::bind) ? 0 : -1;
}

WaitResult wait_readable(SocketHandle s, long seconds, long microseconds) {
    auto& st = state();
    st.record.waits.push_back({seconds, microseconds});
    if (!memory_platform::is_open(s) || memory_platform::fails(Call::wait)) {
        return WaitResult::kFailed;
    }
    if (st.peer_closed || st.peer_reset) {
        if (st.hook) st.hook();
        return WaitResult::kReadable;
    }
    const memory_platform::Item* item = memory_platform::front();
    if (item == nullptr) {
        ++st.record.dry_waits;
        return WaitResult::kFailed;
    }
    switch (item->event) {
        case memory_platform::Event::timeout:
            ++st.next;
            st.clock_ms += static_cast<unsigned long long>(seconds) * 1000 +
                           static_cast<unsigned long long>(microseconds) / 1000;
            return WaitResult::kTimeout;
        case memory_platform::Event::exception:
            ++st.next;
            return WaitResult::kException;
        default:
            return WaitResult::kReadable;
    }
}

long receive_bytes(SocketHandle s, void* buffer, std::size_t length) {
    return memory_platform::receive(s, buffer, length, false);
}

long receive_waiting(SocketHandle s, void* buffer, std::size_t length) {
    return memory_platform::receive(s, buffer, length, true);
}

int wait_writable(SocketHandle s, long milliseconds) {
    auto& st = state();
    if (!memory_platform::is_open(s) || st.peer_reset) return -1;
    if (memory_platform::fails(Call::write_wait)) {
        st.clock_ms += static_cast<unsigned long long>(milliseconds);
        return 0;
    }
    return 1;
}

long send_bytes(SocketHandle s, const void* data, std::size_t length) {
    auto& st = state();
    if (!memory_platform::is_open(s) || memory_platform::fails(Call::send) || st.peer_reset) {
        return -1;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    st.record.sent.insert(st.record.sent.end(), bytes, bytes + length);
    st.record.send_ends.push_back(st.record.sent.size());
    return static_cast<long>(length);
}

// There is no loopback in memory: a host end cannot be listened for.
SocketHandle listen_loopback(std::uint16_t /*port*/, std::uint16_t* /*bound_port*/) {
    return kNoSocket;
}

SocketHandle accept_client(SocketHandle /*listener*/) {
    return kNoSocket;
}

void set_reset_on_close(SocketHandle /*s*/) {}

void set_no_delay(SocketHandle /*s*/) {
    ++state().record.no_delay;
}

void set_keep_alive(SocketHandle /*s*/) {
    ++state().record.keep_alive;
}

// Sleeps take no time: they are noted and move the platform's clock on.
void sleep_ms(unsigned long milliseconds) {
    state().record.sleeps.push_back(milliseconds);
    state().clock_ms += milliseconds;
}

unsigned long long monotonic_ms() {
    return state().clock_ms;
}

}  // namespace platform
