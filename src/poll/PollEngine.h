// The bus scheduler: rounds over the meters of one bus, each read as soon as the one before
// is done. Keeps each meter's health, backs off from a silent one while the others keep
// their pace, and reopens a lost port. What to read and how is the meter device's and the
// exchange's business.
#pragma once

#include <atomic>
#include <functional>
#include <vector>

#include "poll/Exchange.h"
#include "poll/MeterDevice.h"
#include "poll/PollLine.h"
#include "poll/Reading.h"

struct PollConfig {
    std::vector<uint8_t> addresses;
    int baud = 9600;
    double intervalMs = 0;   // period of a whole round; 0: back to back
    long rounds = 0;         // 0: until stopped
    double timeoutMs = 0;    // 0: derived from the wire time
    double reopenMs = 2000;  // first retry of a vanished port; doubling up to 8 s
};

class PollEngine {
  public:
    using Notice = std::function<void(const std::string&)>;
    PollEngine(IPollLine& line, IExchange& exchange, PollConfig config,
               std::vector<IReadingSink*> sinks, Notice notice, std::function<int64_t()> unixMs);

    // Runs until the rounds are done or stop becomes true; the port must be open.
    void Run(const std::atomic<bool>& stop);
    const std::vector<MeterHealth>& Health() const { return m_health; }

  private:
    struct Meter {
        MeterDevice device;
        int failures = 0;
        double retryAtMs = 0;
        double backoffMs = 0;
    };

    void PollMeter(size_t k, const std::atomic<bool>& stop);
    void RecordOutcome(size_t k, const ExchangeResult& x);
    void RecoverPort(const std::string& why, const std::atomic<bool>& stop);
    void Pause(double untilMs, const std::atomic<bool>& stop);

    IPollLine& m_line;
    IExchange& m_exchange;
    PollConfig m_config;
    std::vector<IReadingSink*> m_sinks;
    Notice m_notice;
    std::function<int64_t()> m_unixMs;
    std::vector<Meter> m_meters;
    std::vector<MeterHealth> m_health;
};
