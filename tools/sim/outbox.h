// What waits to go out to one client. Bounded, so that a client that does not read costs the
// host a fixed amount of memory, and drained only by sends that never block, so that it never
// costs the host its time: every send to a client goes through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "insim/builders.h"
#include "tools/sim/settings.h"

namespace sim {

class Outbox {
  public:
    static constexpr std::size_t kLimit = std::size_t{256} * 1024;

    // Takes `data` and `length`; returns the bytes taken, platform::kWouldBlock (or 0) when it
    // takes none now, another negative number when the connection failed.
    using Send = std::function<long(const std::uint8_t* data, std::size_t length)>;

    // Adds `bytes` after what waits; false, adding nothing, when they would take it past kLimit.
    bool add(const insim::Bytes& bytes, Clock::time_point now);
    // Hands what waits to `send` until it takes no more; false when the connection failed.
    bool drain(const Send& send, Clock::time_point now);

    std::size_t size() const { return bytes_.size() - start_; }
    bool empty() const { return size() == 0; }
    // How long bytes have waited with none taken; zero when nothing waits.
    Clock::duration stalled(Clock::time_point now) const;

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t start_ = 0;  // bytes_ before it have gone out
    Clock::time_point since_{};
};

}  // namespace sim
