#include "tools/common/numbers.h"

#include <cstdlib>
#include <sstream>

namespace toolkit {
namespace {

// Plain decimal: digits, and for a number that may have a fraction, one point among them. What
// strtod takes besides (a sign, blanks, 0x10, 1e3, inf) is no way to write a port or seconds.
bool plain_decimal(std::string_view text, bool whole) {
    bool digit = false;
    bool point = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == '.' && !whole && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digit;
}

}  // namespace

std::optional<double> parse_number(std::string_view text, double min, double max, bool whole) {
    if (text.size() > 64 || !plain_decimal(text, whole)) return std::nullopt;
    const std::string copy(text);
    const double v = std::strtod(copy.c_str(), nullptr);
    if (v < min || v > max) return std::nullopt;
    return v;
}

std::string range_words(double min, double max, bool whole, std::string_view unit) {
    std::ostringstream o;
    o << (whole ? "a whole number" : "a number");
    if (!unit.empty()) o << " of " << unit;
    o << " from " << min << " to " << max;
    return o.str();
}

}  // namespace toolkit
