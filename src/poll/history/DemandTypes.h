// What block demand gives: the intervals closed, the interval under way and the peaks of
// the day and the month. The readings carry it to the outputs.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

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
    int32_t minutes = 15;                // the intervals' length
    std::optional<DemandInterval> last;  // the interval closed last
    int64_t runningStartMs = 0;          // the interval under way
    double runningW = NAN,
           predictedW = NAN;  // its mean so far, and its end value at the latest power
    double runningVA = NAN, predictedVA = NAN;
    DemandPeak dayMax, monthMax;      // of total active power
    DemandPeak dayMaxVA, monthMaxVA;  // of total apparent power
};
