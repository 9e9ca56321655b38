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
    // network: behind a device server or gateway, whose own settings govern the bus;
    // gateway: a Modbus TCP one. replyTimeoutMs: -1 for each exchange's own default.
    Bus(IPollLine& line, bool network, bool gateway, double replyTimeoutMs, Report& report,
        const std::atomic<bool>& stop);

    // The port reopened at these settings (over a network they stay the server's).
    bool MoveTo(int baud, int parityCode);
    int Baud() const { return m_baud; }
    int ParityCode() const { return m_parity; }
    bool Network() const { return m_network; }

    // The probe of the address scan: whether a meter answers at address, with its reply
    // or its exception. A gateway's own exceptions (no path, no answer from the unit) are
    // no meter.
    bool Probe(uint8_t address, std::string& lost);
    double ProbeFloorMs() const;  // what a probe without an answer costs: request, timeout, silence
    // The meter's settings from its parameter block; nothing and why when it does not answer.
    std::optional<MeterSettingsRead> ReadSettings(uint8_t address, std::string& why);
    ExchangeResult Write(const ByteBlock& frame) { return Use(*m_exchange).Write(frame); }
    ExchangeResult Read(uint8_t address, const ReadBlock& block) {
        return Use(*m_exchange).Read(address, block);
    }
    double NowMs() { return m_line.NowMs(); }

    Report& report;
    const std::atomic<bool>& stop;

  private:
    double ProbeTimeoutMs() const;

    IExchange& Use(IExchange& next);

    IPollLine& m_line;
    bool m_network, m_gateway;
    double m_replyTimeoutMs;
    int m_baud = 9600, m_parity = 0;
    std::unique_ptr<IExchange> m_exchange, m_probe;
};
