// The thread that writes: Put only queues under a mutex; each commit hands what waits to
// the thread as one batch. A batch the disk refuses goes back in front of the queue, the
// failure is said once, and so is the first write that works again.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "poll/history/PendingRows.h"
#include "poll/history/Store.h"
#include "poll/history/StoreWriter.h"

class WriterThread {
  public:
    WriterThread(const StoreOptions& o, HistoryStore::Notice notice);
    ~WriterThread();  // a last try at what waits, then the thread ends

    // Before Start: false and why when the file cannot be opened for writing at all. A
    // file that refuses writes for now (read-only, full) is said and tried again later.
    bool Connect(std::string& error);
    void Start();

    void Put(const MinuteRow& row);
    void PutRaw(const RawRow& row);
    void PutDemand(const DemandInterval& d);
    void Commit();
    bool Flush();
    StoreStatus Status() const;

  private:
    void Run();
    bool WriteBatch(const PendingRows& batch);
    void Failed(const SqliteError& e);
    void Succeeded();
    void Say(const std::string& text);  // on the writer thread, or at Open
    void Queued();                      // with m_mutex held
    int64_t Now() const;

    StoreOptions m_options;
    HistoryStore::Notice m_notice;
    StoreWriter m_writer;  // the thread's alone

    mutable std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    PendingRows m_pending;
    uint64_t m_dropped = 0;
    uint64_t m_asked = 0, m_tried = 0;  // commits asked for and tried
    bool m_lastWritten = false, m_stopping = false, m_failing = false;
    uint64_t m_droppedAtLastWrite = 0;
    std::thread m_thread;
};
