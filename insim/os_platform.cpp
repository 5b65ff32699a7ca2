#include "insim/platform.h"

namespace platform {
namespace {

class OsPlatform final : public Platform {
  public:
    int socket_layer_start() override { return platform::socket_layer_start(); }
    void socket_layer_stop() override { platform::socket_layer_stop(); }
    SocketHandle open_tcp_socket() override { return platform::open_tcp_socket(); }
    SocketHandle open_udp_socket() override { return platform::open_udp_socket(); }
    void close_socket(SocketHandle s) override { platform::close_socket(s); }
    bool lookup_ipv4(const char* host, std::uint32_t* address_be) override {
        return platform::lookup_ipv4(host, address_be);
    }
    int connect_ipv4(SocketHandle s, std::uint32_t address_be, std::uint16_t port) override {
        return platform::connect_ipv4(s, address_be, port);
    }
    int connect_ipv4_within(SocketHandle s, std::uint32_t address_be, std::uint16_t port,
                            long milliseconds) override {
        return platform::connect_ipv4_within(s, address_be, port, milliseconds);
    }
    int bind_any_ipv4(SocketHandle s, std::uint16_t port) override {
        return platform::bind_any_ipv4(s, port);
    }
    WaitResult wait_readable(SocketHandle s, long seconds, long microseconds) override {
        return platform::wait_readable(s, seconds, microseconds);
    }
    int wait_writable(SocketHandle s, long milliseconds) override {
        return platform::wait_writable(s, milliseconds);
    }
    long receive_bytes(SocketHandle s, void* buffer, std::size_t length) override {
        return platform::receive_bytes(s, buffer, length);
    }
    long receive_waiting(SocketHandle s, void* buffer, std::size_t length) override {
        return platform::receive_waiting(s, buffer, length);
    }
    long send_bytes(SocketHandle s, const void* data, std::size_t length) override {
        return platform::send_bytes(s, data, length);
    }
    void set_no_delay(SocketHandle s) override { platform::set_no_delay(s); }
    void set_keep_alive(SocketHandle s) override { platform::set_keep_alive(s); }
    void sleep_ms(unsigned long milliseconds) override { platform::sleep_ms(milliseconds); }
    unsigned long long monotonic_ms() override { return platform::monotonic_ms(); }
};

}  // namespace

Platform& os() noexcept {
    static OsPlatform the_os;
    return the_os;
}

}  // namespace platform
