// Findings over time: one stands once it has held through a whole window of readings, and
// clears once it has been absent for a whole window, so that a reading at a boundary does
// not make it come and go. An energy counter's step back is an event: it stands at once.
#pragma once

#include <vector>

#include "diagnose/Finding.h"

class FindingHold {
  public:
    explicit FindingHold(int64_t windowMs) : m_windowMs(windowMs) {}

    // The findings of one reading taken at unixMs. True when what stands changed (a
    // finding came, went or changed its severity).
    bool Update(int64_t unixMs, const std::vector<Finding>& seen);
    // What stands, in the order first seen, each with its latest numbers and its start.
    std::vector<Finding> Standing() const;

  private:
    struct Track {
        Finding latest;
        int64_t since;        // start of its unbroken run
        int64_t absentSince;  // 0 while seen
        bool standing;
    };
    int64_t m_windowMs;
    std::vector<Track> m_tracks;
};
