// /metrics in the Prometheus text exposition format and /healthz, served by cpp-httplib on
// a thread of its own. A silent meter has no stale values: its measurement series go away,
// kx880_up turns 0 and the age of its last good reading keeps growing.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "poll/Reading.h"

class IMetricsExporter : public IReadingSink {
  public:
    // Extra counters from elsewhere (the MQTT queue's drops), read at every scrape.
    virtual void SetDroppedSource(std::function<uint64_t()> dropped) = 0;
};

// listen: "[ADDR]:PORT" (":9880" listens on every address). Nothing and a reason in error
// when the address is malformed or the port cannot be bound.
std::unique_ptr<IMetricsExporter> MakeMetricsExporter(const std::string& listen,
                                                      const std::string& bus, std::string& error);

// The exposition text for the last readings and health, at nowUnixMs: pure, for the tests.
std::string MetricsText(const std::string& bus, const std::vector<Reading>& last,
                        const std::vector<MeterHealth>& health, int64_t nowUnixMs,
                        std::optional<uint64_t> mqttDropped);
