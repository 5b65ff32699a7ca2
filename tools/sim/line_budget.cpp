#include "tools/sim/line_budget.h"

namespace sim {

bool LineBudget::take(Clock::time_point now) {
    if (now - window_ >= std::chrono::seconds(1)) {
        window_ = now;
        shown_ = 0;
    }
    if (shown_ < per_second_) {
        ++shown_;
        return true;
    }
    ++refused_;
    return false;
}

long LineBudget::refused(Clock::time_point now) {
    if (refused_ == 0 || now - window_ < std::chrono::seconds(1)) return 0;
    return refused_now();
}

long LineBudget::refused_now() {
    const long n = refused_;
    refused_ = 0;
    return n;
}

}  // namespace sim
