// The poller's engine: rounds over the meters of one bus at line speed. Each meter's
// parameter block is read first (and again after the meter was silent), then its
// measurement block once a round. Every reply is validated; nothing is waited for longer
// than the line needs.
#pragma once

#include <atomic>
#include <functional>
#include <vector>

#include "poll/LineTiming.h"
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
    PollEngine(IPollLine& line, PollConfig config, std::vector<IReadingSink*> sinks, Notice notice,
               std::function<int64_t()> unixMs);

    // Runs until the rounds are done or stop becomes true; the port must be open.
    void Run(const std::atomic<bool>& stop);
    const std::vector<MeterHealth>& Health() const { return m_health; }

  private:
    enum class Outcome { Ok, Timeout, BadFrame, Exception, PortLost };
    struct Meter {
        uint8_t address;
        std::optional<ParamBlock> params;
        std::optional<int32_t> energyScale;  // the last one inside the table
        int failures = 0;
        double retryAtMs = 0;
        double backoffMs = 0;
    };
    struct Exchange {
        Outcome outcome;
        ByteBlock frame;  // the reply and anything behind it in the same read
        std::string detail;
    };

    void PollMeter(size_t k, const std::atomic<bool>& stop);
    Exchange Transact(uint8_t address, uint16_t start, uint16_t count);
    PortStatus Drain();
    ByteBlock WithTrailer(ByteBlock frame, uint16_t count);
    void Count(size_t k, const Exchange& x);
    void Emit(size_t k, const ByteBlock& frame);
    void RecoverPort(const std::string& why, const std::atomic<bool>& stop);
    void Pause(double untilMs, const std::atomic<bool>& stop);

    IPollLine& m_line;
    PollConfig m_config;
    LineTiming m_timing;
    std::vector<IReadingSink*> m_sinks;
    Notice m_notice;
    std::function<int64_t()> m_unixMs;
    std::vector<Meter> m_meters;
    std::vector<MeterHealth> m_health;
    double m_quietUntil = 0;    // the silence that must pass before the next request
    double m_drainQuietMs = 0;  // after a failed exchange: the silence to wait for first
};
