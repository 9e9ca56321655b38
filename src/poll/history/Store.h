// The history on the box: an SQLite file (WAL) of every meter's minutes, the raw readings
// of the last hour and the demand intervals. Writing happens on a thread of its own, one
// transaction a minute, so that polling never waits for the disk; a full disk or a
// read-only file is reported once, and writing resumes when it can.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "poll/history/Demand.h"
#include "poll/history/Minute.h"

struct StoreOptions {
    std::string path;
    int days = 400;      // older rows are deleted
    int minuteDays = 7;  // minutes older than this are thinned to 15-minute rows
    int64_t rawKeepMs = 3600 * 1000;
    size_t maxQueued = 100000;  // rows kept in memory while the disk refuses them
    // The time the retention counts from (UTC ms); empty: the system clock.
    std::function<int64_t()> clockMs;
};

// How the writing goes, for the poller's health and the tests.
struct StoreStatus {
    size_t queued = 0;     // rows waiting for the writer (not those it is writing)
    uint64_t dropped = 0;  // rows given up since the start, the queue being full
    bool failing = false;  // the last write failed
};

// What an export or a trend asks for: rows of one meter from..to at a step of 60, 900,
// 3600 or 86400 seconds, each the min of the mins, the mean of the means (weighted by
// their readings) and the max of the maxes of the rows it covers.
struct HistoryQuery {
    uint8_t address = 0;
    int64_t fromMs = 0, toMs = 0;  // [from, to)
    int32_t stepS = 60;
};

class HistoryStore {
  public:
    using Notice = std::function<void(const std::string&)>;
    virtual ~HistoryStore() = default;

    // Opens or creates the file. A file that is not an SQLite database, or is corrupt, is
    // renamed to PATH.corrupt-<time> (said through notice) and a new one started; a file
    // another poller has open is refused (nothing, and why in error): the poller holds an
    // flock on PATH.lock beside it. The notice is called on the writer's thread.
    static std::unique_ptr<HistoryStore> Open(const StoreOptions& o, Notice notice,
                                              std::string& error);
    // Read-only, for the history command: nothing and why when it cannot be read. Takes no
    // lock: it may read beside a poller. Its Put, PutRaw and PutDemand do nothing.
    static std::unique_ptr<HistoryStore> OpenForReading(const std::string& path,
                                                        std::string& error);

    // Handed to the writer thread; never blocks on the disk. Rows wait in memory (bounded:
    // the oldest raw readings give way first) while the disk refuses them.
    virtual void Put(const MinuteRow& row) = 0;
    virtual void PutRaw(uint8_t address, int64_t unixMs, const MeasurementValues& values) = 0;
    virtual void PutDemand(const DemandInterval& d) = 0;
    // Writes what waits now (called once a minute by the poller and at its end); returns at
    // once, the writer writes in one transaction. On destruction the store commits what
    // waits and waits for the writer.
    virtual void Commit() = 0;
    // Commit, and wait until the writer has tried: true when it was written.
    virtual bool Flush() = 0;
    virtual StoreStatus Status() const = 0;

    // Reads (from any thread, on a connection of their own). Rows: a step of 60 over
    // thinned quarter hours gives those quarter hours as they are (stepS 900); the last
    // values are the latest known ones of the rows covered.
    virtual std::vector<MinuteRow> Rows(const HistoryQuery& q) const = 0;
    virtual std::vector<std::pair<int64_t, MeasurementValues>> Raw(uint8_t address,
                                                                   int64_t fromMs) const = 0;
    virtual std::vector<DemandInterval> Demands(uint8_t address, int64_t fromMs,
                                                int64_t toMs) const = 0;
};
