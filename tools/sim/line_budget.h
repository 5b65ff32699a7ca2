// How many lines one source may print, so that nothing a client sends floods the output.
#pragma once

#include "tools/sim/settings.h"

namespace sim {

// `per_second` lines in each second; the rest are counted, to be said in one line once the
// second is over.
class LineBudget {
  public:
    explicit LineBudget(int per_second) : per_second_(per_second) {}
    // True when one more line may show now.
    bool take(Clock::time_point now);
    // Counts one more refused line, taken but refused by another budget.
    void count_refused() { ++refused_; }
    // The lines refused in a second that has ended, once; 0 when none.
    long refused(Clock::time_point now);
    // The lines refused so far, once, whether or not their second has ended.
    long refused_now();

  private:
    int per_second_;
    Clock::time_point window_{};
    int shown_ = 0;
    long refused_ = 0;
};

}  // namespace sim
