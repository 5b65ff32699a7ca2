// The host's side of an InSim connection on 127.0.0.1: accepts one client, answers the handshake,
// sends whatever bytes it is told to, and records every packet the client sends with its time.
// The tests drive it directly; the virtual host builds on it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "insim/builders.h"
#include "insim/platform.h"
#include "insim/records.h"

namespace hostside {

using Clock = std::chrono::steady_clock;
using insim::Bytes;

struct ReceivedPacket {
    Bytes bytes;
    Clock::time_point at;

    std::uint8_t type() const { return insim::record_from<insim::Header>(bytes).Type; }
};

// One client's end as the host holds it: its bytes, cut into packets by their Size byte.
class ClientLink {
  public:
    ClientLink() = default;
    ~ClientLink();
    ClientLink(const ClientLink&) = delete;
    ClientLink& operator=(const ClientLink&) = delete;

    // Takes over an accepted socket; one held before is closed.
    void adopt(platform::SocketHandle socket);
    bool connected() const { return socket_ != platform::kNoSocket; }
    // The client closed its end or the connection failed.
    bool gone() const { return gone_; }
    // It failed (a reset) rather than being closed.
    bool failed() const { return failed_; }

    platform::SocketHandle socket() const { return socket_; }

    // Blocks until every byte is sent: for the tests' host, which waits for its client on purpose.
    bool send_raw(const void* data, std::size_t length);
    bool send_raw(const Bytes& bytes) { return send_raw(bytes.data(), bytes.size()); }
    // Never blocks: as hostside::send_waiting (listen.h).
    long send_waiting(const std::uint8_t* data, std::size_t length);

    // The next whole packet; nothing on time-out or when the client has gone. A Size of 0 comes
    // back as a one-byte packet: a fault of the client.
    std::optional<ReceivedPacket> next_packet(std::chrono::milliseconds timeout);
    bool has_whole_packet() const;

    // Waits until the client has closed its end; what it sent before stays readable.
    bool wait_closed(std::chrono::milliseconds timeout);

    void close();  // orderly close
    void reset();  // close with a reset

  private:
    bool fill(Clock::time_point deadline);

    platform::SocketHandle socket_ = platform::kNoSocket;
    Bytes pending_;
    bool gone_ = false;
    bool failed_ = false;
};

class FakeHost {
  public:
    FakeHost() = default;
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // Listens on 127.0.0.1; port 0 picks a free one.
    bool listen(std::uint16_t port = 0);
    std::uint16_t port() const { return port_; }

    // Waits for the client to connect.
    bool accept(std::chrono::milliseconds timeout);
    bool connected() const { return link_.connected(); }

    bool send_raw(const void* data, std::size_t length) { return link_.send_raw(data, length); }
    bool send_raw(const Bytes& bytes) { return link_.send_raw(bytes); }

    // The next whole packet from the client, cut by its Size byte; nothing on time-out or when
    // the client has gone. A Size of 0 comes back as a one-byte packet: a fault of the client.
    std::optional<ReceivedPacket> next_packet(std::chrono::milliseconds timeout);

    // Reads packets until one of `type` comes; the ones before it stay in received().
    std::optional<ReceivedPacket> next_packet_of_type(std::uint8_t type,
                                                      std::chrono::milliseconds timeout);

    // Reads the client's IS_ISI and, when it asks for one, answers with IS_VER (handshake.h).
    std::optional<insim::IS_ISI> handshake(
        std::string_view version = "0.7F", std::uint16_t insim_version = 9,
        std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // True once the client has closed its end (and everything it sent has been read).
    bool client_closed(std::chrono::milliseconds timeout);

    void close() { link_.close(); }  // orderly close of the client connection
    void reset() { link_.reset(); }  // close with a reset

    // Every packet read so far, in order.
    const std::vector<ReceivedPacket>& received() const { return received_; }
    void clear_received() { received_.clear(); }

  private:
    platform::SocketHandle listener_ = platform::kNoSocket;
    ClientLink link_;
    std::uint16_t port_ = 0;
    std::vector<ReceivedPacket> received_;
};

// Packets as the host sends them.
Bytes version_packet(std::string_view version, std::uint16_t insim_version, std::uint8_t reqi = 1);
Bytes tiny_packet(std::uint8_t subtype, std::uint8_t reqi = 0);
// A chat line: Msg holds `text` and its zero, the record cut to a multiple of 4 bytes.
Bytes mso_packet(std::uint8_t text_start, std::string_view text);
// A player's chat line as the host reports it: Msg = NAME + " ^8" + TEXT, TextStart just past
// the name and its blank.
Bytes say_packet(std::string_view name, std::string_view text);
// A new connection with the given nickname.
Bytes ncn_packet(std::string_view player_name, std::uint8_t ucid = 1);
// A multi-car packet of `cars` car records (28 bytes each).
Bytes mci_packet(std::uint8_t cars);

// Helpers for reading what the client sent.
// Msg of an IS_MST up to its zero.
std::string_view chat_text(const Bytes& mst);
std::string_view chat_text(const ReceivedPacket& mst);

}  // namespace hostside
