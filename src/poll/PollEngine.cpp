#include "poll/PollEngine.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "modbus/Frame.h"

namespace {

constexpr int kRequestChars = 8;
constexpr int kExceptionLength = 5;
constexpr int kFailuresToSilent = 3;  // one lost reply is noise; three in a row a silent meter
constexpr double kFirstBackoffMs = 1000, kLongestBackoffMs = 30000;
constexpr double kLongestReopenMs = 8000;

// The first frame from address answering a read of count registers: the right length,
// byte count and CRC. The byte count keeps an echoed request from passing for a reply.
int FindReadReply(const ByteBlock& buf, uint8_t address, uint16_t count) {
    const int length = ReadRegsReplyLength(count);
    const auto n = static_cast<int16_t>(std::min<size_t>(buf.size(), INT16_MAX));
    for (int from = 0; from < n;) {
        const int idx = FindResponseFrame(buf.data() + from, static_cast<int16_t>(n - from),
                                          kFnReadRegs, address, length);
        if (idx < 0) return -1;
        if (buf[from + idx + 2] == 2 * count) return from + idx;
        from += idx + 1;
    }
    return -1;
}

int FindException(const ByteBlock& buf, uint8_t address) {
    const auto n = static_cast<int16_t>(std::min<size_t>(buf.size(), INT16_MAX));
    return FindResponseFrame(buf.data(), n, kFnReadRegs | 0x80, address, kExceptionLength);
}

}  // namespace

PollEngine::PollEngine(IPollLine& line, PollConfig config, std::vector<IReadingSink*> sinks,
                       Notice notice, std::function<int64_t()> unixMs)
    : m_line(line),
      m_config(std::move(config)),
      m_timing(LineTiming::ForBaud(m_config.baud)),
      m_sinks(std::move(sinks)),
      m_notice(std::move(notice)),
      m_unixMs(std::move(unixMs)) {
    for (uint8_t a : m_config.addresses) {
        m_meters.push_back({a, {}, {}, 0, 0, 0});
        MeterHealth h;
        h.address = a;
        m_health.push_back(h);
    }
}

// Sleeps in short steps, so that a signal ends the program promptly.
void PollEngine::Pause(double untilMs, const std::atomic<bool>& stop) {
    while (!stop && m_line.NowMs() < untilMs)
        m_line.SleepUntil(std::min(untilMs, m_line.NowMs() + 100));
}

void PollEngine::Run(const std::atomic<bool>& stop) {
    for (long round = 0; !stop && (m_config.rounds == 0 || round < m_config.rounds); ++round) {
        const double start = m_line.NowMs();
        for (size_t k = 0; k < m_meters.size() && !stop; ++k) PollMeter(k, stop);
        for (IReadingSink* s : m_sinks) s->OnRoundEnd(m_health);
        if (m_config.intervalMs > 0) Pause(start + m_config.intervalMs, stop);
        // Every meter waiting out its back-off: sleep until the first is due, not spin.
        double due = INFINITY;
        for (const Meter& m : m_meters) due = std::min(due, m.retryAtMs);
        if (due > m_line.NowMs()) Pause(due, stop);
    }
}

void PollEngine::PollMeter(size_t k, const std::atomic<bool>& stop) {
    Meter& m = m_meters[k];
    if (m.retryAtMs > m_line.NowMs()) return;
    if (!m.params) {
        Exchange x = Transact(m.address, kParamBlockStart, kParamBlockCount);
        Count(k, x);
        if (x.outcome == Outcome::PortLost) return RecoverPort(x.detail, stop);
        if (x.outcome != Outcome::Ok) return;
        m.params = DecodeParamBlock(x.frame.data() + 3);
        if (m.params->energyScale) m.energyScale = m.params->energyScale;
    }
    Exchange x = Transact(m.address, kMeasurementStart, kMeasurementCount);
    Count(k, x);
    if (x.outcome == Outcome::PortLost) return RecoverPort(x.detail, stop);
    if (x.outcome == Outcome::Ok) Emit(k, x.frame);
}

// A meter may send its two limit-status bytes behind a measurement frame. They arrive
// within the silence that must pass before the next request anyway, so waiting costs nothing.
ByteBlock PollEngine::WithTrailer(ByteBlock frame, uint16_t count) {
    const size_t whole = ReadRegsReplyLength(count) + 2;
    if (count != kMeasurementCount || m_line.RepliesCarryIds()) return frame;
    const double until = m_line.NowMs() + m_timing.WireMs(3);
    while (frame.size() < whole && m_line.NowMs() < until) {
        const size_t before = frame.size();
        if (!m_line.Receive(frame, until).ok()) break;
        if (frame.size() != before) m_quietUntil = m_line.NowMs() + m_timing.SilenceMs();
    }
    return frame;
}

// After a failed exchange its reply may still be under way. The line must stay silent for
// a reply's wire time and the silence before the next request goes out, so that a late
// reply is dropped here and never met by the next request. A line that never falls
// silent (noise) is given up on after a reply timeout.
PortStatus PollEngine::Drain() {
    const double quiet = std::exchange(m_drainQuietMs, 0);
    const double cap = m_line.NowMs() + quiet + m_timing.ReplyTimeoutMs(0, 0);
    for (double quietUntil = m_line.NowMs() + quiet; m_line.NowMs() < std::min(quietUntil, cap);) {
        ByteBlock late;
        if (PortStatus st = m_line.Receive(late, std::min(quietUntil, cap)); !st.ok()) return st;
        if (!late.empty()) quietUntil = m_line.NowMs() + quiet;
    }
    return {};
}

// A reply is taken when it is what a reply is (address, function, byte count, CRC) and came
// after its request went out, however fast: software slaves and bridges have no wire time.
PollEngine::Exchange PollEngine::Transact(uint8_t address, uint16_t start, uint16_t count) {
    const int replyLength = ReadRegsReplyLength(count);
    const bool timed = !m_line.RepliesCarryIds();
    m_line.SleepUntil(m_quietUntil);
    if (PortStatus st = m_drainQuietMs > 0 ? Drain() : PortStatus{}; !st.ok())
        return {Outcome::PortLost, {}, st.detail};
    if (PortStatus st = m_line.DropInput(); !st.ok()) return {Outcome::PortLost, {}, st.detail};
    uint8_t request[8];
    BuildReadRegs(request, address, start, count);
    const ByteBlock sent(request, request + 8);
    if (PortStatus st = m_line.Send(sent); !st.ok()) return {Outcome::PortLost, {}, st.detail};
    const double timeout = m_config.timeoutMs > 0
                               ? m_config.timeoutMs
                               : m_timing.ReplyTimeoutMs(kRequestChars, replyLength);
    const double deadline = m_line.NowMs() + timeout;
    ByteBlock buf;
    for (;;) {
        const size_t before = buf.size();
        if (PortStatus st = m_line.Receive(buf, deadline); !st.ok())
            return {Outcome::PortLost, {}, st.detail};
        const double now = m_line.NowMs();
        if (buf.size() != before && timed) m_quietUntil = now + m_timing.SilenceMs();
        if (const int idx = FindReadReply(buf, address, count); idx >= 0)
            return {Outcome::Ok, WithTrailer(ByteBlock(buf.begin() + idx, buf.end()), count), {}};
        if (const int exc = FindException(buf, address); exc >= 0)
            return {Outcome::Exception, {}, "exception code " + std::to_string(buf[exc + 2])};
        if (now >= deadline) break;
    }
    if (timed) m_drainQuietMs = m_timing.WireMs(replyLength) + m_timing.SilenceMs();
    // An echoing adapter hands back the request: that is not the meter speaking.
    if (buf.size() >= sent.size() && std::equal(sent.begin(), sent.end(), buf.begin()))
        buf.erase(buf.begin(), buf.begin() + long(sent.size()));
    if (buf.empty()) return {Outcome::Timeout, {}, "no reply"};
    return {Outcome::BadFrame, {}, std::to_string(buf.size()) + " bytes without a valid frame"};
}

void PollEngine::Count(size_t k, const Exchange& x) {
    Meter& m = m_meters[k];
    MeterHealth& h = m_health[k];
    const std::string who = "meter " + std::to_string(m.address) + " on " + m_line.Name();
    h.staleReplies = m_line.StaleReplies(m.address);
    switch (x.outcome) {
        case Outcome::Ok:
            ++h.ok;
            h.lastGoodUnixMs = m_unixMs();
            m.failures = 0, m.backoffMs = 0, m.retryAtMs = 0;
            if (!h.answering) m_notice(who + " answers again");
            h.answering = true;
            return;
        case Outcome::PortLost:
            return;
        case Outcome::Timeout:
            ++h.timeouts;
            break;
        case Outcome::BadFrame:
            ++h.crcErrors;
            break;
        case Outcome::Exception:
            ++h.exceptions;
            break;
    }
    h.lastError = x.detail;
    if (x.outcome == Outcome::Exception || ++m.failures < kFailuresToSilent) return;
    if (h.answering) {
        m_notice(who + " stopped answering (" + x.detail + "); retrying with back-off");
        h.answering = false;
        m.params.reset();  // read its settings again when it is back
    }
    m.backoffMs = m.backoffMs == 0 ? kFirstBackoffMs : std::min(2 * m.backoffMs, kLongestBackoffMs);
    m.retryAtMs = m_line.NowMs() + m.backoffMs;
}

void PollEngine::Emit(size_t k, const ByteBlock& frame) {
    const Meter& m = m_meters[k];
    Reading r;
    r.address = m.address;
    r.unixMs = m_unixMs();
    r.params = *m.params;
    r.energyScale = m.energyScale.value_or(0);
    const Scales scales{r.params.pt, r.params.ct, r.params.urgFactor, m.energyScale.value_or(1)};
    r.values = DecodeMeasurementValues(frame.data() + 3, scales);
    if (r.energyScale == 0)
        for (size_t q = 0; q < kQuantityCount; ++q)
            if (InfoOf(Quantities()[q].kind).counter()) r.values[q] = NAN;
    const size_t statusAt = ReadRegsReplyLength(kMeasurementCount);
    if (frame.size() >= statusAt + 2)
        r.voltageStatus = frame[statusAt], r.currentStatus = frame[statusAt + 1];
    for (IReadingSink* s : m_sinks) s->OnReading(r);
}

void PollEngine::RecoverPort(const std::string& why, const std::atomic<bool>& stop) {
    m_notice("port " + m_line.Name() + " lost (" + why + "); reopening after " +
             std::to_string(static_cast<int>(m_config.reopenMs / 1000)) + " s, then less often");
    m_line.Close();
    // Back-off: an adapter plugged back in is found within seconds, while a gateway that
    // stays away is not asked (each attempt may wait out a connect timeout) every moment.
    for (double wait = m_config.reopenMs;; wait = std::min(2 * wait, kLongestReopenMs)) {
        Pause(m_line.NowMs() + wait, stop);
        if (stop) return;
        if (m_line.Open().ok()) break;
    }
    m_notice("port " + m_line.Name() + " is back");
    for (Meter& m : m_meters) m.params.reset(), m.retryAtMs = 0;
}
