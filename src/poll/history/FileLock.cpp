#include "poll/history/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

FileLock::~FileLock() {
    if (m_fd >= 0) close(m_fd);
}

FileLock::FileLock(FileLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    std::swap(m_fd, other.m_fd);
    return *this;
}

bool FileLock::Take(const std::string& lockPath, const std::string& what, std::string& error) {
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open " + lockPath + ": " + std::strerror(errno);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        close(fd);
        error = why == EWOULDBLOCK ? what + " is already in use by another kx880-poll"
                                   : "cannot lock " + lockPath + ": " + std::strerror(why);
        return false;
    }
    if (m_fd >= 0) close(m_fd);
    m_fd = fd;
    return true;
}
