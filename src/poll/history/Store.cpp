#include "poll/history/Store.h"

#include <ctime>
#include <filesystem>

#include "poll/history/FileLock.h"
#include "poll/history/StoreReader.h"
#include "poll/history/StoreSchema.h"
#include "poll/history/WriterThread.h"

namespace {

class SqliteHistoryStore final : public HistoryStore {
  public:
    // writer: none for a store that only reads.
    SqliteHistoryStore(const std::string& path, FileLock lock, std::unique_ptr<WriterThread> writer)
        : m_lock(std::move(lock)), m_reader(path), m_writer(std::move(writer)) {}

    StoreReader& reader() { return m_reader; }

    void Put(const MinuteRow& row) override {
        if (m_writer) m_writer->Put(row);
    }
    void PutRaw(uint8_t address, int64_t unixMs, const MeasurementValues& values) override {
        if (m_writer) m_writer->PutRaw({address, unixMs, values});
    }
    void PutDemand(const DemandInterval& d) override {
        if (m_writer) m_writer->PutDemand(d);
    }
    void Commit() override {
        if (m_writer) m_writer->Commit();
    }
    bool Flush() override { return m_writer && m_writer->Flush(); }
    StoreStatus Status() const override { return m_writer ? m_writer->Status() : StoreStatus{}; }

    std::vector<MinuteRow> Rows(const HistoryQuery& q) const override { return m_reader.Rows(q); }
    std::vector<std::pair<int64_t, MeasurementValues>> Raw(uint8_t address,
                                                           int64_t fromMs) const override {
        return m_reader.Raw(address, fromMs);
    }
    std::vector<DemandInterval> Demands(uint8_t address, int64_t fromMs,
                                        int64_t toMs) const override {
        return m_reader.Demands(address, fromMs, toMs);
    }

  private:
    FileLock m_lock;  // declared first: released last, after the writer's last commit
    StoreReader m_reader;
    std::unique_ptr<WriterThread> m_writer;
};

// Empty when the file is missing or sound (or fails otherwise: the writer says so);
// else what is wrong with it.
std::string Damage(const std::string& path) {
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) return {};
    try {
        SqliteDb db(path, SQLITE_OPEN_READWRITE);
        return QuickCheck(db);
    } catch (const SqliteError& e) {
        return IsDamage(e) ? e.what() : std::string();
    }
}

// A damaged file is kept for a look, and the poller goes on with a new one.
bool SetAsideIfDamaged(const std::string& path, const HistoryStore::Notice& notice,
                       std::string& error) {
    const std::string damage = Damage(path);
    if (damage.empty()) return true;
    try {
        const std::string aside = MoveAside(path, int64_t(std::time(nullptr)));
        if (notice)
            notice("history: " + path + " is damaged (" + damage + "); moved to " + aside +
                   ", starting a new file");
    } catch (const std::filesystem::filesystem_error& e) {
        error = path + " is damaged (" + damage + ") and cannot be moved aside: " + e.what();
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<HistoryStore> HistoryStore::Open(const StoreOptions& o, Notice notice,
                                                 std::string& error) {
    FileLock lock;
    if (!lock.Take(o.path + ".lock", o.path, error)) return nullptr;
    if (!SetAsideIfDamaged(o.path, notice, error)) return nullptr;
    auto writer = std::make_unique<WriterThread>(o, std::move(notice));
    if (!writer->Connect(error)) return nullptr;
    writer->Start();
    return std::make_unique<SqliteHistoryStore>(o.path, std::move(lock), std::move(writer));
}

std::unique_ptr<HistoryStore> HistoryStore::OpenForReading(const std::string& path,
                                                           std::string& error) {
    auto store = std::make_unique<SqliteHistoryStore>(path, FileLock{}, nullptr);
    if (!store->reader().Check(error)) return nullptr;
    return store;
}
