// One poller per history file: an exclusive flock on PATH.lock beside the database. A lock
// file of its own, not the database, because SQLite's own POSIX locks live on the database
// (and on NFS flock is emulated with them), and because a damaged database is renamed
// aside while the lock must stay. The kernel drops the lock with the process, kill -9 too.
#pragma once

#include <string>

class FileLock {
  public:
    FileLock() = default;
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;

    // False and why when the file cannot be made or another process holds it.
    bool Take(const std::string& lockPath, const std::string& what, std::string& error);

  private:
    int m_fd = -1;
};
