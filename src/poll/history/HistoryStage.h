// Between the reading filter and the outputs: block demand attached to every reading, and
// with a store the minutes, the raw readings and the demand intervals handed to it, one
// commit a minute. The peaks of the day and the month are read back from the store at the
// start, so that a restart keeps them.
#pragma once

#include <functional>
#include <map>
#include <memory>

#include "poll/history/Demand.h"
#include "poll/history/Minute.h"
#include "poll/history/Store.h"

class HistoryStage : public IReadingSink {
  public:
    using Notice = std::function<void(const std::string&)>;
    // store: none for demand alone.
    HistoryStage(std::vector<IReadingSink*> sinks, const std::vector<uint8_t>& addresses,
                 int demandMinutes, HistoryStore* store, int64_t nowUnixMs);

    void OnReading(const Reading& reading) override;
    void OnRoundEnd(const std::vector<MeterHealth>& health) override;
    // At the end: what waits is written, the minute under way as far as it got.
    void Finish();

  private:
    struct Meter {
        MinuteAggregator minutes;
        DemandMeter demand;
    };
    std::vector<IReadingSink*> m_sinks;
    int m_minutes;
    HistoryStore* m_store;
    std::map<uint8_t, Meter> m_meters;
    int64_t m_lastCommitMinute = 0;
    int64_t m_lastReadingMs = 0;
};

// The peaks of the day and the month of nowUnixMs (local time) among stored intervals.
DemandNow PeaksOf(const std::vector<DemandInterval>& intervals, int64_t nowUnixMs);
