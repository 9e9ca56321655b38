#include "poll/history/Demand.h"

#include <algorithm>
#include <ctime>

namespace {

constexpr int64_t kSlackMs = 60000;        // an edge's first or closing reading may be this late
constexpr int64_t kLongestGapMs = 120000;  // a longer silence leaves a part of the interval
constexpr double kResolutionSteps = 200;   // counter steps for 0.5 % of the demand
constexpr double kMsPerHour = 3600000;

struct Fields {
    int activeW, apparentVA, forwardWh, reverseWh;
};
const Fields& Indices() {
    static const Fields f{
        QuantityIndex("active_power_total"), QuantityIndex("apparent_power_total"),
        QuantityIndex("active_energy_forward"), QuantityIndex("active_energy_reverse")};
    return f;
}

bool Known(double v) {
    return std::isfinite(v);
}

// The mean power between two readings from the counters; NaN when they cannot tell it: not
// known, scaled differently, too coarse for the change, or reset (gone back).
template <class Counters>
double EnergyMeanW(const Counters& a, const Counters& b) {
    const double hours = (b.ms - a.ms) / kMsPerHour;
    if (!Known(a.forwardWh + a.reverseWh + b.forwardWh + b.reverseWh) || hours <= 0) return NAN;
    if (a.stepWh <= 0 || a.stepWh != b.stepWh) return NAN;
    if (b.forwardWh < a.forwardWh || b.reverseWh < a.reverseWh) return NAN;
    const double netWh = (b.forwardWh - b.reverseWh) - (a.forwardWh - a.reverseWh);
    if (std::fabs(netWh) < kResolutionSteps * a.stepWh) return NAN;
    return netWh / hours;
}

struct Active {
    double w;
    const char* method;
};

// Power by the counters where they tell it, else the mean of the readings.
template <class Counters, class Mean>
Active ActiveDemand(const Counters& a, const Counters& b, const Mean& readings) {
    const double w = EnergyMeanW(a, b);
    if (Known(w)) return {w, "energy"};
    return {readings.Value(), "mean"};
}

std::tm LocalTime(int64_t ms) {
    const std::time_t t = ms / 1000;
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}
int64_t DayOf(int64_t ms) {
    const std::tm t = LocalTime(ms);
    return (int64_t{t.tm_year} * 100 + t.tm_mon) * 100 + t.tm_mday;
}
int64_t MonthOf(int64_t ms) {
    const std::tm t = LocalTime(ms);
    return int64_t{t.tm_year} * 100 + t.tm_mon;
}
using PeriodOf = int64_t (*)(int64_t);

// The higher of two peaks of one period. Of two periods the one kept stands: it is of the
// interval under way, or is cleared when that begins.
void Keep(DemandPeak& peak, const DemandPeak& candidate, PeriodOf period) {
    if (!Known(candidate.valueW)) return;
    const bool samePeriod = period(peak.intervalStartMs) == period(candidate.intervalStartMs);
    if (!Known(peak.valueW) || (samePeriod && candidate.valueW > peak.valueW)) peak = candidate;
}

void ClearUnlessOf(DemandPeak& peak, int64_t ms, PeriodOf period) {
    if (Known(peak.valueW) && period(peak.intervalStartMs) != period(ms)) peak = DemandPeak{};
}

}  // namespace

void DemandMeter::Mean::Add(double v) {
    if (!Known(v)) return;
    sum += v;
    ++count;
}

double DemandMeter::Mean::Value() const {
    return count > 0 ? sum / count : NAN;
}

std::optional<DemandInterval> DemandMeter::Add(const Reading& r) {
    const int64_t startMs = r.unixMs - r.unixMs % LengthMs();
    std::optional<DemandInterval> closed;
    // A later interval closes the one under way; so does the clock set back, and the
    // interval starts anew rather than run backwards.
    if (m_run && (startMs != m_run->startMs || r.unixMs < m_run->latest.ms)) {
        closed = Close(r);
        KeepPeaks(*closed);
        m_last = closed;
        m_run.reset();
    }
    if (m_run)
        Fold(r);
    else
        Start(r, startMs);
    return closed;
}

DemandNow DemandMeter::Now() const {
    DemandNow now;
    now.last = m_last;
    now.dayMax = m_dayMax;
    now.monthMax = m_monthMax;
    now.dayMaxVA = m_dayMaxVA;
    now.monthMaxVA = m_monthMaxVA;
    if (!m_run) return now;
    now.runningStartMs = m_run->startMs;
    now.runningW = ActiveDemand(m_run->first, m_run->latest, m_run->active).w;
    now.runningVA = m_run->apparent.Value();
    now.predictedW = Predicted(now.runningW, m_run->latestW);
    now.predictedVA = Predicted(now.runningVA, m_run->latestVA);
    return now;
}

void DemandMeter::RestorePeaks(const DemandNow& peaks) {
    Keep(m_dayMax, peaks.dayMax, DayOf);
    Keep(m_monthMax, peaks.monthMax, MonthOf);
    Keep(m_dayMaxVA, peaks.dayMaxVA, DayOf);
    Keep(m_monthMaxVA, peaks.monthMaxVA, MonthOf);
    if (m_run) ClearPeaksNotOf(m_run->startMs);
}

DemandMeter::Counters DemandMeter::CountersAt(const Reading& r) {
    return {r.unixMs, r.values[Indices().forwardWh], r.values[Indices().reverseWh],
            double(r.energyScale) * r.params.pt * r.params.ct};
}

void DemandMeter::Start(const Reading& r, int64_t startMs) {
    m_run = Running{};
    m_run->startMs = startMs;
    m_run->latest.ms = r.unixMs;
    Fold(r);
    m_run->first = m_run->latest;
    ClearPeaksNotOf(startMs);
}

void DemandMeter::Fold(const Reading& r) {
    Running& run = *m_run;
    run.longestGapMs = std::max(run.longestGapMs, r.unixMs - run.latest.ms);
    run.latest = CountersAt(r);
    const double w = r.values[Indices().activeW], va = r.values[Indices().apparentVA];
    run.active.Add(w);
    run.apparent.Add(va);
    if (Known(w)) run.latestW = w;
    if (Known(va)) run.latestVA = va;
}

DemandInterval DemandMeter::Close(const Reading& next) const {
    const Running& run = *m_run;
    const int64_t endMs = run.startMs + LengthMs();
    // The next interval's first reading ends the counters' span when it came in time;
    // otherwise the interval was cut and its last reading ends the covered part.
    const bool closedInTime = next.unixMs >= endMs && next.unixMs - endMs <= kSlackMs;
    const Counters end = closedInTime ? CountersAt(next) : run.latest;
    const Active active = ActiveDemand(run.first, end, run.active);
    DemandInterval d;
    d.address = m_address;
    d.startMs = run.startMs;
    d.minutes = m_minutes;
    d.activeW = active.w;
    d.activeMethod = active.method;
    d.apparentVA = run.apparent.Value();
    d.complete = closedInTime && run.first.ms - run.startMs <= kSlackMs &&
                 std::max(run.longestGapMs, end.ms - run.latest.ms) <= kLongestGapMs;
    return d;
}

// The end value if the latest power holds for the rest of the interval.
double DemandMeter::Predicted(double runningMean, double latest) const {
    const double elapsedMs = m_run->latest.ms - m_run->startMs;
    return (runningMean * elapsedMs + latest * (LengthMs() - elapsedMs)) / LengthMs();
}

void DemandMeter::KeepPeaks(const DemandInterval& d) {
    if (!d.complete) return;  // a part of an interval is no demand to bill
    Keep(m_dayMax, {d.activeW, d.startMs}, DayOf);
    Keep(m_monthMax, {d.activeW, d.startMs}, MonthOf);
    Keep(m_dayMaxVA, {d.apparentVA, d.startMs}, DayOf);
    Keep(m_monthMaxVA, {d.apparentVA, d.startMs}, MonthOf);
}

// A new day or month begins with no peak.
void DemandMeter::ClearPeaksNotOf(int64_t ms) {
    ClearUnlessOf(m_dayMax, ms, DayOf);
    ClearUnlessOf(m_monthMax, ms, MonthOf);
    ClearUnlessOf(m_dayMaxVA, ms, DayOf);
    ClearUnlessOf(m_monthMaxVA, ms, MonthOf);
}
