// Minute rows, every expected value worked out by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "poll/history/Minute.h"

namespace {

constexpr int64_t kS = 1000, kMin = 60 * kS, kHour = 60 * kMin, kDayMs = 24 * kHour;
// 2026-03-10 00:00 UTC: 56 years with 14 leap days and 31 + 28 + 9 days, 20522 days.
constexpr int64_t kMarch10 = 20522 * kDayMs;
const int kW = QuantityIndex("active_power_total");
const int kFwd = QuantityIndex("active_energy_forward");

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

}  // namespace
