// Order statistics of a sample.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace bench {

// Nearest rank: the smallest value with at least q of the sample at or below it. 0 when empty.
inline double quantile(std::vector<double> values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(q * static_cast<double>(values.size()));
    const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    return values[std::min(index, values.size() - 1)];
}

}  // namespace bench
