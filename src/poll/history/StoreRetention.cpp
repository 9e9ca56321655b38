#include "poll/history/StoreRetention.h"

#include <optional>
#include <string>

#include "poll/history/RowMerge.h"
#include "poll/history/StoreRows.h"

namespace {

constexpr int64_t kDayMs = 86400 * 1000;
constexpr int32_t kQuarterS = 900;

std::set<uint8_t> MetersIn(const SqliteDb& db, const std::string& table) {
    // One seek per meter instead of a scan of the whole table.
    SqliteStatement next(
        db,
        ("SELECT address FROM " + table + " WHERE address > ? ORDER BY address LIMIT 1").c_str());
    std::set<uint8_t> meters;
    int64_t after = -1;
    for (;;) {
        next.Bind(1, after);
        if (!next.Step()) break;
        after = next.Int(0);
        meters.insert(uint8_t(after));
        next.Reset();
    }
    return meters;
}

// Deletes at most kDeleteBatchRows of the oldest rows before beforeMs; the rest at the
// next commits.
void DeleteOldest(SqliteStatement& del, uint8_t address, int64_t step, int64_t beforeMs) {
    del.Bind(1, int64_t(address)).Bind(2, step).Bind(3, beforeMs).Bind(4, kDeleteBatchRows);
    del.Run();
}

std::optional<int64_t> OldestMinute(SqliteStatement& oldest, uint8_t address) {
    oldest.Bind(1, int64_t(address));
    std::optional<int64_t> start;
    if (oldest.Step()) start = oldest.Int(0);
    oldest.Reset();
    return start;
}

// The minutes of one quarter hour become one row. A quarter thinned before (its minutes
// came late) is folded in behind them: its last values stay the quarter's.
int ThinQuarter(SqliteDb& db, uint8_t address, int64_t quarterStart) {
    const int64_t quarterEnd = quarterStart + kQuarterS * 1000;
    std::vector<MinuteRow> rows = SelectMinutes(db, address, 60, quarterStart, quarterEnd);
    const std::vector<MinuteRow> thinned =
        SelectMinutes(db, address, kQuarterS, quarterStart, quarterStart + 1);
    const int minutes = int(rows.size());
    rows.insert(rows.end(), thinned.begin(), thinned.end());
    SqliteStatement insert(db, kInsertMinute);
    InsertMinute(insert, CombineRows(rows, quarterStart, kQuarterS));
    SqliteStatement del(db,
                        "DELETE FROM minutes WHERE address = ? AND step_s = 60 AND "
                        "start_ms >= ? AND start_ms < ?");
    del.Bind(1, int64_t(address)).Bind(2, quarterStart).Bind(3, quarterEnd).Run();
    return minutes;
}

}  // namespace

KnownMeters LoadKnownMeters(const SqliteDb& db) {
    return {MetersIn(db, "minutes"), MetersIn(db, "raw_readings"),
            MetersIn(db, "demand_intervals")};
}

void DeleteRowsBefore(SqliteDb& db, const KnownMeters& meters, int64_t beforeMs) {
    // The bound: below the start of the batch's last row, when there are that many.
    SqliteStatement minutes(
        db,
        "DELETE FROM minutes WHERE address = ?1 AND step_s = ?2 AND start_ms < min(?3, "
        "ifnull((SELECT start_ms FROM minutes WHERE address = ?1 AND step_s = ?2 AND start_ms "
        "< ?3 ORDER BY start_ms LIMIT 1 OFFSET ?4), ?3))");
    for (uint8_t address : meters.minutes)
        for (int64_t step : {60, 900}) DeleteOldest(minutes, address, step, beforeMs);
    SqliteStatement demands(
        db,
        "DELETE FROM demand_intervals WHERE address = ?1 AND start_ms < min(?2, "
        "ifnull((SELECT start_ms FROM demand_intervals WHERE address = ?1 AND start_ms < ?2 "
        "ORDER BY start_ms LIMIT 1 OFFSET ?3), ?2))");
    for (uint8_t address : meters.demands) {
        demands.Bind(1, int64_t(address)).Bind(2, beforeMs).Bind(3, kDeleteBatchRows);
        demands.Run();
    }
}

int ThinMinutes(SqliteDb& db, const std::set<uint8_t>& meters, int64_t beforeMs, int budget) {
    const int64_t thinBefore = StepStart(beforeMs, kQuarterS);  // whole quarters only
    SqliteStatement oldest(db,
                           "SELECT start_ms FROM minutes WHERE address = ? AND step_s = 60 "
                           "ORDER BY start_ms LIMIT 1");
    int thinned = 0;
    bool more = true;
    while (more && thinned < budget) {
        more = false;  // a quarter of each meter in turn, so that none waits for another
        for (uint8_t address : meters) {
            const auto start = OldestMinute(oldest, address);
            if (!start || *start >= thinBefore) continue;
            thinned += ThinQuarter(db, address, StepStart(*start, kQuarterS));
            more = true;
            if (thinned >= budget) break;
        }
    }
    return thinned;
}

void DeleteRawBefore(SqliteDb& db, const std::set<uint8_t>& meters, int64_t beforeMs) {
    SqliteStatement del(db, "DELETE FROM raw_readings WHERE address = ? AND unix_ms < ?");
    for (uint8_t address : meters) del.Bind(1, int64_t(address)).Bind(2, beforeMs).Run();
}

void ApplyRetention(SqliteDb& db, const KnownMeters& meters, const RetentionRules& rules,
                    int64_t nowMs, std::optional<int64_t> newestRawMs) {
    DeleteRowsBefore(db, meters, nowMs - rules.days * kDayMs);
    ThinMinutes(db, meters.minutes, nowMs - rules.minuteDays * kDayMs, kThinBatchRows);
    if (newestRawMs) DeleteRawBefore(db, meters.raw, *newestRawMs - rules.rawKeepMs);
}
