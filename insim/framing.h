// Cutting the received TCP byte stream into packets by their Size byte. Plain code with no I/O:
// the connection feeds it what recv() returned, tests and fuzzers feed it bytes directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace insim {

class StreamFramer {
  public:
    static constexpr std::size_t kCapacity = 512;

    enum class State { kNeedBytes, kPacketReady, kZeroSize };

    StreamFramer() = default;

    // Removes the packet at the front, if a whole one is there, and moves the rest to index 0.
    void drop_front();

    // What the front of the buffer holds now.
    State state() const;

    // Room for the next receive; a packet is at most 255 bytes, so after drop_front() there is
    // always room for the rest of an incomplete one.
    std::uint8_t* write_position() { return tcp_buffer_.data() + tcp_buffer_len_; }
    std::size_t write_room() const { return kCapacity - tcp_buffer_len_; }
    void commit(std::size_t received);

    // The front packet; valid only in State::kPacketReady.
    const std::uint8_t* front() const { return tcp_buffer_.data(); }
    std::size_t front_size() const { return tcp_buffer_[0]; }
    std::size_t buffered() const { return tcp_buffer_len_; }

  private:
    std::array<std::uint8_t, kCapacity> scratch_{};
    std::uint32_t scratch_len_ = 0;
    std::array<std::uint8_t, kCapacity> tcp_buffer_{};
    std::uint32_t tcp_buffer_len_ = 0;
};

}  // namespace insim
