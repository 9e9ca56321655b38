// /metrics in the Prometheus text exposition format. A silent meter has no stale values:
// its measurement series go away, kx880_up turns 0 and the age of its last good reading
// keeps growing.
#pragma once

#include <optional>
#include <string>

#include "poll/Reading.h"

// The exposition text for the last readings and health, at nowUnixMs: pure, for the tests.
std::string MetricsText(const std::string& bus, const std::vector<Reading>& last,
                        const std::vector<MeterHealth>& health, int64_t nowUnixMs,
                        std::optional<uint64_t> mqttDropped);
