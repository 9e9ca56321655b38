#include "poll/PollEngine.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kFailuresToSilent = 3;  // one lost reply is noise; three in a row a silent meter
constexpr double kFirstBackoffMs = 1000, kLongestBackoffMs = 30000;
constexpr double kLongestReopenMs = 8000;

}  // namespace

PollEngine::PollEngine(IPollLine& line, IExchange& exchange, PollConfig config,
                       std::vector<IReadingSink*> sinks, Notice notice,
                       std::function<int64_t()> unixMs)
    : m_line(line),
      m_exchange(exchange),
      m_config(std::move(config)),
      m_sinks(std::move(sinks)),
      m_notice(std::move(notice)),
      m_unixMs(std::move(unixMs)) {
    for (uint8_t a : m_config.addresses) {
        m_meters.push_back({MeterDevice(a)});
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
        for (MeterHealth& h : m_health) h.staleReplies = m_line.StaleReplies(h.address);
        for (IReadingSink* s : m_sinks) s->OnRoundEnd(m_health);
        if (m_config.intervalMs > 0) Pause(start + m_config.intervalMs, stop);
        // Every meter waiting out its back-off: sleep until the first is due, not spin.
        double due = INFINITY;
        for (const Meter& m : m_meters) due = std::min(due, m.retryAtMs);
        if (due > m_line.NowMs()) Pause(due, stop);
    }
}

// The parameter block first while the meter's settings are not known, then the
// measurement block.
void PollEngine::PollMeter(size_t k, const std::atomic<bool>& stop) {
    Meter& m = m_meters[k];
    if (m.retryAtMs > m_line.NowMs()) return;
    for (int reads = 0; reads < 2; ++reads) {
        const ExchangeResult x = m_exchange.Read(m.device.Address(), m.device.Next());
        RecordOutcome(k, x);
        if (x.outcome == Outcome::PortLost) return RecoverPort(x.detail, stop);
        if (x.outcome != Outcome::Ok) return;
        if (auto reading = m.device.Take(x.frame, m_unixMs())) {
            for (IReadingSink* s : m_sinks) s->OnReading(*reading);
            return;
        }
    }
}

// Classifies an exchange's outcome into the meter's health, and backs off from a meter
// that has failed too often in a row.
void PollEngine::RecordOutcome(size_t k, const ExchangeResult& x) {
    Meter& m = m_meters[k];
    MeterHealth& h = m_health[k];
    const std::string who = "meter " + std::to_string(h.address) + " on " + m_line.Name();
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
            ++h.badFrames;
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
        m.device.Forget();  // read its settings again when it is back
    }
    m.backoffMs = m.backoffMs == 0 ? kFirstBackoffMs : std::min(2 * m.backoffMs, kLongestBackoffMs);
    m.retryAtMs = m_line.NowMs() + m.backoffMs;
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
    for (Meter& m : m_meters) m.device.Forget(), m.retryAtMs = 0;
}
