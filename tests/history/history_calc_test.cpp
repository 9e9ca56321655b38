// Minute rows and block demand, every expected value worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "poll/history/Demand.h"
#include "poll/history/Minute.h"

namespace {

constexpr int64_t kS = 1000, kMin = 60 * kS, kHour = 60 * kMin, kDayMs = 24 * kHour;
// 2026-03-10 00:00 UTC: 56 years with 14 leap days and 31 + 28 + 9 days, 20522 days.
constexpr int64_t kMarch10 = 20522 * kDayMs;
const int kW = QuantityIndex("active_power_total"), kVA = QuantityIndex("apparent_power_total");
const int kFwd = QuantityIndex("active_energy_forward");
const int kRev = QuantityIndex("active_energy_reverse");

void UseTimeZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
}

// A meter at steady power between readings: its counters count joules exactly and show
// whole steps of energy scale x PT x CT Wh.
struct Meter {
    DemandMeter& demand;
    int64_t ms = 0;
    int64_t forwardJ = 3600LL * 1000000, reverseJ = 0;  // 1 MWh in, nothing out
    int32_t scale = 1;
    uint32_t pt = 1, ct = 1;
    std::vector<DemandInterval> closed{};  // the intervals its readings closed

    double Shown(int64_t joules) const {
        const int64_t stepWh = int64_t{scale} * pt * ct;
        return double(joules / (3600 * stepWh) * stepWh);
    }
    Reading Read(double w, double va) const {
        Reading r;
        r.unixMs = ms;
        r.values.fill(NAN);
        r.values[kW] = w;
        r.values[kVA] = va;
        r.values[kFwd] = Shown(forwardJ);
        r.values[kRev] = Shown(reverseJ);
        r.energyScale = scale;
        r.params.pt = pt;
        r.params.ct = ct;
        return r;
    }
    // forMs at power w (negative: exported), read every 10 s unless read is false.
    void Run(double w, int64_t forMs, bool read = true) {
        for (const int64_t end = ms + forMs; ms < end; ms += 10 * kS) {
            auto c = read ? demand.Add(Read(w, 1.25 * w)) : std::nullopt;
            if (c) closed.push_back(*c);
            (w >= 0 ? forwardJ : reverseJ) += int64_t(std::fabs(w)) * 10;
        }
    }
};

void ExpectPeak(const DemandPeak& p, double w, int64_t startMs) {
    EXPECT_DOUBLE_EQ(p.valueW, w);
    EXPECT_EQ(p.intervalStartMs, startMs);
}

TEST(MinuteAggregator, FoldsMinMeanMaxAndLast) {
    const int volt = QuantityIndex("voltage_a"), hz = QuantityIndex("frequency");
    const double watts[] = {100, 300, 200}, volts[] = {230, NAN, 232}, herz[] = {50, NAN, NAN};
    const int64_t at[] = {0, 20 * kS, 59999};
    MinuteAggregator agg(7);
    for (int i = 0; i < 3; ++i) {
        Reading r;
        r.unixMs = kMarch10 + 10 * kHour + at[i];
        r.values.fill(NAN);
        r.values[kW] = watts[i];
        r.values[volt] = volts[i];
        r.values[hz] = herz[i];
        EXPECT_FALSE(agg.Add(r));
    }
    Reading next;
    next.unixMs = kMarch10 + 10 * kHour + kMin;
    const auto row = agg.Add(next);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->address, 7);
    EXPECT_EQ(row->startMs, kMarch10 + 10 * kHour);
    EXPECT_EQ(row->count, 3);
    struct Case {
        int q;
        double min, mean, max, last;
    } cases[] = {
        {kW, 100, 200, 300, 200},    // (100 + 300 + 200) / 3
        {volt, 230, 231, 232, 232},  // the unknown one left out: (230 + 232) / 2
        {hz, 50, 50, 50, 50},        // known once: the last known value
        {kFwd, NAN, NAN, NAN, NAN},  // never known
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Quantities()[c.q].key);
        EXPECT_EQ(std::isnan(row->min[c.q]), std::isnan(c.min));
        if (std::isnan(c.min)) continue;
        EXPECT_DOUBLE_EQ(row->min[c.q], c.min);
        EXPECT_DOUBLE_EQ(row->mean[c.q], c.mean);
        EXPECT_DOUBLE_EQ(row->max[c.q], c.max);
        EXPECT_DOUBLE_EQ(row->last[c.q], c.last);
    }
    EXPECT_TRUE(std::isnan(row->mean[kFwd]) && std::isnan(row->max[kFwd]) &&
                std::isnan(row->last[kFwd]));
}

TEST(MinuteAggregator, ALaterOrEarlierMinuteClosesTheRow) {
    const int64_t ten = kMarch10 + 10 * kHour;
    struct Case {
        int64_t secondMs;
        bool closes;
        int64_t currentStartMs;
        int32_t currentCount;
    } cases[] = {
        {ten + 59999, false, ten, 2},                         // the same minute
        {ten + 10 * kS, false, ten, 2},                       // before the first, the same minute
        {ten + kMin, true, ten + kMin, 1},                    // the next minute
        {ten + 3 * kMin + 10 * kS, true, ten + 3 * kMin, 1},  // minutes skipped: no empty rows
        {ten - 2 * kMin, true, ten - 2 * kMin, 1},            // the clock set back
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.secondMs - ten);
        MinuteAggregator agg(1);
        EXPECT_FALSE(agg.Current());
        Reading r;
        r.unixMs = ten + 30 * kS;
        EXPECT_FALSE(agg.Add(r));
        r.unixMs = c.secondMs;
        const auto closed = agg.Add(r);
        EXPECT_EQ(closed.has_value(), c.closes);
        EXPECT_EQ(closed.value_or(MinuteRow{}).startMs, c.closes ? ten : 0);
        EXPECT_EQ(agg.Current()->startMs, c.currentStartMs);
        EXPECT_EQ(agg.Current()->count, c.currentCount);
    }
}

class Demand : public ::testing::Test {
  protected:
    void SetUp() override { UseTimeZone("UTC"); }
};

TEST_F(Demand, SteadyPowerByEnergyOrByTheMean) {
    struct Case {
        int32_t scale;
        uint32_t pt, ct;
        double w, expectW;
        const char* method;
    } cases[] = {
        {1, 1, 1, 12000, 12000, "energy"},    // 12 kW x 1/4 h = 3000 Wh: 3000 steps of 1 Wh
        {1, 1, 1, -12000, -12000, "energy"},  // exported: the reverse counter rises 3000 Wh
        {1, 5, 1, 4000, 4000, "energy"},      // 1000 Wh = 200 steps of 5 Wh, just enough
        {1, 3, 5, 3000, 3000, "mean"},        // 750 Wh = 50 steps of 15 Wh
        // 750 Wh = 7.5 steps of 100 Wh; the counters would say 700 Wh, 2800 W
        {100, 1, 1, 3000, 3000, "mean"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.w);
        DemandMeter d(3, 15);
        Meter m{d, kMarch10 + 10 * kHour};
        m.scale = c.scale, m.pt = c.pt, m.ct = c.ct;
        m.Run(c.w, 15 * kMin);
        ASSERT_TRUE(m.closed.empty());
        const auto iv = d.Add(m.Read(c.w, 1.25 * c.w));
        ASSERT_TRUE(iv);
        EXPECT_EQ(iv->address, 3);
        EXPECT_EQ(iv->startMs, kMarch10 + 10 * kHour);
        EXPECT_NEAR(iv->activeW, c.expectW, 1e-6);
        EXPECT_EQ(iv->activeMethod, c.method);
        EXPECT_NEAR(iv->apparentVA, 1.25 * c.w, 1e-6);  // always the mean
        EXPECT_TRUE(iv->complete);
    }
}

TEST_F(Demand, AStepInTheMiddleOverEachLength) {
    struct Case {
        int minutes, lowMinutes;
        double lowW, highW;
        int32_t scale;
        double expectW;
        const char* method;
    } cases[] = {
        {15, 5, 10000, 16000, 1, 14000, "energy"},  // (10 x 5 + 16 x 10) / 15 kW
        {15, 5, 10000, 16000, 1000, 14000,
         "mean"},  // 3.5 kWh in 1 kWh steps: (30 x 10 + 60 x 16) / 90 kW
        {30, 10, 6000, 12000, 1, 10000, "energy"},  // (6 x 10 + 12 x 20) / 30 kW
        {60, 20, 6000, 12000, 1, 10000, "energy"},  // (6 x 20 + 12 x 40) / 60 kW
        {60, 20, 6000, 12000, 10000, 10000,
         "mean"},  // 10 kWh = 1 step: (120 x 6 + 240 x 12) / 360 kW
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.minutes);
        DemandMeter d(1, c.minutes);
        Meter m{d, kMarch10 + 10 * kHour};
        m.scale = c.scale;
        m.Run(c.lowW, c.lowMinutes * kMin);
        m.Run(c.highW, (c.minutes - c.lowMinutes) * kMin);
        m.Run(c.highW, 10 * kS);
        ASSERT_EQ(m.closed.size(), 1u);
        EXPECT_EQ(m.closed[0].minutes, c.minutes);
        EXPECT_NEAR(m.closed[0].activeW, c.expectW, 1e-6);
        EXPECT_EQ(m.closed[0].activeMethod, c.method);
        EXPECT_TRUE(m.closed[0].complete);
    }
}

TEST_F(Demand, IntervalsAreClockAligned) {
    const int64_t ten = kMarch10 + 10 * kHour;
    struct Case {
        int minutes;
        int64_t atMs, startMs;
    } cases[] = {
        {15, ten + 40 * kMin + 30 * kS, ten + 30 * kMin},
        {30, ten + 40 * kMin + 30 * kS, ten + 30 * kMin},
        {60, ten + 40 * kMin + 30 * kS, ten},
        {15, ten + 15 * kMin - 1, ten},
    };
    for (const Case& c : cases) {
        DemandMeter d(1, c.minutes);
        d.Add(Meter{d, c.atMs}.Read(1000, 1000));
        EXPECT_EQ(d.Now().runningStartMs, c.startMs) << c.minutes;
    }
}

TEST_F(Demand, CompleteOnlyWhenReadFromStartToEnd) {
    struct Case {
        int64_t firstS, silenceAtS, silenceS, closeAfterEndS;
        bool complete;
    } cases[] = {
        {0, 300, 10, 0, true},     // every 10 s from the start to the end
        {60, 300, 10, 0, true},    // the first within 60 s
        {70, 300, 10, 0, false},   // the first 70 s late
        {420, 600, 10, 0, false},  // the poller started 7 minutes late
        {0, 300, 10, 60, true},    // closed within 60 s
        {0, 300, 10, 70, false},   // closed 70 s late: the meter fell silent
        {0, 300, 120, 0, true},    // readings at 300 s and 420 s
        {0, 300, 130, 0, false},   // readings at 300 s and 430 s
        {0, 780, 130, 0, false},   // silent from 780 s to the closing reading at 910 s
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "first " << c.firstS << " s, silent " << c.silenceS
                                        << " s, closed " << c.closeAfterEndS << " s late");
        DemandMeter d(1, 15);
        Meter m{d, kMarch10 + 10 * kHour};  // 7200 W counts 20 Wh every 10 s: no part steps
        m.Run(7200, c.firstS * kS, false);
        m.Run(7200, (c.silenceAtS - c.firstS + 10) * kS);
        m.Run(7200, (c.silenceS - 10) * kS, false);
        m.Run(7200, (900 - c.silenceAtS - c.silenceS) * kS);
        m.Run(7200, c.closeAfterEndS * kS, false);
        const auto iv = d.Add(m.Read(7200, 9000));
        ASSERT_TRUE(iv);
        EXPECT_EQ(iv->complete, c.complete);
        EXPECT_NEAR(iv->activeW, 7200, 1e-6);  // the covered part's energy all the same
    }
}

TEST_F(Demand, CountersResetOrRescaledFallBackToTheMean) {
    enum Change { ForwardReset, ReverseReset, PtTimesTen };
    for (const Change change : {ForwardReset, ReverseReset, PtTimesTen}) {
        SCOPED_TRACE(change);
        DemandMeter d(1, 15);
        Meter m{d, kMarch10 + 10 * kHour};
        m.reverseJ = 3600LL * 500000;
        m.Run(12000, 7 * kMin);
        if (change == ForwardReset) m.forwardJ = 0;  // net -1 MWh by the counters
        if (change == ReverseReset) m.reverseJ = 0;  // net +500 kWh
        if (change == PtTimesTen) {                  // the same count, ten times the Wh
            m.pt = 10;
            m.forwardJ *= 10, m.reverseJ *= 10;
        }
        m.Run(12000, 8 * kMin + 10 * kS);
        ASSERT_EQ(m.closed.size(), 1u);
        EXPECT_DOUBLE_EQ(m.closed[0].activeW, 12000);
        EXPECT_EQ(m.closed[0].activeMethod, "mean");
    }
}

TEST_F(Demand, PredictedAtMidInterval) {
    struct Case {
        int32_t scale;
        double runningW, predictedW;
    } cases[] = {
        // 10 kW for 450 s = 1250 Wh by energy; (10000 x 450 + 16000 x 450) / 900
        {1, 10000, 13000},
        // 12.5 steps of 100 Wh: (45 x 10000 + 16000) / 46 = 10130.43; (10130.43 + 16000) / 2
        {100, 10130.434783, 13065.217391},
    };
    for (const Case& c : cases) {
        DemandMeter d(1, 15);
        Meter m{d, kMarch10 + 10 * kHour};
        m.scale = c.scale;
        m.Run(10000, 450 * kS);  // 12500 VA
        d.Add(m.Read(16000, 18000));
        const DemandNow now = d.Now();
        EXPECT_EQ(now.runningStartMs, kMarch10 + 10 * kHour);
        EXPECT_NEAR(now.runningW, c.runningW, 1e-5);
        EXPECT_NEAR(now.predictedW, c.predictedW, 1e-5);
        // (45 x 12500 + 18000) / 46 = 12619.57; (12619.57 + 18000) / 2
        EXPECT_NEAR(now.runningVA, 12619.565217, 1e-5);
        EXPECT_NEAR(now.predictedVA, 15309.782609, 1e-5);
        EXPECT_FALSE(now.last);
    }
}

TEST_F(Demand, DayAndMonthPeaksResetAtMidnight) {
    for (const int64_t day : {kMarch10, kMarch10 + 21 * kDayMs}) {  // mid-month, 31 March
        DemandMeter d(1, 15);
        Meter m{d, day + 23 * kHour + 7 * kMin};
        m.Run(20000, 8 * kMin);  // started 7 minutes late: no peak
        m.Run(9000, 15 * kMin);
        m.Run(7000, 15 * kMin);
        m.Run(6000, 15 * kMin);
        ExpectPeak(d.Now().dayMax, 9000, day + 23 * kHour + 15 * kMin);
        ExpectPeak(d.Now().monthMaxVA, 11250, day + 23 * kHour + 15 * kMin);  // 1.25 x 9000
        m.Run(4000, 5 * kMin);
        EXPECT_TRUE(std::isnan(d.Now().dayMax.valueW));
        EXPECT_EQ(std::isnan(d.Now().monthMax.valueW), day != kMarch10);
        m.Run(4000, 10 * kMin + 10 * kS);
        ASSERT_EQ(m.closed.size(), 5u);
        ExpectPeak(d.Now().dayMax, 4000, day + kDayMs);
        ExpectPeak(d.Now().dayMaxVA, 5000, day + kDayMs);
        if (day == kMarch10)
            ExpectPeak(d.Now().monthMax, 9000, day + 23 * kHour + 15 * kMin);
        else
            ExpectPeak(d.Now().monthMax, 4000, day + kDayMs);  // 1 April
    }
}

TEST_F(Demand, TheDayIsTheBoxsLocalDay) {
    struct Case {
        const char* tz;
        double dayMaxW;
        int64_t startMs;
    } cases[] = {
        {"UTC", 8000, kMarch10 + 21 * kHour + 30 * kMin},
        {"XYZ-2", 3000, kMarch10 + 22 * kHour},  // UTC+2: 22:00 UTC is local midnight
    };
    for (const Case& c : cases) {
        UseTimeZone(c.tz);
        DemandMeter d(1, 15);
        Meter m{d, kMarch10 + 21 * kHour + 30 * kMin};
        for (const double w : {8000, 6000, 3000}) m.Run(w, 15 * kMin);
        d.Add(m.Read(0, 0));
        ExpectPeak(d.Now().dayMax, c.dayMaxW, c.startMs);
    }
}

TEST_F(Demand, RestoredPeaksKeepTheHigher) {
    const int64_t eight = kMarch10 + 8 * kHour, ten = kMarch10 + 10 * kHour;
    const int64_t yesterday = eight - kDayMs;
    struct Case {
        int64_t restoreAtMs;
        DemandPeak restored, day, month;
    } cases[] = {
        // 10 kW from 10:00 to 10:20: the 10:00 interval closed at 10:15
        {ten, {20000, eight}, {20000, eight}, {20000, eight}},
        {ten, {5000, eight}, {10000, ten}, {10000, ten}},
        {ten, {20000, yesterday}, {10000, ten}, {20000, yesterday}},  // not of this day
        {ten, {5000, yesterday}, {10000, ten}, {10000, ten}},
        {ten + 5 * kMin, {20000, yesterday}, {10000, ten}, {20000, yesterday}},
        {ten + 20 * kMin, {20000, yesterday}, {10000, ten}, {20000, yesterday}},
        {ten + 20 * kMin, {20000, eight}, {20000, eight}, {20000, eight}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.restoreAtMs - ten) / kMin << " min, " << c.restored.valueW << " W");
        DemandMeter d(1, 15);
        DemandNow peaks;
        peaks.dayMax = peaks.monthMax = c.restored;
        Meter m{d, ten};
        m.Run(10000, c.restoreAtMs - ten);
        d.RestorePeaks(peaks);
        m.Run(10000, ten + 20 * kMin - c.restoreAtMs);
        ExpectPeak(d.Now().dayMax, c.day.valueW, c.day.intervalStartMs);
        ExpectPeak(d.Now().monthMax, c.month.valueW, c.month.intervalStartMs);
    }
}

TEST_F(Demand, ClockSetBackClosesTheIntervalAndStartsAnew) {
    const int64_t ten = kMarch10 + 10 * kHour;
    struct Case {
        int64_t setBackToMs, runningStartMs;
    } cases[] = {
        {ten - 10 * kMin, ten - 15 * kMin},  // into the interval before
        {ten + 2 * kMin, ten},               // before the latest reading, the same interval
    };
    for (const Case& c : cases) {
        DemandMeter d(1, 15);
        Meter m{d, ten};
        m.Run(12000, 5 * kMin + 10 * kS);
        m.ms = c.setBackToMs;
        const auto iv = d.Add(m.Read(12000, 15000));
        ASSERT_TRUE(iv);
        EXPECT_EQ(iv->startMs, ten);
        EXPECT_FALSE(iv->complete);
        EXPECT_NEAR(iv->activeW, 12000, 1e-6);  // 1000 Wh over its first 300 s
        EXPECT_EQ(d.Now().runningStartMs, c.runningStartMs);
    }
}

}  // namespace
