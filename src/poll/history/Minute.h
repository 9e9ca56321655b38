// A meter's readings folded into minutes: the minimum, mean and maximum of every quantity
// over the readings of one clock minute (UTC), and its last values (the energy counters at
// the end of the minute). Pure.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "poll/Reading.h"

struct MinuteRow {
    uint8_t address = 0;
    int64_t startMs = 0;  // the minute's (or step's) start, UTC, a multiple of its length
    int32_t stepS = 60;   // 60 for a minute; 900 once thinned to a quarter of an hour
    int32_t count = 0;    // readings in it
    MeasurementValues min{}, mean{}, max{}, last{};  // NaN where a quantity was never known
};

class MinuteAggregator {
  public:
    explicit MinuteAggregator(uint8_t address) : m_address(address) {}
    // The minute that a reading of a later minute closes, if any.
    std::optional<MinuteRow> Add(const Reading& r);
    // The minute under way, as it stands (for a stop or a look at it).
    std::optional<MinuteRow> Current() const;

  private:
    void Start(int64_t startMs);
    void Fold(const MeasurementValues& values);

    uint8_t m_address;
    std::optional<MinuteRow> m_row;
    MeasurementValues m_sum{};                      // of the known values, for the means
    std::array<int32_t, kQuantityCount> m_known{};  // readings in which each was known
};
