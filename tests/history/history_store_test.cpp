// The history store's parts. Every expected value is worked out by hand in the test that
// uses it.
#include <gtest/gtest.h>

#include <cmath>

#include "poll/history/PendingRows.h"
#include "poll/history/RowCodec.h"
#include "poll/history/RowMerge.h"

namespace {

constexpr int64_t kMinuteMs = 60 * 1000;

// A minute whose values are exact in float32: base - 1, base, base + 1, base + 0.5.
MinuteRow Minute(int64_t startMs, double base = 230, int32_t count = 10, uint8_t address = 7) {
    MinuteRow row;
    row.address = address;
    row.startMs = startMs;
    row.count = count;
    row.min.fill(base - 1);
    row.mean.fill(base);
    row.max.fill(base + 1);
    row.last.fill(base + 0.5);
    return row;
}

// ---- the layout of the values

TEST(RowCodecTest, EnergyCountersKeepDoublesAndTheRestFloats) {
    struct Case {
        const char* key;
        double value, back;
    } cases[] = {
        {"active_energy_forward", 123456789.123, 123456789.123},
        {"reactive_energy_reverse", 4294967295.0 * 1000 + 0.001, 4294967295.0 * 1000 + 0.001},
        {"voltage_a", 230.5, 230.5},
        {"voltage_a", 230.1, 230.100006103515625},  // the nearest float32
        {"frequency", 49.75, 49.75},
    };
    for (const Case& c : cases) {
        MeasurementValues values{};
        values[QuantityIndex(c.key)] = c.value;
        const auto back = DecodeCompact(EncodeCompact(values));
        ASSERT_TRUE(back);
        EXPECT_EQ((*back)[QuantityIndex(c.key)], c.back) << c.key;
    }
    EXPECT_EQ(CompactSize(), 30u * 4 + 4u * 8);
    EXPECT_FALSE(DecodeCompact(std::string(CompactSize() - 1, '\0')));
}

TEST(RowCodecTest, NaNComesBackAsNaN) {
    MeasurementValues values{};
    values.fill(NAN);
    const auto compact = DecodeCompact(EncodeCompact(values));
    const auto exact = DecodeExact(EncodeExact(values));
    ASSERT_TRUE(compact && exact);
    for (int q = 0; q < kQuantityCount; ++q) {
        EXPECT_TRUE(std::isnan((*compact)[q])) << q;
        EXPECT_TRUE(std::isnan((*exact)[q])) << q;
    }
}

// ---- folding rows into steps

TEST(RowMergeTest, GroupsRowsByClockAlignedSteps) {
    struct Case {
        int32_t stepS;
        std::vector<std::pair<int64_t, int32_t>> stored;          // start, step
        std::vector<std::tuple<int64_t, int32_t, int32_t>> want;  // start, step, count
    } cases[] = {
        // a quarter hour asked for in minutes comes back as it is
        {60, {{0, 900}, {900000, 60}}, {{0, 900, 10}, {900000, 60, 10}}},
        {900, {{0, 60}, {60000, 60}, {900000, 60}}, {{0, 900, 20}, {900000, 900, 10}}},
        {3600, {{0, 900}, {2700000, 60}, {3600000, 60}}, {{0, 3600, 20}, {3600000, 3600, 10}}},
        {86400,
         {{0, 60}, {86340000, 60}, {86400000, 900}},
         {{0, 86400, 20}, {86400000, 86400, 10}}},
        {900, {{-60000, 60}, {0, 60}}, {{-900000, 900, 10}, {0, 900, 10}}},  // before 1970
    };
    for (const Case& c : cases) {
        std::vector<MinuteRow> rows;
        for (auto [start, step] : c.stored) {
            rows.push_back(Minute(start));
            rows.back().stepS = step;
        }
        const auto got = AggregateRows(rows, c.stepS);
        ASSERT_EQ(got.size(), c.want.size()) << c.stepS;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].startMs, std::get<0>(c.want[i])) << c.stepS << " row " << i;
            EXPECT_EQ(got[i].stepS, std::get<1>(c.want[i])) << c.stepS << " row " << i;
            EXPECT_EQ(got[i].count, std::get<2>(c.want[i])) << c.stepS << " row " << i;
        }
    }
}

// ---- the queue while the disk refuses

TEST(PendingRowsTest, RawReadingsGiveWayFirstThenTheOldestMinutes) {
    struct Case {
        size_t raw, minutes, demands, limit;
        size_t wantRaw, wantMinutes, wantDemands;
        uint64_t dropped;
    } cases[] = {
        {3, 3, 1, 7, 3, 3, 1, 0},
        {3, 3, 1, 5, 1, 3, 1, 2},
        {3, 3, 1, 2, 0, 1, 1, 5},
        {0, 0, 4, 1, 0, 0, 1, 3},
    };
    for (const Case& c : cases) {
        PendingRows rows;
        for (size_t i = 0; i < c.raw; ++i) rows.raw.push_back({7, int64_t(i), {}});
        for (size_t i = 0; i < c.minutes; ++i) rows.minutes.push_back(Minute(int64_t(i)));
        for (size_t i = 0; i < c.demands; ++i)
            rows.demands.push_back({7, int64_t(i), 15, 1, 1, "mean", true});
        EXPECT_EQ(rows.Trim(c.limit), c.dropped) << c.limit;
        EXPECT_EQ(rows.raw.size(), c.wantRaw) << c.limit;
        EXPECT_EQ(rows.minutes.size(), c.wantMinutes) << c.limit;
        EXPECT_EQ(rows.demands.size(), c.wantDemands) << c.limit;
        if (rows.minutes.empty()) continue;
        EXPECT_EQ(rows.minutes.back().startMs, int64_t(c.minutes - 1));  // the newest stay
        EXPECT_EQ(rows.minutes.front().startMs, int64_t(c.minutes - c.wantMinutes));
    }
}

TEST(PendingRowsTest, ARefusedBatchGoesBackInFront) {
    PendingRows newer, refused;
    newer.minutes.push_back(Minute(3 * kMinuteMs));
    refused.minutes.push_back(Minute(1 * kMinuteMs));
    refused.minutes.push_back(Minute(2 * kMinuteMs));
    newer.PutInFront(std::move(refused));
    ASSERT_EQ(newer.minutes.size(), 3u);
    EXPECT_EQ(newer.minutes[0].startMs, 1 * kMinuteMs);
    EXPECT_EQ(newer.minutes[2].startMs, 3 * kMinuteMs);
}

}  // namespace
