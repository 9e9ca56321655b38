// The poller's engine against simulated meters on an in-memory bus and a virtual clock:
// rounds, validation, late replies, silence, unplug.
#include <gtest/gtest.h>

#include <cmath>

#include "modbus/Frame.h"
#include "poll/PollEngine.h"
#include "sim/Bus.h"
#include "support/HandTexts.h"

namespace {

// Meters on one in-memory bus, each answering its own address, unless a test's override
// answers in their place.
struct Peers : ISimPeer {
    Bus meters;
    std::function<void(const ByteBlock&, double, IReplySink&)> override;
    void Add(uint8_t address, uint16_t (*reg)(int), uint16_t pt = 1) {
        MeterModel like;
        like.SetPt(pt);
        like.Freeze(true);
        for (int r = 0; r < 45; ++r) like.SetMeasurement(r, reg(r));
        meters.Add(like, address).sendsStatusBytes = false;
    }
    void OnReceive(const ByteBlock& b, double now, const LineSettings& line,
                   IReplySink& sink) override {
        if (override) return override(b, now, sink);
        meters.OnReceive(b, now, line, sink);
    }
};

struct Collect : IReadingSink {
    std::vector<Reading> readings;
    void OnReading(const Reading& r) override { readings.push_back(r); }
};

// The production line and exchange over the in-memory port: waiting spends virtual time.
struct EngineRig {
    VirtualClock clock;
    MemoryPort port{clock};
    std::unique_ptr<IPollLine> line = MakeSerialPollLine(port, "bus", "/dev/bus", {}, clock);
    std::unique_ptr<IExchange> exchange = MakeExchange(*line, kRtu, 9600, 0);
    Peers bus;
    Collect out;
    std::vector<std::string> notices;
    std::atomic<bool> stop{false};

    EngineRig() {
        port.AttachPeer(&bus);
        line->Open();
    }
    PollEngine Engine(std::vector<uint8_t> addresses, long rounds) {
        PollConfig c;
        c.addresses = std::move(addresses);
        c.rounds = rounds;
        return PollEngine(
            *line, *exchange, c, {&out}, [this](const std::string& n) { notices.push_back(n); },
            [this] { return int64_t(clock.NowMs()); });
    }
    double Voltage(const Reading& r) const { return r.values[QuantityIndex("voltage_a")]; }
};

// A measurement response from address with every register from reg.
ByteBlock MeasurementReply(uint8_t address, uint16_t (*reg)(int)) {
    ByteBlock b = {address, 0x03, 90};
    for (int r = 0; r < 45; ++r) b.push_back(uint8_t(reg(r) >> 8)), b.push_back(uint8_t(reg(r)));
    b.resize(b.size() + 2);
    AppendCrc(b.data(), 93);
    return b;
}

}  // namespace

TEST(PollEngine, RoundsReadEachMeterScaledByItsOwnParameters) {
    EngineRig rig;
    rig.bus.Add(1, SetARegister, 100);
    rig.bus.Add(2, SetBRegister, 1);
    auto engine = rig.Engine({1, 2}, 3);
    engine.Run(rig.stop);
    ASSERT_EQ(rig.out.readings.size(), 6u);
    for (size_t k = 0; k < 6; ++k) {
        const Reading& r = rig.out.readings[k];
        EXPECT_EQ(r.address, k % 2 ? 2 : 1);
        EXPECT_DOUBLE_EQ(rig.Voltage(r),
                         k % 2 ? 15.0 : 1000.0);  // 1500 x 1 / 100; 1000 x 100 / 100
    }
    // Parameter block once per meter, then one measurement read a round: 8 requests, each
    // answered after the line's own time (about 126 ms at 9600 bit/s), never a fixed wait.
    EXPECT_EQ(rig.port.SentFrames().size(), 8u);
    EXPECT_LT(rig.clock.NowMs(), 8u * 130);
    EXPECT_EQ(engine.Health()[0].ok, 4u);
    EXPECT_TRUE(rig.notices.empty());
}

TEST(PollEngine, ALateReplyIsNeverTakenForTheNextAnswer) {
    EngineRig rig;
    rig.bus.Add(1, SetARegister);
    int measurementRequests = 0;
    rig.bus.override = [&](const ByteBlock& req, double now, IReplySink& sink) {
        if (req[2] != 0x00) return rig.bus.meters.Meter(0).OnReceive(req, now, {}, sink);
        // The first measurement reply comes after the poller gave up on it, during the next
        // request, and holds other values; the others come in time.
        if (++measurementRequests == 1)
            sink.Deliver(MeasurementReply(1, SetBRegister), now + 300);
        else
            sink.Deliver(MeasurementReply(1, SetARegister), now + 125);
    };
    rig.bus.meters.Model(0).Freeze(true);
    auto engine = rig.Engine({1}, 4);
    engine.Run(rig.stop);
    ASSERT_EQ(rig.out.readings.size(), 3u);
    for (const Reading& r : rig.out.readings) EXPECT_DOUBLE_EQ(rig.Voltage(r), 10.0);
    EXPECT_EQ(engine.Health()[0].timeouts, 1u);
}

// What the meter at address 1 does with the first measurement request, and how the
// engine must judge it; the second measurement request is answered normally.
struct FirstReplyCase {
    const char* what;
    std::function<void(const ByteBlock& request, double now, IReplySink&)> reply;
    uint64_t ok, timeouts, badFrames, exceptions;
};

TEST(PollEngine, AReplyIsJudgedByWhatItIsNeverByHowSoonItCame) {
    const ByteBlock exception = [] {
        ByteBlock b = {1, 0x83, 0x02, 0, 0};
        AppendCrc(b.data(), 3);
        return b;
    }();
    const std::vector<FirstReplyCase> cases = {
        // Software slaves and bridges answer at once, with no wire time.
        {"at once",
         [](auto&, double now, auto& s) { s.Deliver(MeasurementReply(1, SetARegister), now); }, 3,
         0, 0, 0},
        {"in pieces at once",
         [](auto&, double now, auto& s) {
             ByteBlock r = MeasurementReply(1, SetARegister);
             s.Deliver(ByteBlock(r.begin(), r.begin() + 40), now + 0.01);
             s.Deliver(ByteBlock(r.begin() + 40, r.end()), now + 0.02);
         },
         3, 0, 0, 0},
        // The adapter's echo of the request is not the meter speaking.
        {"echo only", [](const ByteBlock& req, double now, auto& s) { s.Deliver(req, now); }, 2, 1,
         0, 0},
        {"noise",
         [](auto&, double now, auto& s) {
             s.Deliver({0x55, 0xAA, 0x01}, now + 5);
         },
         2, 0, 1, 0},
        {"another meter's block",
         [](auto&, double now, auto& s) { s.Deliver(MeasurementReply(2, SetARegister), now); }, 2,
         0, 1, 0},
        // An exception after the timeout belongs to the request that gave up, not the next.
        {"late exception", [&](auto&, double now, auto& s) { s.Deliver(exception, now + 250); }, 2,
         1, 0, 0},
        {"exception in time", [&](auto&, double now, auto& s) { s.Deliver(exception, now + 20); },
         2, 0, 0, 1},
    };
    for (const FirstReplyCase& c : cases) {
        EngineRig rig;
        rig.bus.Add(1, SetARegister);
        int measurementRequests = 0;
        rig.bus.override = [&](const ByteBlock& req, double now, IReplySink& sink) {
            if (req[2] == 0x00 && ++measurementRequests == 1) return c.reply(req, now, sink);
            rig.bus.meters.Meter(0).OnReceive(req, now, {}, sink);
        };
        auto engine = rig.Engine({1}, 2);
        engine.Run(rig.stop);
        const MeterHealth& h = engine.Health()[0];
        EXPECT_EQ(h.ok, c.ok) << c.what;
        EXPECT_EQ(h.timeouts, c.timeouts) << c.what;
        EXPECT_EQ(h.badFrames, c.badFrames) << c.what;
        EXPECT_EQ(h.exceptions, c.exceptions) << c.what;
        ASSERT_EQ(rig.out.readings.size(), c.ok - 1) << c.what;
        for (const Reading& r : rig.out.readings) EXPECT_DOUBLE_EQ(rig.Voltage(r), 10.0) << c.what;
    }
}

TEST(PollEngine, BadFramesAndExceptionsAreCountedNeverEmitted) {
    EngineRig rig;
    rig.bus.Add(1, SetARegister);
    rig.bus.meters.Meter(0).InjectNext(LineFault::None);  // the parameter block
    rig.bus.meters.Meter(0).InjectNext(LineFault::BadCrc);
    rig.bus.meters.Meter(0).InjectNext(LineFault::Exception);
    rig.bus.meters.Meter(0).InjectNext(LineFault::OtherAddress);
    rig.bus.meters.Meter(0).InjectNext(LineFault::Echo);  // our echo, then the reply: good
    auto engine = rig.Engine({1}, 4);
    engine.Run(rig.stop);
    EXPECT_EQ(rig.out.readings.size(), 1u);
    const MeterHealth& h = engine.Health()[0];
    EXPECT_EQ(h.ok, 2u);
    EXPECT_EQ(h.badFrames, 2u);  // the bad CRC and the other address's frame
    EXPECT_EQ(h.exceptions, 1u);
    EXPECT_TRUE(rig.notices.empty());  // faults between good replies: no silent meter
}

TEST(PollEngine, ASilentMeterIsReportedOnceAndAgainWhenBackWhileTheOthersKeepTheirPace) {
    EngineRig rig;
    rig.bus.Add(1, SetARegister);
    rig.bus.Add(2, SetBRegister);
    bool silent = false;
    rig.bus.override = [&](const ByteBlock& req, double now, IReplySink& sink) {
        if (!(silent && req[0] == 2)) rig.bus.meters.OnReceive(req, now, {}, sink);
    };
    // Rounds until meter 1 has 20 readings, meter 2 silent from the 5th to the 15th second.
    struct Stopper : IReadingSink {
        EngineRig& rig;
        bool& silent;
        int meterOne = 0;
        Stopper(EngineRig& r, bool& s) : rig(r), silent(s) {}
        void OnReading(const Reading& r) override { meterOne += r.address == 1; }
        void OnRoundEnd(const std::vector<MeterHealth>&) override {
            silent = rig.clock.NowMs() > 5000 && rig.clock.NowMs() < 15000;
            if (rig.clock.NowMs() > 25000) rig.stop = true;
        }
    } stopper{rig, silent};
    PollConfig c;
    c.addresses = {1, 2};
    PollEngine run(
        *rig.line, *rig.exchange, c, {&rig.out, &stopper},
        [&](const std::string& n) { rig.notices.push_back(n); },
        [&] { return int64_t(rig.clock.NowMs()); });
    run.Run(rig.stop);
    ASSERT_EQ(rig.notices.size(), 2u);
    EXPECT_NE(rig.notices[0].find("meter 2 on bus stopped answering"), std::string::npos);
    EXPECT_NE(rig.notices[1].find("meter 2 on bus answers again"), std::string::npos);
    // Meter 1 read at least every 2 x 126 ms plus a timeout, even while meter 2 was silent.
    double last = 0, longest = 0;
    for (const Reading& r : rig.out.readings)
        if (r.address == 1) longest = std::max(longest, r.unixMs - last), last = double(r.unixMs);
    EXPECT_LT(longest, 2 * 130 + 250);
    EXPECT_GT(stopper.meterOne, 25000 / 500);
    EXPECT_TRUE(run.Health()[1].answering);
}

TEST(PollEngine, AVanishedPortIsReportedOnceAndReopened) {
    EngineRig rig;
    rig.bus.Add(1, SetARegister);
    struct Unplugger : IReadingSink {
        EngineRig& rig;
        int rounds = 0;
        explicit Unplugger(EngineRig& r) : rig(r) {}
        void OnReading(const Reading&) override {}
        void OnRoundEnd(const std::vector<MeterHealth>&) override {
            if (++rounds == 3) rig.port.Unplug();
        }
    } unplugger{rig};
    PollConfig c;
    c.addresses = {1};
    c.rounds = 8;
    PollEngine engine(
        *rig.line, *rig.exchange, c, {&rig.out, &unplugger},
        [&](const std::string& n) {
            rig.notices.push_back(n);
            if (n.find("lost") != std::string::npos) rig.clock.Advance(5000), rig.port.Replug();
        },
        [&] { return int64_t(rig.clock.NowMs()); });
    engine.Run(rig.stop);
    ASSERT_EQ(rig.notices.size(), 2u);
    EXPECT_NE(rig.notices[0].find("port bus lost"), std::string::npos);
    EXPECT_NE(rig.notices[1].find("port bus is back"), std::string::npos);
    EXPECT_EQ(rig.out.readings.size(), 7u);  // the round that found the port gone has none
    EXPECT_EQ(rig.port.OpenCount(), 2);
}
