// The writer's connection and its one transaction per commit: the waiting rows, then the
// retention. Used by the writer thread alone.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "poll/history/PendingRows.h"
#include "poll/history/Sqlite.h"
#include "poll/history/StoreRetention.h"

class StoreWriter {
  public:
    StoreWriter(std::string path, RetentionRules rules) : m_path(std::move(path)), m_rules(rules) {}

    // Opens the file for writing, creating it and its tables, unless it is open. Throws
    // SqliteError (SQLITE_READONLY for a file it may only read).
    void Connect();
    // All or nothing: throws with nothing written, and the next call connects anew, so that
    // a file made writable again, or a disk with room again, is seen.
    void Write(const PendingRows& rows, int64_t nowMs);

  private:
    void WriteRows(const PendingRows& rows);

    std::string m_path;
    RetentionRules m_rules;
    std::unique_ptr<SqliteDb> m_db;
    KnownMeters m_meters;
    std::optional<int64_t> m_newestRawMs;
};
