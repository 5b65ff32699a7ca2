#include "tools/sim/outbox.h"

#include <algorithm>

#include "insim/platform.h"

namespace sim {

bool Outbox::add(const insim::Bytes& bytes, Clock::time_point now) {
    if (size() + bytes.size() > kLimit) return false;
    if (empty()) since_ = now;
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return true;
}

bool Outbox::drain(const Send& send, Clock::time_point now) {
    while (!empty()) {
        const long n = send(bytes_.data() + start_, size());
        if (n == platform::kWouldBlock || n == 0) break;
        if (n < 0) return false;
        start_ += std::min(static_cast<std::size_t>(n), size());
        since_ = now;
    }
    // What went out is dropped once it is half the queue, so that a drain copies little.
    if (start_ > 0 && start_ >= bytes_.size() / 2) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    return true;
}

Clock::duration Outbox::stalled(Clock::time_point now) const {
    return empty() ? Clock::duration::zero() : now - since_;
}

}  // namespace sim
