#include "sim/LineClock.h"

#include <algorithm>
#include <chrono>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

double SimNowMs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count() / 1000.0;
}

timespec ServeWait(double nowMs, std::optional<double> frameEndMs,
                   std::optional<double> replyDueMs) {
    double wait = 50;
    if (frameEndMs) wait = std::min(wait, *frameEndMs - nowMs);
    if (replyDueMs) wait = std::min(wait, *replyDueMs - nowMs);
    const auto us = static_cast<long>(std::max(wait, 0.0) * 1000);
    return timespec{us / 1000000, (us % 1000000) * 1000};
}

bool WriteAll(int fd, const uint8_t* bytes, size_t n, const StopFlag& stop) {
    for (size_t done = 0; done < n;) {
        // send() on a socket says MSG_NOSIGNAL; a terminal is no socket and takes write().
        ssize_t k = send(fd, bytes + done, n - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k < 0 && errno == ENOTSOCK) k = write(fd, bytes + done, n - done);
        if (k > 0) {
            done += size_t(k);
            continue;
        }
        if (k < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        if (stop) return false;
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, 50);  // room, or another look at the stop flag
    }
    return true;
}
