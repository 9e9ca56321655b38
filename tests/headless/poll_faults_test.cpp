#include <gtest/gtest.h>

#include "support/MeterRig.h"

namespace {

// Ticks until the next tick will send the measurement request.
void UntilMeasurementRequestIsNext(MeterRig& rig) {
    for (int i = 0; i < 10 && !(rig.dlg.m_byStage == 4 && rig.Reads().back().second == 19); ++i)
        rig.Ticks(1);
    ASSERT_EQ(rig.dlg.m_byStage, 4);
}

}  // namespace

TEST(PollFaults, OnlyValidFramesChangeTheFields) {
    struct Case {
        LineFault fault;
        bool frameSurvives;  // the reply still holds a valid frame the tick can find
    } cases[] = {
        {LineFault::Silence, false},      {LineFault::BadCrc, false},
        {LineFault::OtherAddress, false}, {LineFault::Exception, false},
        {LineFault::Split, false},        {LineFault::Late, false},
        {LineFault::NoiseBefore, true},   {LineFault::NoiseAfter, true},
        {LineFault::Flood, true},         {LineFault::Echo, true},
    };
    for (const Case& c : cases) {
        MeterRig rig;
        // Set A on the window, then set B behind a faulted measurement reply.
        rig.LoadRegisters(SetARegister);
        rig.Run();
        rig.Ticks(5);
        ASSERT_EQ(rig.Shown(kSetATexts), kSetATexts);
        const std::string rxEchoA = rig.Text(IDC_RX_ECHO);

        UntilMeasurementRequestIsNext(rig);
        rig.LoadRegisters(SetBRegister);
        rig.meter.InjectNext(c.fault);
        rig.Ticks(1);  // the measurement request goes out; its reply is faulted
        rig.Ticks(1);  // the tick that reads it
        if (c.frameSurvives) {
            EXPECT_EQ(rig.Shown(kSetBTexts), kSetBTexts) << LineFaultName(c.fault);
            EXPECT_EQ(rig.dlg.m_byStage, 4) << LineFaultName(c.fault);
        } else {
            EXPECT_EQ(rig.Shown(kSetATexts), kSetATexts) << LineFaultName(c.fault);
            EXPECT_EQ(rig.Text(IDC_RX_ECHO), rxEchoA) << LineFaultName(c.fault);
            EXPECT_EQ(rig.dlg.m_byStage, 3) << LineFaultName(c.fault);
        }
        // Whatever happened, the cycle recovers with the next good reply.
        rig.Ticks(4);
        EXPECT_EQ(rig.Shown(kSetBTexts), kSetBTexts) << LineFaultName(c.fault);
        EXPECT_TRUE(rig.ws.MessageBoxes().empty());
    }
}

TEST(PollFaults, FaultsOnParameterBlocksNeverChangeScales) {
    MeterRig rig;
    rig.model.SetPt(10);
    rig.Run();
    rig.Ticks(6);
    ASSERT_EQ(rig.dlg.m_nPT, 10u);
    for (LineFault f :
         {LineFault::BadCrc, LineFault::OtherAddress, LineFault::Exception, LineFault::Split}) {
        UntilMeasurementRequestIsNext(rig);
        rig.Ticks(1);  // measurement
        rig.model.SetPt(20);
        rig.meter.InjectNext(f);
        rig.Ticks(2);  // parameter request out, faulted reply read
        EXPECT_EQ(rig.dlg.m_nPT, 10u) << LineFaultName(f);
        rig.model.SetPt(10);
        rig.Ticks(3);
    }
}

TEST(PollMends, EnergyExponentBeyondTheTableKeepsTheLastScale) {
    MeterRig rig;
    rig.model.SetEnergyExponent(2);
    rig.Run();
    rig.Ticks(1 + 1);
    ASSERT_EQ(rig.dlg.m_nEnergyScale, 100);
    rig.model.SetEnergyExponent(7);
    rig.Ticks(4);
    EXPECT_EQ(rig.dlg.m_byStage, 3);  // a fourth-stage block was decoded
    EXPECT_EQ(rig.dlg.m_nEnergyScale, 100);
    rig.model.SetEnergyExponent(255);
    rig.Ticks(2);
    EXPECT_EQ(rig.dlg.m_nEnergyScale, 100);
}

TEST(PollMends, StatusBytesLeftByAnOlderReadRaiseNoAlarm) {
    MeterRig rig;
    rig.model.voltageStatus = 0x9B;
    rig.model.currentStatus = 0x40;
    rig.Run();
    rig.Ticks(5);
    EXPECT_EQ((std::vector<BYTE>(rig.dlg.m_byLimitState, rig.dlg.m_byLimitState + 8)),
              (std::vector<BYTE>{1, 1, 1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(rig.ws.TextsSetFor(1065).back(), "欠压");
    EXPECT_EQ(rig.ws.TextsSetFor(1074).back(), "欠流");

    // The meter stops sending the two bytes: positions 95 and 96 still hold the old ones.
    rig.meter.sendsStatusBytes = false;
    rig.Ticks(2);
    ASSERT_EQ(rig.dlg.m_rxBuf[95], 0x9B);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(rig.dlg.m_byLimitState[k], 0) << k;
    EXPECT_EQ(rig.ws.TextsSetFor(1065).back(), "正常");
}

TEST(PollMends, TicksDuringTheAddressPromptStartNoNestedTick) {
    MeterRig rig;
    rig.Run();
    rig.Ticks(4);
    size_t sentBefore = rig.port.SentFrames().size();
    int prompts = 0;
    rig.ws.OnMessageBox([&](const std::string&) {
        ++prompts;
        rig.ws.Advance(3000);  // the operator reads the prompt for three seconds
    });
    rig.TypeAddress("abc");
    rig.Ticks(1);  // decoding takes edit 1061: the prompt opens inside the tick
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(rig.port.SentFrames().size(), sentBefore + 1);  // only the tick's own request
    rig.ws.OnMessageBox(nullptr);
}

TEST(StatusColours, OnlyTheEightStatusEditsAreColoured) {
    MeterRig rig;
    rig.dlg.m_byLimitState[1] = 1;
    CDC dc;
    CWnd status(1065), measure(1001), hidden(1064);
    HBRUSH red = rig.dlg.OnCtlColor(&dc, &status, CTLCOLOR_EDIT);
    ASSERT_NE(red, nullptr);
    EXPECT_EQ(red->Color(), RGB(181, 240, 249));
    EXPECT_EQ(dc.GetTextColor(), RGB(255, 0, 0));
    EXPECT_EQ(dc.GetBkMode(), TRANSPARENT);
    EXPECT_EQ(rig.dlg.OnCtlColor(&dc, &status, CTLCOLOR_EDIT), red);  // made once, kept

    rig.dlg.m_byLimitState[1] = 0;
    CDC clear;
    HBRUSH black = rig.dlg.OnCtlColor(&clear, &status, CTLCOLOR_EDIT);
    EXPECT_EQ(clear.GetTextColor(), RGB(0, 0, 0));
    EXPECT_NE(black, red);  // one brush per field and state

    CDC other;
    EXPECT_EQ(rig.dlg.OnCtlColor(&other, &measure, CTLCOLOR_EDIT), nullptr);  // the base result
    EXPECT_EQ(other.GetBkMode(), OPAQUE);
    CDC stat;
    EXPECT_EQ(rig.dlg.OnCtlColor(&stat, &hidden, CTLCOLOR_STATIC), rig.ws.DialogBkBrush());
}

// Found by fuzzing: a read with nothing waiting copied from an empty block.
TEST(PollMends, ReadingAnEmptyQueueCopiesNothing) {
    MeterRig rig;
    rig.port.AttachPeer(nullptr);
    rig.dlg.m_rxBuf[0] = 0xA5;
    EXPECT_EQ(rig.dlg.ReadReceived(), 0);
    EXPECT_EQ(rig.dlg.m_rxBuf[0], 0xA5);
}
