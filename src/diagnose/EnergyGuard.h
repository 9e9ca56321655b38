// Energy counters as they are published: never lower than before. A counter that steps
// back is held at its last value; one that stays lower for three readings has been reset
// (a new meter, a cleared counter) and is published from there on.
#pragma once

#include <string>
#include <vector>

#include "diagnose/Finding.h"
#include "measure/MeasurementBlock.h"

constexpr int kReadingsToReset = 3;

class EnergyGuard {
  public:
    struct Outcome {
        int held = 0;                     // counters held at their last value
        std::vector<std::string> resets;  // counters taken as reset, one sentence each
        std::vector<Finding> backwards;   // energy-backwards, one per counter that stepped back
    };
    // The reading's counters as they may be published; what happened to them.
    Outcome Apply(MeasurementValues& values);
    uint64_t Held() const { return m_held; }
    uint64_t Resets() const { return m_resets; }

  private:
    struct Counter {
        double published = -1;  // -1: none yet
        int lower = 0;          // readings in a row below it
    };
    Counter m_counters[kQuantityCount];
    uint64_t m_held = 0, m_resets = 0;
};
