// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <vector>

// The figure below which the share p (0 to 1) of the figures lie, the largest for p = 1; 0 for
// none.
inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

// The middle of the figures (the mean of the two middle ones for an even count); 0 for none.
inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
