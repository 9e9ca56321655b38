#include "ctl/Bus.h"

#include <algorithm>

#include "modbus/Frame.h"
#include "modbus/ParamBlock.h"

namespace {

constexpr int kRequestChars = 8;
constexpr double kTurnaroundMs = 50;  // what a meter may take before it answers a probe

}  // namespace

Bus::Bus(IPollLine& line, bool network, bool gateway, double replyTimeoutMs, Report& r,
         const std::atomic<bool>& s)
    : report(r),
      stop(s),
      m_line(line),
      m_network(network),
      m_gateway(gateway),
      m_replyTimeoutMs(replyTimeoutMs) {}

// The two exchanges share one line: the silence one of them owes, the other keeps.
IExchange& Bus::Use(IExchange& next) {
    next.KeepQuietUntil(std::max(m_exchange->QuietUntil(), m_probe->QuietUntil()));
    return next;
}

bool Bus::MoveTo(int baud, int parityCode) {
    const double quiet = m_exchange ? std::max(m_exchange->QuietUntil(), m_probe->QuietUntil()) : 0;
    m_baud = baud, m_parity = parityCode;
    const Transport t = m_gateway ? kModbusTcp : kRtu;
    const LineTiming timing = LineTiming::ForBaud(baud);
    const double readTimeout = m_replyTimeoutMs < 0
                                   ? 0
                                   : timing.WireMs(kRequestChars) + m_replyTimeoutMs +
                                         timing.WireMs(ReadRegsReplyLength(kParamBlockCount));
    m_exchange = MakeExchange(m_line, t, baud, readTimeout);
    m_probe = MakeExchange(m_line, m_gateway ? kModbusTcp : kRtuProbe, baud, ProbeTimeoutMs());
    m_exchange->KeepQuietUntil(quiet);
    return m_network || m_line.SetLine(ConsoleLine(baud, parityCode)).ok();
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

bool Bus::Probe(uint8_t address, std::string& lost) {
    constexpr uint8_t kGatewayPathUnavailable = 0x0A, kGatewayTargetSilent = 0x0B;
    const ExchangeResult x = Use(*m_probe).Read(address, {kParamBlockStart, 1});
    if (x.outcome == Outcome::PortLost) lost = x.detail;
    return x.outcome == Outcome::Ok ||
           (x.outcome == Outcome::Exception && x.exceptionCode != kGatewayPathUnavailable &&
            x.exceptionCode != kGatewayTargetSilent);
}

std::optional<MeterSettingsRead> Bus::ReadSettings(uint8_t address, std::string& why) {
    const ExchangeResult x = Use(*m_exchange).Read(address, {kParamBlockStart, kParamBlockCount});
    if (x.outcome == Outcome::Ok) return DecodeSettings(x.frame.data() + 3);
    why = x.detail;
    return std::nullopt;
}
