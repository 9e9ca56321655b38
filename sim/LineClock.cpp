#include "sim/LineClock.h"

#include <algorithm>
#include <chrono>

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
