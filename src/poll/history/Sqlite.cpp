#include "poll/history/Sqlite.h"

#include <cmath>
#include <cstring>

SqliteDb::SqliteDb(const std::string& path, int flags) {
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string why = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        const int code = m_db ? sqlite3_extended_errcode(m_db) : rc;
        sqlite3_close(m_db);
        m_db = nullptr;
        throw SqliteError(code, why);
    }
    sqlite3_extended_result_codes(m_db, 1);
    // A reader beside the writer, or a checkpoint, holds a lock for moments only.
    sqlite3_busy_timeout(m_db, 5000);
}

SqliteDb::~SqliteDb() {
    sqlite3_close_v2(m_db);
}

void SqliteDb::Exec(const char* sql) {
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) Fail(rc);
}

void SqliteDb::Fail(int code) const {
    const int extended = sqlite3_extended_errcode(m_db);
    std::string why = sqlite3_errmsg(m_db);
    // "disk I/O error" alone does not tell a full disk from a file size limit.
    if (const int os = sqlite3_system_errno(m_db); os != 0 && (extended & 0xff) != SQLITE_CORRUPT)
        why += std::string(" (") + std::strerror(os) + ")";
    throw SqliteError(extended ? extended : code, why);
}

SqliteStatement::SqliteStatement(const SqliteDb& db, const char* sql) : m_db(db) {
    const int rc = sqlite3_prepare_v2(db.handle(), sql, -1, &m_stmt, nullptr);
    if (rc != SQLITE_OK) db.Fail(rc);
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(m_stmt);
}

SqliteStatement& SqliteStatement::Bind(int index, int64_t value) {
    sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, double value) {
    if (std::isnan(value))
        sqlite3_bind_null(m_stmt, index);
    else
        sqlite3_bind_double(m_stmt, index, value);
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, std::string_view text) {
    sqlite3_bind_text(m_stmt, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
    return *this;
}

SqliteStatement& SqliteStatement::BindBlob(int index, std::string_view bytes) {
    sqlite3_bind_blob(m_stmt, index, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
    return *this;
}

bool SqliteStatement::Step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3_reset(m_stmt);
    m_db.Fail(rc);
}

void SqliteStatement::Run() {
    while (Step()) {
    }
    Reset();
}

void SqliteStatement::Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

double SqliteStatement::Real(int column) const {
    return IsNull(column) ? NAN : sqlite3_column_double(m_stmt, column);
}

std::string SqliteStatement::Text(int column) const {
    const auto* text = sqlite3_column_text(m_stmt, column);
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

std::string_view SqliteStatement::Blob(int column) const {
    const void* data = sqlite3_column_blob(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data ? std::string_view(static_cast<const char*>(data), size_t(size))
                : std::string_view();
}
