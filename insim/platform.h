// Thin layer over the operating system's sockets, mutex and sleep. One implementation file per
// operating system; nothing above this header includes a system networking header.
#pragma once

#include <cstddef>
#include <cstdint>

#include <pthread.h>

namespace platform {

#ifdef _WIN32
using SocketHandle = std::uintptr_t;
#else
using SocketHandle = int;
#endif

inline constexpr SocketHandle kNoSocket = static_cast<SocketHandle>(-1);

enum class WaitResult { kTimeout, kReadable, kException, kFailed };

// What a name lookup with a time limit came to.
enum class LookupResult { kFound, kNotFound, kNoAnswer };

// What receive_waiting returns when nothing is waiting.
inline constexpr long kWouldBlock = -3;

// How long a peer that vanished without closing takes to fail a receive.
inline constexpr int kDeadPeerSeconds = 60;

// What travo's code asks of the operating system: sockets, waits, the sleep and the clock. The
// operating system's implementation is os() (platform_posix.cpp or platform_windows.cpp); tests,
// fuzzers and travo-check --picture pass another one, such as the scripted platform.
class Platform {
  public:
    virtual ~Platform() = default;

    // Start and stop of the socket layer (WSAStartup 2.2 / WSACleanup; nothing on POSIX).
    virtual int socket_layer_start() = 0;
    virtual void socket_layer_stop() = 0;

    virtual SocketHandle open_tcp_socket() = 0;
    virtual SocketHandle open_udp_socket() = 0;
    virtual void close_socket(SocketHandle s) = 0;

    // IPv4 address in network byte order: host name lookup first, dotted address as fall-back.
    virtual bool lookup_ipv4(const char* host, std::uint32_t* address_be) = 0;
    // lookup_ipv4 that gives up after `milliseconds` (kNoAnswer): a name server that never
    // answers holds the operating system's lookup for many seconds. A platform whose lookup
    // cannot block answers at once.
    virtual LookupResult lookup_ipv4_within(const char* host, std::uint32_t* address_be,
                                            long milliseconds) {
        (void)milliseconds;
        return lookup_ipv4(host, address_be) ? LookupResult::kFound : LookupResult::kNotFound;
    }

    virtual int connect_ipv4(SocketHandle s, std::uint32_t address_be, std::uint16_t port) = 0;
    // connect() that gives up after `milliseconds`: 0 connected, -1 failed, -2 timed out,
    // -3 refused (nothing listens on that port). The socket is blocking again afterwards.
    virtual int connect_ipv4_within(SocketHandle s, std::uint32_t address_be, std::uint16_t port,
                                    long milliseconds) = 0;
    virtual int bind_any_ipv4(SocketHandle s, std::uint16_t port) = 0;

    // One select() on a single socket with read and exception sets; the limit starts afresh
    // each call.
    virtual WaitResult wait_readable(SocketHandle s, long seconds, long microseconds) = 0;
    // Waits until a send of a few bytes can go out without blocking: 1 it can, 0 `milliseconds`
    // passed first (a peer that does not read has filled the buffers), -1 the socket failed.
    virtual int wait_writable(SocketHandle s, long milliseconds) = 0;

    // recv/send; negative on failure. A send on a closed peer never raises a signal.
    virtual long receive_bytes(SocketHandle s, void* buffer, std::size_t length) = 0;
    // A receive that never blocks: kWouldBlock when nothing is waiting, else as receive_bytes.
    virtual long receive_waiting(SocketHandle s, void* buffer, std::size_t length) = 0;
    virtual long send_bytes(SocketHandle s, const void* data, std::size_t length) = 0;

    virtual void set_no_delay(SocketHandle s) = 0;
    // TCP keep-alive with our own timings, so that a peer that vanished without closing (power
    // cut, lost route) fails the next receive about kDeadPeerSeconds after the last byte it sent.
    // Unacknowledged sends give up after the same time.
    virtual void set_keep_alive(SocketHandle s) = 0;

    virtual void sleep_ms(unsigned long milliseconds) = 0;
    // Milliseconds on a clock that only moves forward, from an unspecified start.
    virtual unsigned long long monotonic_ms() = 0;
};

// The operating system's platform: one object for the whole process.
Platform& os() noexcept;

// `blocking`'s lookup_ipv4 on a thread of its own, awaited for at most `milliseconds`. A lookup
// cannot be cancelled: one that outlives its wait finishes unseen. `blocking` must live as long
// as the process (os() does).
LookupResult lookup_on_own_thread(Platform& blocking, const char* host, std::uint32_t* address_be,
                                  long milliseconds);

// Forwards every call to another platform: the base of one that changes only a few calls.
class PlatformWrapper : public Platform {
  public:
    explicit PlatformWrapper(Platform& target) noexcept : target_(target) {}
    Platform& target() const { return target_; }

    int socket_layer_start() override { return target_.socket_layer_start(); }
    void socket_layer_stop() override { target_.socket_layer_stop(); }
    SocketHandle open_tcp_socket() override { return target_.open_tcp_socket(); }
    SocketHandle open_udp_socket() override { return target_.open_udp_socket(); }
    void close_socket(SocketHandle s) override { target_.close_socket(s); }
    bool lookup_ipv4(const char* host, std::uint32_t* address_be) override {
        return target_.lookup_ipv4(host, address_be);
    }
    LookupResult lookup_ipv4_within(const char* host, std::uint32_t* address_be,
                                    long milliseconds) override {
        return target_.lookup_ipv4_within(host, address_be, milliseconds);
    }
    int connect_ipv4(SocketHandle s, std::uint32_t address_be, std::uint16_t port) override {
        return target_.connect_ipv4(s, address_be, port);
    }
    int connect_ipv4_within(SocketHandle s, std::uint32_t address_be, std::uint16_t port,
                            long milliseconds) override {
        return target_.connect_ipv4_within(s, address_be, port, milliseconds);
    }
    int bind_any_ipv4(SocketHandle s, std::uint16_t port) override {
        return target_.bind_any_ipv4(s, port);
    }
    WaitResult wait_readable(SocketHandle s, long seconds, long microseconds) override {
        return target_.wait_readable(s, seconds, microseconds);
    }
    int wait_writable(SocketHandle s, long milliseconds) override {
        return target_.wait_writable(s, milliseconds);
    }
    long receive_bytes(SocketHandle s, void* buffer, std::size_t length) override {
        return target_.receive_bytes(s, buffer, length);
    }
    long receive_waiting(SocketHandle s, void* buffer, std::size_t length) override {
        return target_.receive_waiting(s, buffer, length);
    }
    long send_bytes(SocketHandle s, const void* data, std::size_t length) override {
        return target_.send_bytes(s, data, length);
    }
    void set_no_delay(SocketHandle s) override { target_.set_no_delay(s); }
    void set_keep_alive(SocketHandle s) override { target_.set_keep_alive(s); }
    void sleep_ms(unsigned long milliseconds) override { target_.sleep_ms(milliseconds); }
    unsigned long long monotonic_ms() override { return target_.monotonic_ms(); }

  private:
    Platform& target_;
};

// The send lock: a POSIX threads mutex with default attributes (winpthreads on MinGW).
class Mutex {
  public:
    Mutex() noexcept { pthread_mutex_init(&mutex_, nullptr); }
    ~Mutex() { pthread_mutex_destroy(&mutex_); }
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void lock() { pthread_mutex_lock(&mutex_); }
    void unlock() { pthread_mutex_unlock(&mutex_); }

  private:
    pthread_mutex_t mutex_;
};

}  // namespace platform
