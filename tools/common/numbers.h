// Numbers given on a command line or in a script line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace toolkit {

// The whole of `text`, in plain decimal digits (and one point where `whole` is not set), as a
// number from `min` to `max`: no sign, blank, exponent or hexadecimal.
std::optional<double> parse_number(std::string_view text, double min, double max, bool whole);

// "a whole number from 0 to 65535", "a number of seconds from 0.1 to 3600": for usage errors.
std::string range_words(double min, double max, bool whole, std::string_view unit = "");

}  // namespace toolkit
