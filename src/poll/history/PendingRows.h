// The rows that wait for the writer. Bounded, so that a disk that refuses them for days
// cannot eat the box's memory: past the bound the oldest raw readings give way first (the
// minutes hold what they said), then the oldest minutes, then the oldest demand intervals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "poll/history/Demand.h"
#include "poll/history/Minute.h"

struct RawRow {
    uint8_t address = 0;
    int64_t unixMs = 0;
    MeasurementValues values{};
};

struct PendingRows {
    std::deque<MinuteRow> minutes;
    std::deque<RawRow> raw;
    std::deque<DemandInterval> demands;

    size_t size() const { return minutes.size() + raw.size() + demands.size(); }
    bool empty() const { return size() == 0; }
    // older's rows go before this one's (a batch the disk refused, back in front).
    void PutInFront(PendingRows&& older);
    // Drops rows beyond limit; how many it dropped.
    uint64_t Trim(size_t limit);
};
