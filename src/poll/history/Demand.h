// Block demand: the mean total active and apparent power over clock-aligned intervals of
// 15, 30 or 60 minutes, the value running in the interval under way and its predicted end
// value, and the highest demand of each day and month. Pure: the store keeps what it makes.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "poll/Reading.h"
#include "poll/history/DemandTypes.h"

class DemandMeter {
  public:
    DemandMeter(uint8_t address, int minutes) : m_address(address), m_minutes(minutes) {}

    // One reading; the interval it closes, if any.
    std::optional<DemandInterval> Add(const Reading& r);
    DemandNow Now() const;
    // Peaks read back from the store at start-up, so that they survive a restart.
    void RestorePeaks(const DemandNow& peaks);

  private:
    // The active energy counters at one reading, what the energy method compares.
    struct Counters {
        int64_t ms = 0;
        double forwardWh = NAN, reverseWh = NAN;
        double stepWh = 0;  // their resolution: energy scale x PT x CT
    };
    // The mean of a quantity over the readings in which it was known.
    struct Mean {
        double sum = 0;
        int32_t count = 0;
        void Add(double v);
        double Value() const;
    };
    // The interval under way.
    struct Running {
        int64_t startMs = 0;
        Counters first, latest;
        double latestW = NAN, latestVA = NAN;  // the latest known total powers
        Mean active, apparent;
        int64_t longestGapMs = 0;  // between its readings
    };

    static Counters CountersAt(const Reading& r);
    int64_t LengthMs() const { return int64_t{m_minutes} * 60000; }
    void Start(const Reading& r, int64_t startMs);
    void Fold(const Reading& r);
    DemandInterval Close(const Reading& next) const;
    double Predicted(double runningMean, double latest) const;
    void KeepPeaks(const DemandInterval& d);
    void ClearPeaksNotOf(int64_t ms);

    uint8_t m_address;
    int m_minutes;
    std::optional<Running> m_run;
    std::optional<DemandInterval> m_last;
    DemandPeak m_dayMax, m_monthMax, m_dayMaxVA, m_monthMaxVA;
};
