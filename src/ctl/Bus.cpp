#include "ctl/Bus.h"

#include "modbus/Frame.h"
#include "modbus/ParamBlock.h"

namespace {

constexpr int kRequestChars = 8;
constexpr double kTurnaroundMs = 50;  // what a meter may take before it answers a probe

}  // namespace

Bus::Bus(IPollLine& line, bool gateway, double replyTimeoutMs, Report& r,
         const std::atomic<bool>& s)
    : report(r), stop(s), m_line(line), m_gateway(gateway), m_replyTimeoutMs(replyTimeoutMs) {}

bool Bus::MoveTo(int baud, int parityCode) {
    m_baud = baud, m_parity = parityCode;
    const Transport t = m_gateway ? kModbusTcp : kRtu;
    const LineTiming timing = LineTiming::ForBaud(baud);
    const double readTimeout = m_replyTimeoutMs < 0
                                   ? 0
                                   : timing.WireMs(kRequestChars) + m_replyTimeoutMs +
                                         timing.WireMs(ReadRegsReplyLength(kParamBlockCount));
    m_exchange = MakeExchange(m_line, t, baud, readTimeout);
    m_probe = MakeExchange(m_line, m_gateway ? kModbusTcp : kRtuProbe, baud, ProbeTimeoutMs());
    return m_gateway || m_line.SetLine(ConsoleLine(baud, parityCode)).ok();
}

// Measured from the request's sending: its own wire time, then the reply timeout (by
// default a one-register reply's wire time and the meter's turnaround).
double Bus::ProbeTimeoutMs() const {
    const LineTiming timing = LineTiming::ForBaud(m_baud);
    const double reply = m_replyTimeoutMs >= 0
                             ? m_replyTimeoutMs
                             : timing.WireMs(ReadRegsReplyLength(1)) + kTurnaroundMs;
    return timing.WireMs(kRequestChars) + reply;
}

double Bus::ProbeFloorMs() const {
    return ProbeTimeoutMs() + LineTiming::ForBaud(m_baud).SilenceMs();
}

ExchangeResult Bus::Probe(uint8_t address) {
    return m_probe->Read(address, {kParamBlockStart, 1});
}

std::optional<MeterSettingsRead> Bus::ReadSettings(uint8_t address, std::string& why) {
    const ExchangeResult x = m_exchange->Read(address, {kParamBlockStart, kParamBlockCount});
    if (x.outcome == Outcome::Ok) return DecodeSettings(x.frame.data() + 3);
    why = x.detail;
    return std::nullopt;
}
