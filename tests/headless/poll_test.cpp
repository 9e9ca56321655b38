#include <gtest/gtest.h>

#include "support/MeterRig.h"

namespace {

using Read = std::pair<uint16_t, uint16_t>;
const Read kParam{0x0300, 19}, kSetA{0x0328, 4}, kSetB{0x0322, 1}, kMeas{0x0000, 45};

}  // namespace

TEST(PollCycle, RequestsGoOutInStageOrderOnePerAnsweredTick) {
    MeterRig rig;
    rig.Run();
    EXPECT_EQ(rig.Text(IDC_RUN_STOP), "停止");
    rig.Ticks(8);
    EXPECT_EQ(rig.Reads(),
              (std::vector<Read>{kParam, kSetA, kSetB, kMeas, kParam, kMeas, kParam, kMeas}));
    EXPECT_EQ(rig.LastSent(), (ByteBlock{0x01, 0x03, 0x00, 0x00, 0x00, 0x2D, 0x85, 0xD7}));
}

TEST(PollCycle, EveryFieldShowsTheMetersRegistersAfterTheFifthTick) {
    MeterRig rig;
    rig.LoadRegisters(SetARegister);
    rig.Run();
    rig.Ticks(4);
    EXPECT_EQ(rig.Text(1001), "");
    rig.Ticks(1);
    EXPECT_EQ(rig.dlg.m_byStage, 4);
    EXPECT_EQ(rig.Shown(kSetATexts), kSetATexts);

    // Edit 1021 holds the request just sent; 1022 the measurement request and 100 buffer bytes.
    const ByteBlock& measReq = rig.port.SentFrames()[3].bytes;
    const ByteBlock& paramReq = rig.port.SentFrames()[4].bytes;
    EXPECT_EQ(rig.Text(IDC_TX_ECHO), HexEcho(paramReq.data(), 8));
    std::string rx = rig.Text(IDC_RX_ECHO);
    ASSERT_EQ(rx.size(), 4u * (8 + 100));
    EXPECT_EQ(rx.substr(0, 32), HexEcho(measReq.data(), 8));
    EXPECT_EQ(rx.substr(32, 12), "01\r 03\r 5A\r ");
}

TEST(PollCycle, ParameterBlockSetsScalesAndTheClassCaption) {
    MeterRig rig;
    rig.LoadRegisters(SetARegister);
    rig.model.SetPt(100);
    rig.model.SetCt(5);
    rig.model.SetWiring(3);
    rig.model.SetUrgFlag(1);
    rig.model.SetEnergyExponent(3);
    rig.model.SetClass(0x0001);
    rig.Run();
    rig.Ticks(2);
    EXPECT_EQ(rig.dlg.m_nPT, 100u);
    EXPECT_EQ(rig.dlg.m_nCT, 5u);
    EXPECT_EQ(rig.dlg.m_byWiring, 3);
    EXPECT_EQ(rig.dlg.m_nUrgFactor, 4);
    EXPECT_EQ(rig.dlg.m_nEnergyScale, 1000);
    EXPECT_EQ(rig.Text(IDC_CLASS), "0.2级");
    EXPECT_EQ(rig.Text(IDC_ADDR_WIRING), "");  // not at the first parameter block
    // Setting block A, scaled by the new ratios: 264.00 V ... with PT 100.
    EXPECT_DOUBLE_EQ(rig.dlg.m_dAuxVal[0], 0);
    rig.Ticks(1);
    EXPECT_DOUBLE_EQ(rig.dlg.m_dAuxVal[0], 26400.0 * 100 / 100);
    EXPECT_DOUBLE_EQ(rig.dlg.m_dAuxVal[3], 1000.0 * 5 / 10000);
    EXPECT_EQ(rig.ws.TextsSetFor(1066).back(), "26400.00 ");
    EXPECT_EQ(rig.ws.TextsSetFor(1069).back(), "0.5000 ");
    rig.Ticks(3);
    EXPECT_EQ(rig.Shown(kSetAScaledTexts), kSetAScaledTexts);
    EXPECT_EQ(rig.Text(IDC_ADDR_WIRING), "1,3");  // the second parameter block
    rig.model.SetClass(0x0100);
    rig.Ticks(2);
    EXPECT_EQ(rig.Text(IDC_CLASS), "0.5级");
}

TEST(PollCycle, SilentMeterGetsTheSameRequestEveryTick) {
    MeterRig rig;
    rig.port.AttachPeer(nullptr);
    rig.Run();
    rig.Ticks(6);
    EXPECT_EQ(rig.Reads(), std::vector<Read>(6, kParam));
    EXPECT_EQ(rig.dlg.m_byStage, 0);
    EXPECT_TRUE(rig.ws.MessageBoxes().empty());
}

TEST(PollCycle, StopHoldsTheStageAndRunResumesThere) {
    MeterRig rig;
    rig.Run();
    rig.Ticks(5);
    ASSERT_EQ(rig.dlg.m_byStage, 4);
    rig.Click(IDC_RUN_STOP);
    EXPECT_EQ(rig.Text(IDC_RUN_STOP), "运行");
    EXPECT_FALSE(rig.window->TimerRunning(1));
    size_t sent = rig.port.SentFrames().size();
    rig.Ticks(10);
    EXPECT_EQ(rig.port.SentFrames().size(), sent);
    rig.Click(IDC_RUN_STOP);
    rig.Ticks(1);
    // The parameter reply waiting since the stop is taken: the cycle goes on at stage 3.
    EXPECT_EQ(rig.dlg.m_byStage, 3);
    EXPECT_EQ(rig.Reads().back(), kMeas);
}

TEST(PollCycle, ParameterBlockAddressRedirectsTheCycleUntilRunStop) {
    MeterRig rig;
    rig.model.answersAt = 1;
    rig.model.SetAddress(9);  // register 0x0300 names another address than the line's
    rig.Run(1);
    rig.Ticks(2);
    EXPECT_EQ(rig.dlg.m_bySlaveAddr, 9);
    EXPECT_EQ(rig.LastSent()[0], 9);  // the request of the same tick already goes there
    rig.Ticks(3);
    EXPECT_EQ(rig.dlg.m_byStage, 1);  // nobody answers at 9
    EXPECT_EQ(rig.Reads().back(), kSetA);
    rig.Click(IDC_RUN_STOP);
    rig.Click(IDC_RUN_STOP);  // takes 1 from edit 1061 again
    EXPECT_EQ(rig.dlg.m_bySlaveAddr, 1);
}

TEST(PollCycle, TimerTwoAdvancesTheScanCandidate) {
    MeterRig rig;
    rig.dlg.m_nScanAddr = 254;
    rig.dlg.SetTimer(2, 500);
    rig.ws.Advance(500);
    EXPECT_EQ(rig.dlg.m_nScanAddr, 255);
    rig.ws.Advance(500);
    EXPECT_EQ(rig.dlg.m_nScanAddr, 1);  // 255 became 0, was probed, then 1
}
