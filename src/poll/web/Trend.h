// A meter's trend of the last hour: one sample a second at most (the last reading of each
// second), every quantity, so that its memory is bounded whatever the bus's pace.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "measure/MeasurementBlock.h"

class Trend {
  public:
    static constexpr int64_t kSpanMs = 3600 * 1000;
    static constexpr int64_t kStepMs = 1000;
    static constexpr size_t kMaxSamples = kSpanMs / kStepMs + 1;

    void Add(int64_t unixMs, const MeasurementValues& values);
    // The samples of one quantity of the last seconds before the newest, oldest first;
    // values not known are left out.
    std::vector<std::pair<int64_t, double>> Samples(int quantity, int64_t seconds) const;
    size_t Size() const { return m_samples.size(); }

  private:
    struct Sample {
        int64_t unixMs;
        MeasurementValues values;
    };
    std::deque<Sample> m_samples;
};
