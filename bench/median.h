// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <vector>

// The middle of the figures (the mean of the two middle ones for an even count); 0 for none.
inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
