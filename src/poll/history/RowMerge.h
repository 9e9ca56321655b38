// Rows folded into longer steps, for thinning and for the reads: the min of the mins, the
// mean of the means weighted by their readings, the max of the maxes, the last known value
// of the latest row, and the readings summed. A quantity no row knew stays NaN.
#pragma once

#include <vector>

#include "poll/history/Minute.h"

// rows: one meter's, oldest first; the result starts at startMs and lasts stepS.
MinuteRow CombineRows(const std::vector<MinuteRow>& rows, int64_t startMs, int32_t stepS);

// rows: one meter's, ordered by start. Each group of rows in one clock-aligned step (UTC)
// becomes one row; a stored row longer than the step (a quarter hour asked for in minutes)
// comes back as it is.
std::vector<MinuteRow> AggregateRows(const std::vector<MinuteRow>& rows, int32_t stepS);

// The start of the step of stepS seconds that holds ms (also before 1970).
int64_t StepStart(int64_t ms, int32_t stepS);
