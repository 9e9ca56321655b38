// The history's way out and in: export texts by hand, the peaks read back after a restart,
// and the stage that attaches demand and commits once a minute.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "poll/history/Export.h"
#include "poll/history/HistoryStage.h"

namespace {

struct Capture : IReadingSink {
    std::vector<Reading> readings;
    void OnReading(const Reading& r) override { readings.push_back(r); }
};

// A store that keeps what it is handed, for the stage's side of the bargain.
struct MemoryStore : HistoryStore {
    std::vector<MinuteRow> rows;
    std::vector<DemandInterval> demands, stored;
    int raw = 0, commits = 0;
    void Put(const MinuteRow& r) override { rows.push_back(r); }
    void PutRaw(uint8_t, int64_t, const MeasurementValues&) override { ++raw; }
    void PutDemand(const DemandInterval& d) override { demands.push_back(d); }
    void Commit() override { ++commits; }
    bool Flush() override { return true; }
    StoreStatus Status() const override { return {}; }
    std::vector<MinuteRow> Rows(const HistoryQuery&) const override { return {}; }
    std::vector<std::pair<int64_t, MeasurementValues>> Raw(uint8_t, int64_t) const override {
        return {};
    }
    std::vector<DemandInterval> Demands(uint8_t, int64_t, int64_t) const override { return stored; }
};

}  // namespace

TEST(HistoryExport, TimesStepsAndTheCsvHeader) {
    EXPECT_EQ(ParseIsoUtc("2026-12-10T13:00:00Z"), 1796907600000);  // 20797 days + 13 h
    EXPECT_EQ(ParseIsoUtc("2026-12-10T13:00:00.250Z"), 1796907600250);
    EXPECT_EQ(ParseIsoUtc("2026-12-10"), 1796860800000);
    for (const char* bad : {"", "yesterday", "2026-13-01", "12/10/2026"})
        EXPECT_FALSE(ParseIsoUtc(bad)) << bad;
    EXPECT_EQ(StepNamed("15m"), 900);
    EXPECT_EQ(StepNamed("1d"), 86400);
    EXPECT_FALSE(StepNamed("2m"));
    MinuteRow r;
    r.address = 3, r.startMs = 1796907600000, r.count = 2;
    r.min.fill(NAN), r.mean.fill(NAN), r.max.fill(NAN), r.last.fill(NAN);
    const int va = QuantityIndex("voltage_a");
    r.min[va] = 229.5, r.mean[va] = 230, r.max[va] = 230.5;
    const std::string csv = HistoryCsv({r});
    EXPECT_EQ(csv.rfind("time,address,step_s,readings,voltage_a_min [V],voltage_a_mean [V],"
                        "voltage_a_max [V],line_voltage_ca_min [V],",
                        0),
              0u);
    EXPECT_NE(csv.find(",active_energy_forward_last [Wh],"), std::string::npos);
    EXPECT_NE(csv.find("\r\n2026-12-10T13:00:00.000Z,3,60,2,229.5,230,230.5,,,,"),
              std::string::npos)
        << csv;
}

TEST(HistoryStage, PeaksOfTodayAndThisMonthSurviveARestart) {
    setenv("TZ", "UTC", 1), tzset();
    const int64_t now = 1796907600000;  // 2026-12-10 13:00 UTC
    auto at = [](int64_t ms, double w, bool complete) {
        DemandInterval d;
        d.startMs = ms, d.activeW = w, d.apparentVA = w * 1.25, d.complete = complete;
        return d;
    };
    const int64_t day = 86400000;
    const DemandNow p = PeaksOf({at(now - 2 * day, 9000, true), at(now - 3600000, 5000, true),
                                 at(now - 1800000, 7000, false), at(now - 12 * day, 8000, true),
                                 at(now - 15 * day, 9500, true)},
                                now);
    // Today: 5 kW (the 7 kW interval was cut); this month: 9 kW on the 8th (the 9.5 kW one
    // was in November).
    EXPECT_EQ(p.dayMax.valueW, 5000);
    EXPECT_EQ(p.monthMax.valueW, 9000);
    EXPECT_EQ(p.monthMax.intervalStartMs, now - 2 * day);
    EXPECT_EQ(p.monthMaxVA.valueW, 11250);
}

TEST(HistoryStage, DemandOnEveryReadingAndOneCommitAMinute) {
    Capture out;
    MemoryStore store;
    const int64_t start = 1796907600000;
    HistoryStage stage({&out}, {4}, 30, &store, start);
    const int p = QuantityIndex("active_power_total"), s = QuantityIndex("apparent_power_total");
    for (int64_t t = 0; t <= 150000; t += 10000) {  // 2.5 minutes at 10 s
        Reading r;
        r.address = 4, r.unixMs = start + t;
        r.values.fill(NAN);
        r.values[p] = 6000, r.values[s] = 7500;
        stage.OnReading(r);
        stage.OnRoundEnd({});
    }
    ASSERT_EQ(out.readings.size(), 16u);
    ASSERT_TRUE(out.readings.back().demand);
    EXPECT_EQ(out.readings.back().demand->minutes, 30);
    EXPECT_DOUBLE_EQ(out.readings.back().demand->runningW, 6000);  // the mean of the readings
    EXPECT_EQ(store.raw, 16);
    EXPECT_EQ(store.rows.size(), 2u);  // minutes 13:00 and 13:01 closed, 13:02 under way
    EXPECT_EQ(store.commits, 2);       // at 13:01 and 13:02
    stage.Finish();  // a stop writes the minute under way as far as it got: 13:02:00 to :30
    ASSERT_EQ(store.rows.size(), 3u);
    EXPECT_EQ(store.rows.back().count, 4);
}
