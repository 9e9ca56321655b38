// A thin hold on SQLite's C interface: a connection and a statement that close themselves,
// and every failure as an SqliteError that keeps SQLite's code (full, read-only, corrupt).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

struct SqliteError : std::runtime_error {
    SqliteError(int code, const std::string& what) : std::runtime_error(what), code(code) {}
    int code;  // SQLite's extended result code
    int primary() const { return code & 0xff; }
};

class SqliteDb {
  public:
    SqliteDb(const std::string& path, int flags);
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    void Exec(const char* sql);
    bool ReadOnly() const { return sqlite3_db_readonly(m_db, "main") == 1; }
    sqlite3* handle() const { return m_db; }
    [[noreturn]] void Fail(int code) const;

  private:
    sqlite3* m_db = nullptr;
};

class SqliteStatement {
  public:
    SqliteStatement(const SqliteDb& db, const char* sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    SqliteStatement& Bind(int index, int64_t value);
    SqliteStatement& Bind(int index, double value);  // NaN is stored as NULL
    SqliteStatement& Bind(int index, std::string_view text);
    SqliteStatement& BindBlob(int index, std::string_view bytes);
    bool Step();  // true while a row is there
    void Run();   // steps to the end and resets for the next use
    void Reset();

    int64_t Int(int column) const { return sqlite3_column_int64(m_stmt, column); }
    double Real(int column) const;  // NULL reads as NaN
    bool IsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    std::string Text(int column) const;
    std::string_view Blob(int column) const;

  private:
    const SqliteDb& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};
