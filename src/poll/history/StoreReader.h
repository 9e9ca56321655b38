// The reads, each on a read-only connection of its own: WAL lets them run beside the writer,
// each on a snapshot of the last commit. A connection kept open would keep SQLite's shared
// index of the log as it found it (read-only, while the file was), for the writer too.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "poll/history/Sqlite.h"
#include "poll/history/Store.h"

class StoreReader {
  public:
    explicit StoreReader(std::string path) : m_path(std::move(path)) {}
    // False and why when the file cannot be read as a history.
    bool Check(std::string& error) const;

    // Nothing when the file cannot be read (a poller's file not made yet, say).
    std::vector<MinuteRow> Rows(const HistoryQuery& q) const;
    std::vector<std::pair<int64_t, MeasurementValues>> Raw(uint8_t address, int64_t fromMs) const;
    std::vector<DemandInterval> Demands(uint8_t address, int64_t fromMs, int64_t toMs) const;

  private:
    template <typename Result, typename Read>
    Result WithDb(Read read) const;
    std::unique_ptr<SqliteDb> Connect() const;

    std::string m_path;
};
