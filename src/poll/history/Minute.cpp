#include "poll/history/Minute.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int64_t kMinuteMs = 60000;

MeasurementValues Unknown() {
    MeasurementValues v;
    v.fill(NAN);
    return v;
}

}  // namespace

std::optional<MinuteRow> MinuteAggregator::Add(const Reading& r) {
    const int64_t startMs = r.unixMs - r.unixMs % kMinuteMs;
    std::optional<MinuteRow> closed;
    // A later minute closes the row; so does an earlier one (the clock set back), which
    // starts anew rather than mixing two stretches of time in one row.
    if (m_row && m_row->startMs != startMs) {
        closed = Current();
        m_row.reset();
    }
    if (!m_row) Start(startMs);
    Fold(r.values);
    return closed;
}

std::optional<MinuteRow> MinuteAggregator::Current() const {
    if (!m_row) return std::nullopt;
    MinuteRow row = *m_row;
    for (int q = 0; q < kQuantityCount; ++q)
        row.mean[q] = m_known[q] > 0 ? m_sum[q] / m_known[q] : NAN;
    return row;
}

void MinuteAggregator::Start(int64_t startMs) {
    MinuteRow row;
    row.address = m_address;
    row.startMs = startMs;
    row.min = row.mean = row.max = row.last = Unknown();
    m_row = row;
    m_sum.fill(0);
    m_known.fill(0);
}

void MinuteAggregator::Fold(const MeasurementValues& values) {
    MinuteRow& row = *m_row;
    ++row.count;
    for (int q = 0; q < kQuantityCount; ++q) {
        const double v = values[q];
        if (!std::isfinite(v)) continue;  // not known in this reading
        const bool first = m_known[q] == 0;
        row.min[q] = first ? v : std::min(row.min[q], v);
        row.max[q] = first ? v : std::max(row.max[q], v);
        row.last[q] = v;
        m_sum[q] += v;
        ++m_known[q];
    }
}
