#include "poll/history/StoreSchema.h"

#include <cstdio>
#include <filesystem>

namespace {

// The rows' keys lead with the meter, so that every read and every deletion of old rows
// is a range of one index. Values are BLOBs of RowCodec's layouts.
constexpr const char* kTables = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;
CREATE TABLE minutes(
    address INTEGER NOT NULL, step_s INTEGER NOT NULL, start_ms INTEGER NOT NULL,
    count INTEGER NOT NULL,
    min_values BLOB NOT NULL, mean_values BLOB NOT NULL,
    max_values BLOB NOT NULL, last_values BLOB NOT NULL,
    PRIMARY KEY(address, step_s, start_ms)) WITHOUT ROWID;
CREATE TABLE raw_readings(
    address INTEGER NOT NULL, unix_ms INTEGER NOT NULL, values_exact BLOB NOT NULL,
    PRIMARY KEY(address, unix_ms)) WITHOUT ROWID;
CREATE TABLE demand_intervals(
    address INTEGER NOT NULL, start_ms INTEGER NOT NULL, minutes INTEGER NOT NULL,
    active_w REAL, apparent_va REAL, active_method TEXT NOT NULL, complete INTEGER NOT NULL,
    PRIMARY KEY(address, start_ms, minutes)) WITHOUT ROWID;
)sql";

int64_t CountTables(const SqliteDb& db, const char* where) {
    std::string sql = "SELECT count(*) FROM sqlite_master WHERE type = 'table'";
    sql += where;
    SqliteStatement count(db, sql.c_str());
    count.Step();
    return count.Int(0);
}

// 0: no meta table.
int64_t StoredVersion(const SqliteDb& db) {
    if (CountTables(db, " AND name = 'meta'") == 0) return 0;
    SqliteStatement version(db, "SELECT value FROM meta WHERE key = 'schema_version'");
    return version.Step() ? version.Int(0) : 0;
}

[[noreturn]] void Mismatch(const std::string& why) {
    throw SqliteError(SQLITE_MISMATCH, why);
}

void CheckVersion(int64_t version) {
    if (version > kSchemaVersion)
        Mismatch("written by a newer kx880-poll (history version " + std::to_string(version) + ")");
    if (version < kSchemaVersion) Mismatch("not a kx880-poll history");
}

}  // namespace

void SetUpForWriting(SqliteDb& db) {
    db.Exec("PRAGMA journal_mode = WAL");
    db.Exec("PRAGMA synchronous = NORMAL");
}

void CreateOrCheckSchema(SqliteDb& db) {
    if (CountTables(db, "") == 0) {
        db.Exec("BEGIN IMMEDIATE");
        try {
            db.Exec(kTables);
            SqliteStatement version(db, "INSERT INTO meta VALUES ('schema_version', ?)");
            version.Bind(1, int64_t(kSchemaVersion)).Run();
            db.Exec("COMMIT");
        } catch (const SqliteError&) {
            sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        return;
    }
    CheckVersion(StoredVersion(db));
}

void CheckSchemaForReading(const SqliteDb& db) {
    CheckVersion(StoredVersion(db));
}

std::string QuickCheck(const SqliteDb& db) {
    SqliteStatement check(db, "PRAGMA quick_check");
    std::string found;
    while (check.Step()) {
        const std::string line = check.Text(0);
        if (line == "ok") continue;
        found += found.empty() ? line : "; " + line;
    }
    return found;
}

bool IsDamage(const SqliteError& e) {
    return e.primary() == SQLITE_NOTADB || e.primary() == SQLITE_CORRUPT;
}

std::string MoveAside(const std::string& path, int64_t unixSeconds) {
    const std::string aside = path + ".corrupt-" + std::to_string(unixSeconds);
    std::error_code ignored;
    std::filesystem::rename(path, aside);  // throws: a file that cannot move cannot be replaced
    // A log left beside the damaged file belongs to it, not to the new one.
    if (std::filesystem::exists(path + "-wal", ignored))
        std::filesystem::rename(path + "-wal", aside + "-wal", ignored);
    std::filesystem::remove(path + "-shm", ignored);
    return aside;
}
