#include "Samples.h"

#include <algorithm>
#include <cmath>

double Samples::Percentile(double percent) const {
    if (m_values.empty()) return 0;
    std::vector<double> sorted(m_values);
    std::sort(sorted.begin(), sorted.end());
    auto rank = static_cast<size_t>(std::ceil(percent / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}
