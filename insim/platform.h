// Thin layer over the operating system's sockets, mutex and sleep. One implementation file per
// platform; nothing above this header includes a system networking header.
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
