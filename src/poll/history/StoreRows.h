// The SQL of one row of each table, shared by the writer, the thinning and the reads.
#pragma once

#include <utility>
#include <vector>

#include "poll/history/PendingRows.h"
#include "poll/history/Sqlite.h"

void InsertMinute(SqliteStatement& insert, const MinuteRow& row);
void InsertRaw(SqliteStatement& insert, const RawRow& row);
void InsertDemand(SqliteStatement& insert, const DemandInterval& d);
extern const char* const kInsertMinute;
extern const char* const kInsertRaw;
extern const char* const kInsertDemand;

// One meter's rows of one step with start in [fromMs, toMs), oldest first.
std::vector<MinuteRow> SelectMinutes(const SqliteDb& db, uint8_t address, int32_t stepS,
                                     int64_t fromMs, int64_t toMs);
std::vector<std::pair<int64_t, MeasurementValues>> SelectRaw(const SqliteDb& db, uint8_t address,
                                                             int64_t fromMs);
std::vector<DemandInterval> SelectDemands(const SqliteDb& db, uint8_t address, int64_t fromMs,
                                          int64_t toMs);
