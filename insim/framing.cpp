#include "insim/framing.h"

#include <algorithm>
#include <cstring>

namespace insim {

void StreamFramer::drop_front() {
    const std::uint32_t size = tcp_buffer_[0];
    if (tcp_buffer_len_ == 0 || tcp_buffer_len_ < size) return;
    scratch_len_ = tcp_buffer_len_ - size;
    std::memcpy(scratch_.data(), tcp_buffer_.data() + size, scratch_len_);
    tcp_buffer_.fill(0);
    std::memcpy(tcp_buffer_.data(), scratch_.data(), scratch_len_);
    tcp_buffer_len_ = scratch_len_;
}

StreamFramer::State StreamFramer::state() const {
    if (tcp_buffer_len_ == 0) return State::kNeedBytes;
    // A zero Size can never advance the stream; the caller treats it as a protocol error.
    if (tcp_buffer_[0] == 0) return State::kZeroSize;
    return tcp_buffer_len_ < tcp_buffer_[0] ? State::kNeedBytes : State::kPacketReady;
}

void StreamFramer::commit(std::size_t received) {
    tcp_buffer_len_ += static_cast<std::uint32_t>(std::min(received, write_room()));
}

}  // namespace insim
