// What each commit does to old rows, in bounded batches so that a commit stays short even
// after a long stop: raw readings older than an hour before the newest go, minutes older
// than a week are thinned to quarter-hour rows, every row older than the kept days goes.
#pragma once

#include <cstdint>
#include <optional>
#include <set>

#include "poll/history/Sqlite.h"

struct RetentionRules {
    int days = 400;
    int minuteDays = 7;
    int64_t rawKeepMs = 3600 * 1000;
};

// The meters each table holds rows of, so that every deletion is a range of one index.
struct KnownMeters {
    std::set<uint8_t> minutes, raw, demands;
};
KnownMeters LoadKnownMeters(const SqliteDb& db);

constexpr int64_t kDeleteBatchRows = 5000;  // per meter, table and step at one commit
constexpr int kThinBatchRows = 2880;        // minutes thinned at one commit, all meters

// Inside the writer's transaction. newestRawMs: none while there are no raw readings.
void ApplyRetention(SqliteDb& db, const KnownMeters& meters, const RetentionRules& rules,
                    int64_t nowMs, std::optional<int64_t> newestRawMs);

// The parts, for the tests. ThinMinutes: how many minute rows it thinned.
void DeleteRowsBefore(SqliteDb& db, const KnownMeters& meters, int64_t beforeMs);
int ThinMinutes(SqliteDb& db, const std::set<uint8_t>& meters, int64_t beforeMs, int budget);
void DeleteRawBefore(SqliteDb& db, const std::set<uint8_t>& meters, int64_t beforeMs);
