// Lines from standard input, read on a thread of their own so that the clients are served while
// nobody types.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "tools/sim/commands.h"

namespace sim {

class StdinLines {
  public:
    struct Line {
        simscript::LineRead kind;
        std::string text;
    };

    StdinLines();
    ~StdinLines();
    StdinLines(const StdinLines&) = delete;
    StdinLines& operator=(const StdinLines&) = delete;

    // A line if one is ready; nothing otherwise, and `ended` once input is over.
    std::optional<Line> poll(bool* ended);
    // Once input has ended: why it could not be read, or empty for its end.
    std::string failure() const;

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace sim
