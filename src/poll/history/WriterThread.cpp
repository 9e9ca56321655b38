#include "poll/history/WriterThread.h"

#include <chrono>

WriterThread::WriterThread(const StoreOptions& o, HistoryStore::Notice notice)
    : m_options(o),
      m_notice(std::move(notice)),
      m_writer(o.path, RetentionRules{o.days, o.minuteDays, o.rawKeepMs}) {}

WriterThread::~WriterThread() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
}

bool WriterThread::Connect(std::string& error) {
    try {
        m_writer.Connect();
    } catch (const SqliteError& e) {
        if (e.primary() == SQLITE_CANTOPEN || e.primary() == SQLITE_MISMATCH) {
            error = m_options.path + ": " + e.what();
            return false;
        }
        Failed(e);
    }
    return true;
}

void WriterThread::Start() {
    m_thread = std::thread([this] { Run(); });
}

void WriterThread::Put(const MinuteRow& row) {
    std::lock_guard lock(m_mutex);
    m_pending.minutes.push_back(row);
    Queued();
}

void WriterThread::PutRaw(const RawRow& row) {
    std::lock_guard lock(m_mutex);
    m_pending.raw.push_back(row);
    Queued();
}

void WriterThread::PutDemand(const DemandInterval& d) {
    std::lock_guard lock(m_mutex);
    m_pending.demands.push_back(d);
    Queued();
}

void WriterThread::Queued() {
    m_dropped += m_pending.Trim(m_options.maxQueued);
}

void WriterThread::Commit() {
    {
        std::lock_guard lock(m_mutex);
        ++m_asked;
    }
    m_wake.notify_one();
}

bool WriterThread::Flush() {
    std::unique_lock lock(m_mutex);
    const uint64_t ticket = ++m_asked;
    m_wake.notify_one();
    m_done.wait(lock, [&] { return m_tried >= ticket; });
    return m_lastWritten;
}

StoreStatus WriterThread::Status() const {
    std::lock_guard lock(m_mutex);
    return {m_pending.size(), m_dropped, m_failing};
}

void WriterThread::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_asked > m_tried || m_stopping; });
        const uint64_t ticket = m_asked;
        const bool last = m_stopping;
        PendingRows batch = std::move(m_pending);
        m_pending = PendingRows{};
        lock.unlock();
        const bool written = WriteBatch(batch);
        lock.lock();
        if (!written) {
            m_pending.PutInFront(std::move(batch));
            Queued();
        }
        m_lastWritten = written;
        m_tried = ticket;
        m_done.notify_all();
        if (last) return;
    }
}

bool WriterThread::WriteBatch(const PendingRows& batch) {
    try {
        m_writer.Write(batch, Now());
    } catch (const SqliteError& e) {
        Failed(e);
        return false;
    }
    Succeeded();
    return true;
}

void WriterThread::Failed(const SqliteError& e) {
    std::unique_lock lock(m_mutex);
    if (m_failing) return;
    m_failing = true;
    lock.unlock();
    Say("history: cannot write " + m_options.path + ": " + e.what() +
        "; the rows wait in memory and are written when it can");
}

void WriterThread::Succeeded() {
    std::unique_lock lock(m_mutex);
    const uint64_t dropped = m_dropped - m_droppedAtLastWrite;
    m_droppedAtLastWrite = m_dropped;
    if (!m_failing) return;
    m_failing = false;
    lock.unlock();
    std::string text = "history: writing again";
    if (dropped > 0) text += " (" + std::to_string(dropped) + " rows were dropped meanwhile)";
    Say(text);
}

void WriterThread::Say(const std::string& text) {
    if (m_notice) m_notice(text);
}

int64_t WriterThread::Now() const {
    if (m_options.clockMs) return m_options.clockMs();
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
