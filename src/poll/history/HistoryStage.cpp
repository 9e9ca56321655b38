#include "poll/history/HistoryStage.h"

#include <ctime>

namespace {

struct tm LocalDay(int64_t unixMs) {
    const time_t t = static_cast<time_t>(unixMs / 1000);
    struct tm local {};
    localtime_r(&t, &local);
    return local;
}

// The start of the local month of nowUnixMs, in UTC ms.
int64_t MonthStartMs(int64_t nowUnixMs) {
    struct tm local = LocalDay(nowUnixMs);
    local.tm_mday = 1, local.tm_hour = local.tm_min = local.tm_sec = 0, local.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&local)) * 1000;
}

void Keep(DemandPeak& peak, double value, int64_t startMs) {
    if (std::isfinite(value) && (!peak.intervalStartMs || value > peak.valueW))
        peak = {value, startMs};
}

}  // namespace

DemandNow PeaksOf(const std::vector<DemandInterval>& intervals, int64_t nowUnixMs) {
    DemandNow d;
    const struct tm now = LocalDay(nowUnixMs);
    for (const DemandInterval& i : intervals) {
        if (!i.complete) continue;
        const struct tm at = LocalDay(i.startMs);
        if (at.tm_year != now.tm_year || at.tm_mon != now.tm_mon) continue;
        Keep(d.monthMax, i.activeW, i.startMs);
        Keep(d.monthMaxVA, i.apparentVA, i.startMs);
        if (at.tm_mday != now.tm_mday) continue;
        Keep(d.dayMax, i.activeW, i.startMs);
        Keep(d.dayMaxVA, i.apparentVA, i.startMs);
    }
    return d;
}

HistoryStage::HistoryStage(std::vector<IReadingSink*> sinks, const std::vector<uint8_t>& addresses,
                           int demandMinutes, HistoryStore* store, int64_t nowUnixMs)
    : m_sinks(std::move(sinks)), m_minutes(demandMinutes), m_store(store) {
    for (uint8_t a : addresses) {
        Meter m{MinuteAggregator(a), DemandMeter(a, demandMinutes)};
        if (m_store)
            m.demand.RestorePeaks(
                PeaksOf(m_store->Demands(a, MonthStartMs(nowUnixMs), nowUnixMs + 1), nowUnixMs));
        m_meters.emplace(a, std::move(m));
    }
    m_lastCommitMinute = nowUnixMs / 60000;
}

void HistoryStage::OnReading(const Reading& in) {
    Reading r = in;
    auto it = m_meters.find(r.address);
    if (it != m_meters.end()) {
        Meter& m = it->second;
        const auto closed = m.demand.Add(r);
        r.demand = m.demand.Now();
        r.demand->minutes = m_minutes;
        if (m_store) {
            if (closed) m_store->PutDemand(*closed);
            if (auto row = m.minutes.Add(r)) m_store->Put(*row);
            m_store->PutRaw(r.address, r.unixMs, r.values);
        }
    }
    m_lastReadingMs = r.unixMs;
    for (IReadingSink* s : m_sinks) s->OnReading(r);
}

void HistoryStage::OnRoundEnd(const std::vector<MeterHealth>& health) {
    // One transaction a minute, whatever the bus's pace.
    if (m_store && m_lastReadingMs && m_lastReadingMs / 60000 != m_lastCommitMinute) {
        m_lastCommitMinute = m_lastReadingMs / 60000;
        m_store->Commit();
    }
    for (IReadingSink* s : m_sinks) s->OnRoundEnd(health);
}

// At a stop the minute under way is written as far as it got; a restart within the same
// minute adds to it.
void HistoryStage::Finish() {
    if (!m_store) return;
    for (auto& [address, m] : m_meters)
        if (auto row = m.minutes.Current()) m_store->Put(*row);
    m_store->Flush();
}
