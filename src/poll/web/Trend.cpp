#include "poll/web/Trend.h"

#include <cmath>

void Trend::Add(int64_t unixMs, const MeasurementValues& values) {
    if (!m_samples.empty() && unixMs < m_samples.back().unixMs)
        m_samples.clear();  // clock set back
    if (!m_samples.empty() && unixMs / kStepMs == m_samples.back().unixMs / kStepMs)
        m_samples.back() = {unixMs, values};
    else
        m_samples.push_back({unixMs, values});
    while (m_samples.size() > kMaxSamples || m_samples.front().unixMs < unixMs - kSpanMs)
        m_samples.pop_front();
}

std::vector<std::pair<int64_t, double>> Trend::Samples(int quantity, int64_t seconds) const {
    std::vector<std::pair<int64_t, double>> out;
    if (m_samples.empty() || quantity < 0 || quantity >= kQuantityCount) return out;
    const int64_t from = m_samples.back().unixMs - seconds * 1000;
    for (const Sample& s : m_samples)
        if (s.unixMs >= from && !std::isnan(s.values[quantity]))
            out.push_back({s.unixMs, s.values[quantity]});
    return out;
}
