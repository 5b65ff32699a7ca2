// Cutting the received TCP byte stream into packets by their Size byte. Plain code with no I/O:
// the connection feeds it what recv() returned, tests and fuzzers feed it bytes directly.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace insim {

class StreamFramer {
  public:
    static constexpr std::size_t kCapacity = 512;

    enum class State { kNeedBytes, kPacketReady, kZeroSize };

    StreamFramer() = default;

    // Removes the packet at the front, if a whole one is there. The bytes behind it stay where
    // they are until the next receive needs the room.
    void drop_front() {
        const std::uint32_t size = tcp_buffer_[start_];
        if (buffered() == 0 || buffered() < size) return;
        start_ += size;
        if (start_ == end_) start_ = end_ = 0;
    }

    // What the front of the buffer holds now.
    State state() const {
        if (buffered() == 0) return State::kNeedBytes;
        // A zero Size can never advance the stream; the caller treats it as a protocol error.
        if (tcp_buffer_[start_] == 0) return State::kZeroSize;
        return buffered() < tcp_buffer_[start_] ? State::kNeedBytes : State::kPacketReady;
    }

    // Where the next receive goes: the unread bytes are first moved to the start of the buffer.
    // A packet is at most 255 bytes, so there is always room for the rest of an incomplete one.
    std::uint8_t* write_position() {
        if (start_ > 0) {
            std::memmove(tcp_buffer_.data(), tcp_buffer_.data() + start_, buffered());
            end_ -= start_;
            start_ = 0;
        }
        return tcp_buffer_.data() + end_;
    }
    std::size_t write_room() const { return kCapacity - buffered(); }
    void commit(std::size_t received) {
        end_ += static_cast<std::uint32_t>(std::min(received, kCapacity - end_));
    }

    // The front packet; valid only in State::kPacketReady.
    const std::uint8_t* front() const { return tcp_buffer_.data() + start_; }
    std::size_t front_size() const { return tcp_buffer_[start_]; }
    std::size_t buffered() const { return end_ - start_; }

  private:
    // Compacting once per receive rather than once per packet keeps a burst of small packets
    // from being copied over and over.
    std::array<std::uint8_t, kCapacity> tcp_buffer_{};
    std::uint32_t start_ = 0;
    std::uint32_t end_ = 0;
};

}  // namespace insim
