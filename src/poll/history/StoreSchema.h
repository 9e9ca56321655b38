// The file's tables and its settings, and what is done with a file that is not a database
// or is damaged.
#pragma once

#include <string>

#include "poll/history/Sqlite.h"

constexpr int kSchemaVersion = 1;

// WAL, so that a reader runs beside the writer and a kill loses only what was not
// committed; synchronous=NORMAL: a commit costs no fsync, a power cut may lose the last ones.
void SetUpForWriting(SqliteDb& db);
// Creates the tables of a new file; throws for a file of something else or of a newer
// poller (an SqliteError with the code SQLITE_MISMATCH).
void CreateOrCheckSchema(SqliteDb& db);
// For a reader: throws as above, also for a file without the tables.
void CheckSchemaForReading(const SqliteDb& db);

// Empty when the file is sound; else what is wrong with it. Throws SQLITE_NOTADB or
// SQLITE_CORRUPT like any other failure (those mean damaged too: see IsDamage).
std::string QuickCheck(const SqliteDb& db);
bool IsDamage(const SqliteError& e);

// Renames path, and its write-ahead log, to path.corrupt-<unix seconds>; the new name.
std::string MoveAside(const std::string& path, int64_t unixSeconds);
