// Block demand: the mean total active and apparent power over clock-aligned intervals of
// 15, 30 or 60 minutes, the value running in the interval under way and its predicted end
// value, and the highest demand of each day and month. Pure: the store keeps what it makes.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "poll/Reading.h"

struct DemandInterval {
    uint8_t address = 0;
    int64_t startMs = 0;  // clock-aligned (UTC epoch multiples of the length)
    int32_t minutes = 15;
    double activeW = NAN;    // mean total active power over the interval
    double apparentVA = NAN;  // mean total apparent power
    // "energy": from the forward and reverse active energy counters' increase; "mean": from
    // the mean of the readings (the counter's step too coarse, or not known).
    std::string activeMethod;
    bool complete = false;  // readings from its start to its end (else a part of it)
};

// The highest complete interval of a day or a month (local time of the box).
struct DemandPeak {
    double valueW = NAN;
    int64_t intervalStartMs = 0;
};

struct DemandNow {
    std::optional<DemandInterval> last;  // the interval closed last
    int64_t runningStartMs = 0;           // the interval under way
    double runningW = NAN, predictedW = NAN;  // its mean so far, and its end value at the latest power
    double runningVA = NAN, predictedVA = NAN;
    DemandPeak dayMax, monthMax;           // of total active power
    DemandPeak dayMaxVA, monthMaxVA;       // of total apparent power
};

class DemandMeter {
  public:
    DemandMeter(uint8_t address, int minutes) : m_address(address), m_minutes(minutes) {}

    // One reading; the interval it closes, if any.
    std::optional<DemandInterval> Add(const Reading& r);
    DemandNow Now() const;
    // Peaks read back from the store at start-up, so that they survive a restart.
    void RestorePeaks(const DemandNow& peaks);

  private:
    // (implementation detail: the interval under way, its first and last readings'
    // counters and times, sums for the means, the day's and month's peaks)
    uint8_t m_address;
    int m_minutes;
};
