// Time for the simulator's serve loops: milliseconds to the microsecond, since replies are
// paced to the fraction of a millisecond (a character at 19200 bit/s takes 0.57 ms).
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>

double SimNowMs();

// How long a serve loop may sleep: until the request being received is complete or the
// next reply is due, whichever comes first, and never longer than 50 ms.
timespec ServeWait(double nowMs, std::optional<double> frameEndMs,
                   std::optional<double> replyDueMs);

// The serve loops run until a signal handler sets this.
using StopFlag = volatile std::sig_atomic_t;

// Writes every byte to fd (a terminal or a socket), waiting for room while the reader is
// slow, and never raising SIGPIPE. False when the reader is gone or stop was set first.
bool WriteAll(int fd, const uint8_t* bytes, size_t n, const StopFlag& stop);
