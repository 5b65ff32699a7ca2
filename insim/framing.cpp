#include "insim/framing.h"

#include <algorithm>
#include <cstring>

namespace insim {

void StreamFramer::drop_front() {
    const std::uint32_t size = tcp_buffer_[start_];
    if (buffered() == 0 || buffered() < size) return;
    start_ += size;
    if (start_ == end_) start_ = end_ = 0;
}

StreamFramer::State StreamFramer::state() const {
    if (buffered() == 0) return State::kNeedBytes;
    // A zero Size can never advance the stream; the caller treats it as a protocol error.
    if (tcp_buffer_[start_] == 0) return State::kZeroSize;
    return buffered() < tcp_buffer_[start_] ? State::kNeedBytes : State::kPacketReady;
}

std::uint8_t* StreamFramer::write_position() {
    if (start_ > 0) {
        std::memmove(tcp_buffer_.data(), tcp_buffer_.data() + start_, buffered());
        end_ -= start_;
        start_ = 0;
    }
    return tcp_buffer_.data() + end_;
}

void StreamFramer::commit(std::size_t received) {
    end_ += static_cast<std::uint32_t>(std::min(received, kCapacity - end_));
}

}  // namespace insim
