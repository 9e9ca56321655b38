// The poller's HTTP server (cpp-httplib, threads of its own): /metrics for Prometheus,
// /healthz, and the dashboard with its API. Basic authentication, when asked for, guards
// the page and the API, and /metrics and /healthz too with authMetrics.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "poll/Reading.h"

struct HttpOptions {
    std::string listen;          // "[ADDR]:PORT" (":9880" listens on every address)
    std::string user, password;  // user empty: no authentication
    bool authMetrics = false;
};

class IHttpService : public IReadingSink {
  public:
    // Extra counters from elsewhere (the MQTT queue's drops), read at every scrape.
    virtual void SetDroppedSource(std::function<uint64_t()> dropped) = 0;
};

// Nothing and a reason in error when the address is malformed or the port cannot be bound.
// store: the history behind /api/history; none without --history.
class HistoryStore;
std::unique_ptr<IHttpService> MakeHttpService(const HttpOptions& options, const std::string& bus,
                                              const std::vector<uint8_t>& addresses,
                                              const HistoryStore* store, std::string& error);
