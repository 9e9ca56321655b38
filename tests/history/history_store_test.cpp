// The history store on real files in a scratch directory. Every expected value is worked
// out by hand in the test that uses it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "poll/history/PendingRows.h"
#include "poll/history/RowCodec.h"
#include "poll/history/RowMerge.h"
#include "poll/history/Store.h"
#include "poll/history/StoreRetention.h"
#include "poll/history/StoreSchema.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kMinuteMs = 60 * 1000;
constexpr int64_t kQuarterMs = 15 * kMinuteMs;
constexpr int64_t kDayMs = 86400 * 1000;
constexpr int64_t kNewYear2026 = 1767225600000;  // 2026-01-01 00:00 UTC

const int kVoltageA = QuantityIndex("voltage_a");
const int kCurrentA = QuantityIndex("current_a");
const int kFrequency = QuantityIndex("frequency");
const int kEnergyForward = QuantityIndex("active_energy_forward");

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

bool SameBits(const MeasurementValues& a, const MeasurementValues& b) {
    for (int q = 0; q < kQuantityCount; ++q) {
        if (std::isnan(a[q]) && std::isnan(b[q])) continue;
        if (std::bit_cast<uint64_t>(a[q]) != std::bit_cast<uint64_t>(b[q])) return false;
    }
    return true;
}

void ExpectSameRow(const MinuteRow& got, const MinuteRow& want) {
    EXPECT_EQ(got.address, want.address);
    EXPECT_EQ(got.startMs, want.startMs);
    EXPECT_EQ(got.stepS, want.stepS);
    EXPECT_EQ(got.count, want.count);
    EXPECT_TRUE(SameBits(got.min, want.min));
    EXPECT_TRUE(SameBits(got.mean, want.mean));
    EXPECT_TRUE(SameBits(got.max, want.max));
    EXPECT_TRUE(SameBits(got.last, want.last));
}

// The notices, said on the writer's thread.
struct Notices {
    std::mutex mutex;
    std::vector<std::string> lines;
    HistoryStore::Notice Sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        };
    }
    int Count(const std::string& part) {
        std::lock_guard lock(mutex);
        int n = 0;
        for (const auto& line : lines) n += line.find(part) != std::string::npos;
        return n;
    }
    void Clear() {
        std::lock_guard lock(mutex);
        lines.clear();
    }
};

class HistoryStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/kx-history-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
        m_options.path = m_dir + "/history.db";
        m_options.clockMs = [this] { return m_now.load(); };
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::unique_ptr<HistoryStore> OpenStore() {
        std::string error;
        auto store = HistoryStore::Open(m_options, m_notices.Sink(), error);
        EXPECT_NE(store, nullptr) << error;
        return store;
    }
    std::vector<MinuteRow> AllRows(const HistoryStore& store, int32_t stepS = 60,
                                   uint8_t address = 7) {
        return store.Rows({address, 0, kNewYear2026 + 400 * kDayMs, stepS});
    }
    std::vector<std::string> SetAside() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("history.db.corrupt-", 0) == 0) names.push_back(name);
        }
        return names;
    }

    std::string m_dir;
    StoreOptions m_options;
    std::atomic<int64_t> m_now{kNewYear2026};
    Notices m_notices;
};

// ---- the layout of the values

TEST(RowCodecTest, EnergyCountersKeepDoublesAndTheRestFloats) {
    struct Case {
        const char* key;
        double value, back;
    } cases[] = {
        {"active_energy_forward", 123456789.123, 123456789.123},
        {"reactive_energy_reverse", 4294967295.0 * 1000 + 0.001, 4294967295.0 * 1000 + 0.001},
        {"voltage_a", 230.5, 230.5},
        // The nearest float32 is 230.100006103515625; its shortest text, 230.1, comes back.
        {"voltage_a", 230.1, 230.1},
        // 1234567.8 W: float32 keeps 1234567.75, whose shortest text is 1234567.8.
        {"active_power_total", 1234567.8, 1234567.8},
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

// ---- round trips

TEST_F(HistoryStoreTest, MinuteRowsComeBackExactly) {
    MinuteRow first = Minute(kNewYear2026, 230.5, 12);
    first.mean[kFrequency] = NAN;  // never known in that minute
    first.last[kEnergyForward] = 123456789.123;
    first.min[kEnergyForward] = 123456789.001;
    const MinuteRow second = Minute(kNewYear2026 + kMinuteMs, 229, 11);
    auto store = OpenStore();
    store->Put(second);
    store->Put(first);
    EXPECT_TRUE(store->Flush());
    const auto rows = AllRows(*store);
    ASSERT_EQ(rows.size(), 2u);
    ExpectSameRow(rows[0], first);
    ExpectSameRow(rows[1], second);
    EXPECT_TRUE(AllRows(*store, 60, 8).empty());  // another meter's
}

// A stop and a restart within one minute: the two parts make one row. 12 readings about
// 230 V (229 to 231) and 4 about 232 V (231 to 233): min 229, mean (12 x 230 + 4 x 232) / 16
// = 230.5, max 233, last of the later part 232.5, 16 readings.
TEST_F(HistoryStoreTest, AMinuteWrittenInTwoPartsIsOneRow) {
    {
        auto store = OpenStore();
        store->Put(Minute(kNewYear2026, 230, 12));
        EXPECT_TRUE(store->Flush());
    }
    auto store = OpenStore();
    store->Put(Minute(kNewYear2026, 232, 4));
    EXPECT_TRUE(store->Flush());
    const auto rows = AllRows(*store);
    ASSERT_EQ(rows.size(), 1u);
    const int va = QuantityIndex("voltage_a");
    EXPECT_EQ(rows[0].count, 16);
    EXPECT_EQ(rows[0].min[va], 229);
    EXPECT_EQ(rows[0].mean[va], 230.5);
    EXPECT_EQ(rows[0].max[va], 233);
    EXPECT_EQ(rows[0].last[va], 232.5);
}

TEST_F(HistoryStoreTest, RawReadingsComeBackExactlyFromTheirTime) {
    MeasurementValues values{};
    for (int q = 0; q < kQuantityCount; ++q) values[q] = 0.1 * (q + 1);  // not float-exact
    values[kCurrentA] = NAN;
    auto store = OpenStore();
    for (int i = 0; i < 3; ++i) store->PutRaw(7, kNewYear2026 + i * 1000, values);
    store->PutRaw(8, kNewYear2026 + 1000, values);
    EXPECT_TRUE(store->Flush());
    const auto raw = store->Raw(7, kNewYear2026 + 1000);
    ASSERT_EQ(raw.size(), 2u);
    EXPECT_EQ(raw[0].first, kNewYear2026 + 1000);
    EXPECT_EQ(raw[1].first, kNewYear2026 + 2000);
    EXPECT_TRUE(SameBits(raw[1].second, values));
}

TEST_F(HistoryStoreTest, DemandIntervalsComeBackInTheirRange) {
    const DemandInterval whole{7, kNewYear2026, 15, 12345.5, NAN, "energy", true};
    const DemandInterval part{7, kNewYear2026 + kQuarterMs, 15, 99.25, 120.5, "mean", false};
    const DemandInterval after{7, kNewYear2026 + 2 * kQuarterMs, 15, 1, 1, "mean", true};
    auto store = OpenStore();
    for (const auto& d : {whole, part, after}) store->PutDemand(d);
    EXPECT_TRUE(store->Flush());
    const auto got = store->Demands(7, kNewYear2026, kNewYear2026 + 2 * kQuarterMs);
    ASSERT_EQ(got.size(), 2u);  // [from, to)
    EXPECT_EQ(got[0].activeW, 12345.5);
    EXPECT_TRUE(std::isnan(got[0].apparentVA));
    EXPECT_EQ(got[0].activeMethod, "energy");
    EXPECT_TRUE(got[0].complete);
    EXPECT_EQ(got[1].startMs, kNewYear2026 + kQuarterMs);
    EXPECT_EQ(got[1].apparentVA, 120.5);
    EXPECT_EQ(got[1].activeMethod, "mean");
    EXPECT_FALSE(got[1].complete);
}

TEST_F(HistoryStoreTest, FifteenMinutesMakeOneQuarterHour) {
    auto store = OpenStore();
    for (int i = 0; i < 15; ++i) {
        MinuteRow row = Minute(kNewYear2026 + i * kMinuteMs, 0, i == 14 ? 20 : 10);
        row.min[kVoltageA] = 230 - i;
        row.mean[kVoltageA] = 231 + i;
        row.max[kVoltageA] = 232 + 2 * i;
        row.last[kVoltageA] = 240 + i;
        row.last[kEnergyForward] = 1000.25 + i;
        row.mean[kFrequency] = i == 3 ? 50.0 : NAN;
        row.last[kCurrentA] = i == 12 ? 5.5 : NAN;
        store->Put(row);
    }
    EXPECT_TRUE(store->Flush());
    const auto rows = AllRows(*store, 900);
    ASSERT_EQ(rows.size(), 1u);
    const MinuteRow& q = rows[0];
    EXPECT_EQ(q.startMs, kNewYear2026);
    EXPECT_EQ(q.stepS, 900);
    EXPECT_EQ(q.count, 14 * 10 + 20);
    EXPECT_EQ(q.min[kVoltageA], 216);             // 230 - 14
    EXPECT_EQ(q.mean[kVoltageA], 38150.0 / 160);  // (10 * (14 * 231 + 91) + 20 * 245) / 160
    EXPECT_EQ(q.max[kVoltageA], 260);             // 232 + 28
    EXPECT_EQ(q.last[kVoltageA], 254);            // the last minute's
    EXPECT_EQ(q.last[kEnergyForward], 1014.25);
    EXPECT_EQ(q.mean[kFrequency], 50.0);  // the one minute that knew it
    EXPECT_EQ(q.last[kCurrentA], 5.5);    // the latest known
    EXPECT_EQ(AllRows(*store, 3600).size(), 1u);
    EXPECT_EQ(AllRows(*store, 60).size(), 15u);
    EXPECT_TRUE(AllRows(*store, 120).empty());  // not one of the steps
}

// ---- retention, on a clock of the test's

TEST_F(HistoryStoreTest, OldMinutesAreThinnedAndOlderRowsDeleted) {
    m_options.days = 30;
    m_now = kNewYear2026 + 5 * kMinuteMs;  // thinning up to 7 days before kNewYear2026
    const int64_t weekAgo = kNewYear2026 - 7 * kDayMs;
    auto store = OpenStore();
    for (int i = 0; i < 15; ++i) store->Put(Minute(weekAgo - kQuarterMs + i * kMinuteMs, 100 + i));
    store->Put(Minute(weekAgo + kMinuteMs));    // older than 7 days, its quarter is not
    store->Put(Minute(kNewYear2026 - kDayMs));  // a day old
    store->Put(Minute(kNewYear2026 - 31 * kDayMs));
    MinuteRow oldQuarter = Minute(kNewYear2026 - 40 * kDayMs);
    oldQuarter.stepS = 900;
    store->Put(oldQuarter);
    store->PutDemand({7, kNewYear2026 - 31 * kDayMs, 15, 1, 1, "mean", true});
    store->PutDemand({7, kNewYear2026 - kDayMs, 15, 2, 2, "mean", true});
    const int64_t newestRaw = kNewYear2026 - 10000;
    for (int64_t age : {3600001, 3599000, 0}) store->PutRaw(7, newestRaw - age, {});
    EXPECT_TRUE(store->Flush());

    const auto rows = AllRows(*store, 60);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].startMs, weekAgo - kQuarterMs);
    EXPECT_EQ(rows[0].stepS, 900);  // as it is, at a step of 60
    EXPECT_EQ(rows[0].count, 150);
    EXPECT_EQ(rows[0].min[kVoltageA], 99);    // 100 - 1
    EXPECT_EQ(rows[0].mean[kVoltageA], 107);  // the mean of 100..114
    EXPECT_EQ(rows[0].max[kVoltageA], 115);   // 114 + 1
    EXPECT_EQ(rows[0].last[kVoltageA], 114.5);
    EXPECT_EQ(rows[1].startMs, weekAgo + kMinuteMs);
    EXPECT_EQ(rows[1].stepS, 60);
    EXPECT_EQ(rows[2].startMs, kNewYear2026 - kDayMs);
    const auto demands = store->Demands(7, 0, kNewYear2026);
    ASSERT_EQ(demands.size(), 1u);
    EXPECT_EQ(demands[0].activeW, 2);
    EXPECT_EQ(store->Raw(7, 0).size(), 2u);
}

TEST_F(HistoryStoreTest, ThinningGoesInBoundedBatches) {
    auto store = OpenStore();
    const int64_t start = kNewYear2026 - 20 * kDayMs;
    for (int i = 0; i < 3 * 1440; ++i) store->Put(Minute(start + i * kMinuteMs));
    auto minutesLeft = [&] {
        int n = 0;
        for (const auto& row : AllRows(*store)) n += row.stepS == 60;
        return n;
    };
    EXPECT_TRUE(store->Flush());
    EXPECT_EQ(minutesLeft(), 3 * 1440 - kThinBatchRows);
    EXPECT_TRUE(store->Flush());
    EXPECT_EQ(minutesLeft(), 0);
    EXPECT_EQ(AllRows(*store).size(), 3u * 96);
}

// ---- damaged, foreign and refused files

TEST_F(HistoryStoreTest, ADamagedFileIsMovedAsideAndANewOneStarted) {
    struct Case {
        const char* name;
        std::function<void()> damage;
    } cases[] = {
        {"garbage", [&] { std::ofstream(m_options.path) << std::string(8192, '\xab'); }},
        {"pages overwritten",
         [&] {
             {
                 auto store = OpenStore();
                 for (int i = 0; i < 200; ++i) store->Put(Minute(kNewYear2026 + i * kMinuteMs));
                 store->Flush();
             }
             std::fstream f(m_options.path, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(4096);
             f << std::string(fs::file_size(m_options.path) - 4096, 'Z');
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_dir);
        fs::create_directory(m_dir);
        c.damage();
        auto store = OpenStore();
        ASSERT_TRUE(store);
        EXPECT_EQ(m_notices.Count("is damaged"), 1);
        m_notices.Clear();
        EXPECT_EQ(SetAside().size(), 1u);
        store->Put(Minute(kNewYear2026));
        EXPECT_TRUE(store->Flush());
        EXPECT_EQ(AllRows(*store).size(), 1u);
    }
}

TEST_F(HistoryStoreTest, AFileOfSomethingElseIsRefusedAndLeftAlone) {
    struct Case {
        const char* sql;
        const char* error;
    } cases[] = {
        {"DROP TABLE meta; CREATE TABLE invoices(id INTEGER)", "not a kx880-poll history"},
        {"UPDATE meta SET value = 2", "newer kx880-poll"},
    };
    for (const Case& c : cases) {
        fs::remove(m_options.path);
        OpenStore().reset();
        {
            SqliteDb db(m_options.path, SQLITE_OPEN_READWRITE);
            db.Exec(c.sql);
        }
        std::string error;
        EXPECT_EQ(HistoryStore::Open(m_options, m_notices.Sink(), error), nullptr);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_EQ(HistoryStore::OpenForReading(m_options.path, error), nullptr);
        EXPECT_TRUE(SetAside().empty());
    }
}

TEST_F(HistoryStoreTest, ASecondPollerIsRefusedAndAReaderIsNot) {
    auto first = OpenStore();
    first->Put(Minute(kNewYear2026));
    EXPECT_TRUE(first->Flush());
    std::string error;
    EXPECT_EQ(HistoryStore::Open(m_options, nullptr, error), nullptr);
    EXPECT_EQ(error, m_options.path + " is already in use by another kx880-poll");
    auto reader = HistoryStore::OpenForReading(m_options.path, error);
    ASSERT_TRUE(reader) << error;
    EXPECT_EQ(AllRows(*reader).size(), 1u);
    first.reset();
    EXPECT_TRUE(OpenStore());
}

TEST_F(HistoryStoreTest, ReadsBesideTheWriterSeeWholeCommits) {
    auto store = OpenStore();
    std::atomic<bool> done{false};
    std::vector<size_t> seen;
    std::thread reader([&] {
        while (!done) seen.push_back(AllRows(*store).size());
    });
    for (int batch = 0; batch < 20; ++batch) {
        for (int i = 0; i < 10; ++i)
            store->Put(Minute(kNewYear2026 + (batch * 10 + i) * kMinuteMs));
        store->Flush();
    }
    done = true;
    reader.join();
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i] % 10, 0u) << seen[i];
        if (i > 0) {
            EXPECT_GE(seen[i], seen[i - 1]);
        }
    }
    EXPECT_EQ(AllRows(*store).size(), 200u);
}

// ---- a killed poller, a full disk and a read-only file, in forked children

// Runs child in a forked process that tells the parent through a pipe; what it told.
struct Child {
    pid_t pid = -1;
    int fd = -1;
};

Child Fork(const std::function<void(int fd)>& child) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        child(fds[1]);
        _exit(0);
    }
    close(fds[1]);
    return {pid, fds[0]};
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
    close(fd);
    return text;
}

void Tell(int fd, const std::string& text) {
    if (write(fd, text.data(), text.size()) != ssize_t(text.size())) _exit(3);
}

TEST_F(HistoryStoreTest, AKillDuringCommitsLeavesWholeCommits) {
    const Child child = Fork([&](int fd) {
        auto store = OpenStore();
        for (int i = 0; i < 100; ++i) store->Put(Minute(kNewYear2026 + i * kMinuteMs));
        if (!store->Flush()) _exit(2);
        for (int i = 100; i < 150; ++i) store->Put(Minute(kNewYear2026 + i * kMinuteMs));
        store->Commit();
        store->Put(Minute(kNewYear2026 + 150 * kMinuteMs));  // never committed
        Tell(fd, "c");
        // Commits without end, so that the kill may land inside one.
        for (int64_t i = 151;; ++i) {
            store->Put(Minute(kNewYear2026 + i * kMinuteMs));
            store->Commit();
        }
    });
    char c = 0;
    ASSERT_EQ(read(child.fd, &c, 1), 1);
    usleep(20000);
    kill(child.pid, SIGKILL);
    int status = 0;
    waitpid(child.pid, &status, 0);
    close(child.fd);
    EXPECT_TRUE(WIFSIGNALED(status));

    auto store = OpenStore();
    ASSERT_TRUE(store);
    EXPECT_EQ(m_notices.Count("damaged"), 0);
    const auto rows = AllRows(*store);
    EXPECT_GE(rows.size(), 100u);
    for (size_t i = 0; i < rows.size(); ++i)  // commits whole, in order: no gap
        EXPECT_EQ(rows[i].startMs, kNewYear2026 + int64_t(i) * kMinuteMs);
}

TEST_F(HistoryStoreTest, AKillLosesOnlyWhatWasNotCommitted) {
    const Child child = Fork([&](int fd) {
        auto store = OpenStore();
        for (int i = 0; i < 100; ++i) store->Put(Minute(kNewYear2026 + i * kMinuteMs));
        if (!store->Flush()) _exit(2);
        for (int i = 100; i < 150; ++i) store->Put(Minute(kNewYear2026 + i * kMinuteMs));
        Tell(fd, "p");
        pause();
    });
    char c = 0;
    ASSERT_EQ(read(child.fd, &c, 1), 1);
    kill(child.pid, SIGKILL);
    waitpid(child.pid, nullptr, 0);
    close(child.fd);
    {
        SqliteDb db(m_options.path, SQLITE_OPEN_READWRITE);
        EXPECT_EQ(QuickCheck(db), "");
    }
    auto store = OpenStore();
    EXPECT_EQ(m_notices.Count("damaged"), 0);
    EXPECT_EQ(AllRows(*store).size(), 100u);
}

TEST_F(HistoryStoreTest, AFullDiskIsSaidOnceAndItsRowsWrittenLater) {
    m_options.maxQueued = 15;
    const Child child = Fork([&](int fd) {
        auto store = OpenStore();
        for (int i = 0; i < 10; ++i) store->Put(Minute(kNewYear2026 + i * kMinuteMs));
        const bool before = store->Flush();
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{0, RLIM_INFINITY};  // no byte more to any file: EFBIG
        setrlimit(RLIMIT_FSIZE, &limit);
        for (int i = 10; i < 20; ++i) store->Put(Minute(kNewYear2026 + i * kMinuteMs));
        for (int i = 0; i < 8; ++i) store->PutRaw(7, kNewYear2026 + i, {});
        const bool full1 = store->Flush(), full2 = store->Flush();
        const StoreStatus waiting = store->Status();
        limit.rlim_cur = RLIM_INFINITY;
        setrlimit(RLIMIT_FSIZE, &limit);
        const bool after = store->Flush();
        Tell(fd, std::to_string(before) + std::to_string(full1) + std::to_string(full2) +
                     std::to_string(after) + " queued " + std::to_string(waiting.queued) +
                     " dropped " + std::to_string(waiting.dropped) + " failing " +
                     std::to_string(waiting.failing) + " said " +
                     std::to_string(m_notices.Count("cannot write")) + " again " +
                     std::to_string(m_notices.Count("history: writing again (3 rows")) + " left " +
                     std::to_string(store->Status().queued));
    });
    const std::string told = ReadAll(child.fd);
    waitpid(child.pid, nullptr, 0);
    EXPECT_EQ(told, "1001 queued 15 dropped 3 failing 1 said 1 again 1 left 0");
    std::string error;
    auto reader = HistoryStore::OpenForReading(m_options.path, error);
    ASSERT_TRUE(reader) << error;
    EXPECT_EQ(AllRows(*reader).size(), 20u);
    EXPECT_EQ(reader->Raw(7, 0).size(), 5u);  // 3 of the 8 gave way
}

// Root writes to a file of mode 0444 all the same: the child then runs as nobody.
TEST_F(HistoryStoreTest, AReadOnlyFileIsSaidOnceAndWrittenWhenWritable) {
    chmod(m_dir.c_str(), 0777);
    const Child child = Fork([&](int fd) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            Tell(fd, "no nobody");
            return;
        }
        OpenStore().reset();
        chmod(m_options.path.c_str(), 0444);
        auto store = OpenStore();
        store->Put(Minute(kNewYear2026));
        const bool refused1 = store->Flush(), refused2 = store->Flush();
        chmod(m_options.path.c_str(), 0644);
        const bool after = store->Flush();
        Tell(fd, std::to_string(refused1) + std::to_string(refused2) + std::to_string(after) +
                     " said " + std::to_string(m_notices.Count("read-only")) + " again " +
                     std::to_string(m_notices.Count("history: writing again")) + " rows " +
                     std::to_string(AllRows(*store).size()));
    });
    const std::string told = ReadAll(child.fd);
    waitpid(child.pid, nullptr, 0);
    if (told == "no nobody") GTEST_SKIP() << "running as root, and cannot become nobody";
    EXPECT_EQ(told, "001 said 1 again 1 rows 1");
}

// ---- how big a meter's year is: run with --gtest_also_run_disabled_tests

TEST_F(HistoryStoreTest, DISABLED_FileSizeOfOneMeterYear) {
    m_options.days = 400;
    auto store = OpenStore();
    const int64_t start = kNewYear2026;
    uint32_t noise = 1;
    auto jitter = [&] {
        noise = noise * 1664525u + 1013904223u;
        return double(noise >> 8) / double(1u << 24);
    };
    double energy = 123456789.0;
    for (int64_t m = 0; m < 365 * 1440; ++m) {
        MinuteRow row = Minute(start + m * kMinuteMs);
        for (int q = 0; q < kQuantityCount; ++q) {
            row.min[q] = 200 + jitter();
            row.mean[q] = 210 + jitter();
            row.max[q] = 220 + jitter();
            row.last[q] = 215 + jitter();
        }
        energy += 20 * jitter();
        for (int q = kEnergyForward; q < kEnergyForward + 4; ++q) row.last[q] = energy;
        store->Put(row);
        if (m % 15 == 14)
            store->PutDemand(
                {7, start + (m - 14) * kMinuteMs, 15, 1000 * jitter(), 1100, "energy", true});
        if (m % 60 == 59) {
            m_now = start + (m + 1) * kMinuteMs;
            store->Flush();
        }
    }
    store.reset();  // the last connection's checkpoint
    const auto withoutRaw = fs::file_size(m_options.path);
    store = OpenStore();
    for (int s = 0; s < 3600; ++s) store->PutRaw(7, m_now + s * 1000, {});
    store.reset();
    std::string error;
    auto reader = HistoryStore::OpenForReading(m_options.path, error);
    size_t minutes = 0, quarters = 0;
    for (const auto& row : AllRows(*reader)) (row.stepS == 60 ? minutes : quarters) += 1;
    printf("one meter, a year: %zu minute rows, %zu quarter rows, %zu demand intervals\n", minutes,
           quarters, reader->Demands(7, 0, m_now).size());
    printf("file: %.1f MB; with an hour of raw readings at 1/s: %.1f MB\n",
           double(withoutRaw) / 1e6, double(fs::file_size(m_options.path)) / 1e6);
    EXPECT_EQ(minutes, 7u * 1440);
}

}  // namespace
