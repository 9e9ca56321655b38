#include "poll/history/StoreRows.h"

#include "poll/history/RowCodec.h"

const char* const kInsertMinute =
    "INSERT OR REPLACE INTO minutes (address, step_s, start_ms, count, min_values, "
    "mean_values, max_values, last_values) VALUES (?, ?, ?, ?, ?, ?, ?, ?)";
const char* const kInsertRaw =
    "INSERT OR REPLACE INTO raw_readings (address, unix_ms, values_exact) VALUES (?, ?, ?)";
const char* const kInsertDemand =
    "INSERT OR REPLACE INTO demand_intervals (address, start_ms, minutes, active_w, "
    "apparent_va, active_method, complete) VALUES (?, ?, ?, ?, ?, ?, ?)";

void InsertMinute(SqliteStatement& insert, const MinuteRow& row) {
    insert.Bind(1, int64_t(row.address)).Bind(2, int64_t(row.stepS)).Bind(3, row.startMs);
    insert.Bind(4, int64_t(row.count));
    insert.BindBlob(5, EncodeCompact(row.min)).BindBlob(6, EncodeCompact(row.mean));
    insert.BindBlob(7, EncodeCompact(row.max)).BindBlob(8, EncodeCompact(row.last));
    insert.Run();
}

void InsertRaw(SqliteStatement& insert, const RawRow& row) {
    insert.Bind(1, int64_t(row.address)).Bind(2, row.unixMs);
    insert.BindBlob(3, EncodeExact(row.values)).Run();
}

void InsertDemand(SqliteStatement& insert, const DemandInterval& d) {
    insert.Bind(1, int64_t(d.address)).Bind(2, d.startMs).Bind(3, int64_t(d.minutes));
    insert.Bind(4, d.activeW).Bind(5, d.apparentVA).Bind(6, std::string_view(d.activeMethod));
    insert.Bind(7, int64_t(d.complete ? 1 : 0)).Run();
}

namespace {

// A row whose values are not of the layout (a damaged cell) is left out.
std::optional<MinuteRow> MinuteFrom(const SqliteStatement& s, uint8_t address) {
    MinuteRow row;
    row.address = address;
    row.stepS = int32_t(s.Int(0));
    row.startMs = s.Int(1);
    row.count = int32_t(s.Int(2));
    MeasurementValues* targets[] = {&row.min, &row.mean, &row.max, &row.last};
    for (int i = 0; i < 4; ++i) {
        auto values = DecodeCompact(s.Blob(3 + i));
        if (!values) return std::nullopt;
        *targets[i] = *values;
    }
    return row;
}

}  // namespace

std::vector<MinuteRow> SelectMinutes(const SqliteDb& db, uint8_t address, int32_t stepS,
                                     int64_t fromMs, int64_t toMs) {
    SqliteStatement select(db,
                           "SELECT step_s, start_ms, count, min_values, mean_values, max_values, "
                           "last_values FROM minutes WHERE address = ? AND step_s = ? AND "
                           "start_ms >= ? AND start_ms < ? ORDER BY start_ms");
    select.Bind(1, int64_t(address)).Bind(2, int64_t(stepS)).Bind(3, fromMs).Bind(4, toMs);
    std::vector<MinuteRow> rows;
    while (select.Step())
        if (auto row = MinuteFrom(select, address)) rows.push_back(*row);
    return rows;
}

std::vector<std::pair<int64_t, MeasurementValues>> SelectRaw(const SqliteDb& db, uint8_t address,
                                                             int64_t fromMs) {
    SqliteStatement select(db,
                           "SELECT unix_ms, values_exact FROM raw_readings WHERE address = ? "
                           "AND unix_ms >= ? ORDER BY unix_ms");
    select.Bind(1, int64_t(address)).Bind(2, fromMs);
    std::vector<std::pair<int64_t, MeasurementValues>> rows;
    while (select.Step())
        if (auto values = DecodeExact(select.Blob(1))) rows.emplace_back(select.Int(0), *values);
    return rows;
}

std::vector<DemandInterval> SelectDemands(const SqliteDb& db, uint8_t address, int64_t fromMs,
                                          int64_t toMs) {
    SqliteStatement select(db,
                           "SELECT start_ms, minutes, active_w, apparent_va, active_method, "
                           "complete FROM demand_intervals WHERE address = ? AND start_ms >= ? "
                           "AND start_ms < ? ORDER BY start_ms, minutes");
    select.Bind(1, int64_t(address)).Bind(2, fromMs).Bind(3, toMs);
    std::vector<DemandInterval> rows;
    while (select.Step()) {
        DemandInterval d;
        d.address = address;
        d.startMs = select.Int(0);
        d.minutes = int32_t(select.Int(1));
        d.activeW = select.Real(2);
        d.apparentVA = select.Real(3);
        d.activeMethod = select.Text(4);
        d.complete = select.Int(5) != 0;
        rows.push_back(d);
    }
    return rows;
}
