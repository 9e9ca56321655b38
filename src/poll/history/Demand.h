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
    double activeW = NAN;     // mean total active power over the interval
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
    int64_t runningStartMs = 0;          // the interval under way
    // Its mean so far, and its end value at the latest power.
    double runningW = NAN, predictedW = NAN;
    double runningVA = NAN, predictedVA = NAN;
    DemandPeak dayMax, monthMax;      // of total active power
    DemandPeak dayMaxVA, monthMaxVA;  // of total apparent power
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
