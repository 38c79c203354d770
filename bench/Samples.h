#pragma once
// A series of measured values and the order statistics the benchmark
// reports: median and 99th percentile (nearest rank). Not thread-safe.

#include <cstddef>
#include <vector>

class Samples {
public:
    void Add(double value) { m_values.push_back(value); }
    void Append(const Samples& other) {
        m_values.insert(m_values.end(), other.m_values.begin(), other.m_values.end());
    }
    size_t Count() const { return m_values.size(); }
    const std::vector<double>& Values() const { return m_values; }
    // The nearest-rank |percent| percentile; 0 for an empty series.
    double Percentile(double percent) const;
    double Median() const { return Percentile(50); }
    double Max() const { return Percentile(100); }

private:
    std::vector<double> m_values;
};
