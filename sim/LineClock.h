// Time for the simulator's serve loops: milliseconds to the microsecond, since replies are
// paced to the fraction of a millisecond (a character at 19200 bit/s takes 0.57 ms).
#pragma once

#include <ctime>
#include <optional>

double SimNowMs();

// How long a serve loop may sleep: until the request being received is complete or the
// next reply is due, whichever comes first, and never longer than 50 ms.
timespec ServeWait(double nowMs, std::optional<double> frameEndMs,
                   std::optional<double> replyDueMs);
