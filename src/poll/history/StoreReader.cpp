#include "poll/history/StoreReader.h"

#include <algorithm>

#include "poll/history/RowMerge.h"
#include "poll/history/StoreRows.h"
#include "poll/history/StoreSchema.h"

namespace {

bool IsKnownStep(int32_t stepS) {
    return stepS == 60 || stepS == 900 || stepS == 3600 || stepS == 86400;
}

// The minutes and the thinned quarters of one snapshot, so that a thinning committed
// between the two selects counts no row twice.
std::vector<MinuteRow> StoredRows(SqliteDb& db, const HistoryQuery& q) {
    db.Exec("BEGIN");
    std::vector<MinuteRow> rows = SelectMinutes(db, q.address, 60, q.fromMs, q.toMs);
    const std::vector<MinuteRow> quarters = SelectMinutes(db, q.address, 900, q.fromMs, q.toMs);
    db.Exec("COMMIT");
    rows.insert(rows.end(), quarters.begin(), quarters.end());
    std::stable_sort(rows.begin(), rows.end(),
                     [](const MinuteRow& a, const MinuteRow& b) { return a.startMs < b.startMs; });
    return rows;
}

}  // namespace

std::unique_ptr<SqliteDb> StoreReader::Connect() const {
    auto db = std::make_unique<SqliteDb>(m_path, SQLITE_OPEN_READONLY);
    CheckSchemaForReading(*db);
    return db;
}

bool StoreReader::Check(std::string& error) const {
    try {
        Connect();
    } catch (const SqliteError& e) {
        error = m_path + ": " + e.what();
        return false;
    }
    return true;
}

template <typename Result, typename Read>
Result StoreReader::WithDb(Read read) const {
    try {
        return read(*Connect());
    } catch (const SqliteError&) {
        return Result{};
    }
}

std::vector<MinuteRow> StoreReader::Rows(const HistoryQuery& q) const {
    if (!IsKnownStep(q.stepS)) return {};
    return WithDb<std::vector<MinuteRow>>(
        [&](SqliteDb& db) { return AggregateRows(StoredRows(db, q), q.stepS); });
}

std::vector<std::pair<int64_t, MeasurementValues>> StoreReader::Raw(uint8_t address,
                                                                    int64_t fromMs) const {
    return WithDb<std::vector<std::pair<int64_t, MeasurementValues>>>(
        [&](SqliteDb& db) { return SelectRaw(db, address, fromMs); });
}

std::vector<DemandInterval> StoreReader::Demands(uint8_t address, int64_t fromMs,
                                                 int64_t toMs) const {
    return WithDb<std::vector<DemandInterval>>(
        [&](SqliteDb& db) { return SelectDemands(db, address, fromMs, toMs); });
}
