// Standard output that the host never waits on. A reader that stops reading (a pipe into a pager,
// a FIFO nobody drains) would otherwise hold the host in a write while its clients wait: lines
// are written by a thread of their own, and past a bound of waiting bytes they are dropped and
// counted, then said in one line once the reader has caught up.
#pragma once

#include <memory>
#include <string>

namespace sim {

class Printer {
  public:
    static constexpr std::size_t kLimit = std::size_t{256} * 1024;

    Printer();
    // Writes what waits, however long the reader takes: the run is over by then.
    ~Printer();
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    // Whole lines, each ending in '\n', kept together.
    void put(std::string lines);
    // The run's last line, never dropped: after it, the lines that were, if any.
    void last(std::string line);

  private:
    struct Shared;
    std::unique_ptr<Shared> shared_;
};

}  // namespace sim
