#include "tools/common/numbers.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace toolkit {

std::optional<double> parse_number(std::string_view text, double min, double max, bool whole) {
    // strtod would skip blanks before the number; a value with blanks is a mistake.
    if (text.empty() || text.size() > 64 ||
        std::string_view("0123456789+-.").find(text.front()) == std::string_view::npos)
        return std::nullopt;
    const std::string copy(text);
    char* end = nullptr;
    const double v = std::strtod(copy.c_str(), &end);
    if (end == copy.c_str() || *end != '\0' || !std::isfinite(v)) return std::nullopt;
    if (v < min || v > max) return std::nullopt;
    // Every double past 2^53 is whole; below it a cast shows a fraction, without needing libm,
    // which the shipped programs do not link.
    const double magnitude = v < 0 ? -v : v;
    if (whole && magnitude < 9.0e15 && v != static_cast<double>(static_cast<long long>(v)))
        return std::nullopt;
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
