// The line kx880-ctl talks on, at the line settings it runs at now, with the poller's
// exchange: reads of the parameter block, probes, writes.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "ctl/Report.h"
#include "poll/Exchange.h"
#include "poll/PollLine.h"

class Bus {
  public:
    // replyTimeoutMs: -1 for each exchange's own default.
    Bus(IPollLine& line, bool gateway, double replyTimeoutMs, Report& report,
        const std::atomic<bool>& stop);

    // The port reopened at these settings (over a gateway they stay the gateway's).
    bool MoveTo(int baud, int parityCode);
    int Baud() const { return m_baud; }
    int ParityCode() const { return m_parity; }
    bool Gateway() const { return m_gateway; }

    // The probe of the address scan: whether a meter answered at address.
    ExchangeResult Probe(uint8_t address);
    double ProbeFloorMs() const;  // what a probe without an answer costs: request, timeout, silence
    // The meter's settings from its parameter block; nothing and why when it does not answer.
    std::optional<MeterSettingsRead> ReadSettings(uint8_t address, std::string& why);
    ExchangeResult Write(const ByteBlock& frame) { return m_exchange->Write(frame); }

    Report& report;
    const std::atomic<bool>& stop;

  private:
    double ProbeTimeoutMs() const;

    IPollLine& m_line;
    bool m_gateway;
    double m_replyTimeoutMs;
    int m_baud = 9600, m_parity = 0;
    std::unique_ptr<IExchange> m_exchange, m_probe;
};
