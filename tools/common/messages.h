// A tool's own lines: "travo-check: message", its name written once.
#pragma once

#include <string>
#include <string_view>

namespace toolkit {

// A usage error, or a file or option refused before any work started.
inline constexpr int kUsageStatus = 2;
// Standard output could not be written (a full disk, a closed stream).
inline constexpr int kOutputLostStatus = 3;

class Tool {
  public:
    constexpr explicit Tool(std::string_view name) : name_(name) {}

    std::string_view name() const { return name_; }
    // "name: message", without a line end.
    std::string line(std::string_view message) const;
    // The line on standard output, flushed.
    void say(std::string_view message) const;
    // The line on standard error.
    void complain(std::string_view message) const;
    // Complains and returns kUsageStatus; a usage error points at --help.
    int refuse(std::string_view why) const;
    int usage_error(std::string_view why) const;

  private:
    std::string_view name_;
};

}  // namespace toolkit
