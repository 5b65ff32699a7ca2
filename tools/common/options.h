// The command line of a tool: "--name VALUE" and "--name=VALUE" alike, flags, and the words that
// are no options.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace toolkit {

struct Option {
    std::string_view name;  // "--port"
    std::string needs;      // what its value must be, for a usage error; empty: a flag
    // Takes the value (empty for a flag); false when it is not a value the option takes.
    std::function<bool(const std::string& value)> take;
    // A refused value is shown in the usage error, unless it is a secret.
    bool secret = false;
};

// A flag that sets `set`.
Option flag(std::string_view name, bool& set);
// An option whose value is any text, kept in `set`.
Option text(std::string_view name, std::string needs, std::string& set);
// A number option: plain decimal, in its range, whole where it counts things; `set` takes it.
Option number(std::string_view name, double min, double max, bool whole, std::string_view unit,
              std::function<void(double)> set);

// Reads argv[1] onwards in order. An option's value may not be empty (an unset variable is a
// mistake), nor, as a separate word, another option of the table (a forgotten value); an option
// that takes a value is given once. Every word that is no option goes to `operands`, all of them
// after "--". The reason for a usage error, else empty.
std::string read_options(int argc, const char* const* argv, const std::vector<Option>& options,
                         std::vector<std::string>& operands);

}  // namespace toolkit
