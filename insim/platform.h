// Thin layer over the operating system's sockets, mutex and sleep. One implementation file per
// operating system; nothing above this header includes a system networking header.
//
// The free functions are the operating system's calls, for code that always needs real sockets
// (the host side, the benchmark). travo's connection and the start light go through a Platform
// instead, so that a program can run them over another implementation chosen at run time, such
// as the in-memory one (insim/memory_platform.h); os() is the default.
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

// Start and stop of the socket layer (WSAStartup 2.2 / WSACleanup; nothing on POSIX).
int socket_layer_start();
void socket_layer_stop();

SocketHandle open_tcp_socket();
SocketHandle open_udp_socket();
void close_socket(SocketHandle s);

// IPv4 address in network byte order: host name lookup first, dotted address as fall-back.
bool lookup_ipv4(const char* host, std::uint32_t* address_be);

int connect_ipv4(SocketHandle s, std::uint32_t address_be, std::uint16_t port);
// connect() that gives up after `milliseconds`: 0 connected, -1 failed, -2 timed out,
// -3 refused (nothing listens on that port). The socket is blocking again afterwards.
int connect_ipv4_within(SocketHandle s, std::uint32_t address_be, std::uint16_t port,
                        long milliseconds);
int bind_any_ipv4(SocketHandle s, std::uint16_t port);

enum class WaitResult { kTimeout, kReadable, kException, kFailed };

// One select() on a single socket with read and exception sets; the limit starts afresh each call.
WaitResult wait_readable(SocketHandle s, long seconds, long microseconds);

// Waits until a send of a few bytes can go out without blocking: 1 it can, 0 `milliseconds`
// passed first (a peer that does not read has filled the buffers), -1 the socket failed.
int wait_writable(SocketHandle s, long milliseconds);

// recv/send; negative on failure. A send on a closed peer never raises a signal.
long receive_bytes(SocketHandle s, void* buffer, std::size_t length);
// A receive that never blocks: kWouldBlock when nothing is waiting, else as receive_bytes.
inline constexpr long kWouldBlock = -3;
long receive_waiting(SocketHandle s, void* buffer, std::size_t length);
long send_bytes(SocketHandle s, const void* data, std::size_t length);

// Host side of a loopback connection, for the virtual host and the tests' fake host.
SocketHandle listen_loopback(std::uint16_t port, std::uint16_t* bound_port);
SocketHandle accept_client(SocketHandle listener);
// Makes the next close send a reset instead of an orderly shutdown.
void set_reset_on_close(SocketHandle s);
void set_no_delay(SocketHandle s);
// TCP keep-alive with our own timings, so that a peer that vanished without closing (power cut,
// lost route) fails the next receive about a minute after the last byte it sent. Unacknowledged
// sends give up after the same minute.
void set_keep_alive(SocketHandle s);
inline constexpr int kDeadPeerSeconds = 60;

void sleep_ms(unsigned long milliseconds);
// Milliseconds on a clock that only moves forward, from an unspecified start.
unsigned long long monotonic_ms();

// The calls travo's own code makes, as an interface; each behaves as the free function of the
// same name.
class Platform {
  public:
    virtual ~Platform() = default;

    virtual int socket_layer_start() = 0;
    virtual void socket_layer_stop() = 0;
    virtual SocketHandle open_tcp_socket() = 0;
    virtual SocketHandle open_udp_socket() = 0;
    virtual void close_socket(SocketHandle s) = 0;
    virtual bool lookup_ipv4(const char* host, std::uint32_t* address_be) = 0;
    virtual int connect_ipv4(SocketHandle s, std::uint32_t address_be, std::uint16_t port) = 0;
    virtual int connect_ipv4_within(SocketHandle s, std::uint32_t address_be, std::uint16_t port,
                                    long milliseconds) = 0;
    virtual int bind_any_ipv4(SocketHandle s, std::uint16_t port) = 0;
    virtual WaitResult wait_readable(SocketHandle s, long seconds, long microseconds) = 0;
    virtual int wait_writable(SocketHandle s, long milliseconds) = 0;
    virtual long receive_bytes(SocketHandle s, void* buffer, std::size_t length) = 0;
    virtual long receive_waiting(SocketHandle s, void* buffer, std::size_t length) = 0;
    virtual long send_bytes(SocketHandle s, const void* data, std::size_t length) = 0;
    virtual void set_no_delay(SocketHandle s) = 0;
    virtual void set_keep_alive(SocketHandle s) = 0;
    virtual void sleep_ms(unsigned long milliseconds) = 0;
    virtual unsigned long long monotonic_ms() = 0;
};

// The operating system's implementation: one object for the whole process, as the calls it
// forwards to keep no state of their own.
Platform& os() noexcept;

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
