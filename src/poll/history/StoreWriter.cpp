#include "poll/history/StoreWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "poll/history/RowMerge.h"
#include "poll/history/StoreRows.h"
#include "poll/history/StoreSchema.h"

namespace {

std::optional<int64_t> NewestRaw(const SqliteDb& db) {
    SqliteStatement newest(db, "SELECT max(unix_ms) FROM raw_readings");
    if (!newest.Step() || newest.IsNull(0)) return std::nullopt;
    return newest.Int(0);
}

// SQLite makes the log and its index with the mode the file has then: made while the file
// was read-only, they would keep refusing writes once it is writable again.
void LetSideFilesFollow(const std::string& path) {
    struct stat db {};
    if (stat(path.c_str(), &db) != 0) return;
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string side = path + suffix;
        if (access(side.c_str(), F_OK) == 0 && access(side.c_str(), W_OK) != 0)
            chmod(side.c_str(), db.st_mode & 0777);  // when it fails, the write says why
    }
}

void Rollback(SqliteDb& db) {
    sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace

void StoreWriter::Connect() {
    if (m_db) return;
    auto db = std::make_unique<SqliteDb>(m_path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (db->ReadOnly()) throw SqliteError(SQLITE_READONLY, "the file is read-only");
    LetSideFilesFollow(m_path);  // before the first read opens them
    SetUpForWriting(*db);
    CreateOrCheckSchema(*db);
    m_meters = LoadKnownMeters(*db);
    m_newestRawMs = NewestRaw(*db);
    m_db = std::move(db);
}

void StoreWriter::Write(const PendingRows& rows, int64_t nowMs) {
    try {
        Connect();
        m_db->Exec("BEGIN IMMEDIATE");
        WriteRows(rows);
        ApplyRetention(*m_db, m_meters, m_rules, nowMs, m_newestRawMs);
        m_db->Exec("COMMIT");
    } catch (const SqliteError&) {
        if (m_db) Rollback(*m_db);
        m_db.reset();
        throw;
    }
}

void StoreWriter::WriteRows(const PendingRows& rows) {
    SqliteStatement minute(*m_db, kInsertMinute);
    for (const MinuteRow& row : rows.minutes) {
        // A minute already there (the part before a stop and a restart within it) takes
        // this one in, rather than giving way to it.
        const auto stored =
            SelectMinutes(*m_db, row.address, row.stepS, row.startMs, row.startMs + 1);
        InsertMinute(minute,
                     stored.empty() ? row : CombineRows({stored[0], row}, row.startMs, row.stepS));
        m_meters.minutes.insert(row.address);
    }
    SqliteStatement raw(*m_db, kInsertRaw);
    for (const RawRow& row : rows.raw) {
        InsertRaw(raw, row);
        m_meters.raw.insert(row.address);
        m_newestRawMs = std::max(m_newestRawMs.value_or(row.unixMs), row.unixMs);
    }
    SqliteStatement demand(*m_db, kInsertDemand);
    for (const DemandInterval& d : rows.demands) {
        InsertDemand(demand, d);
        m_meters.demands.insert(d.address);
    }
}
