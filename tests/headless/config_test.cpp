#include <gtest/gtest.h>

#include "config/MeterSetDlg.h"
#include "support/MeterRig.h"

namespace {

using Frames = std::vector<ByteBlock>;
using Texts = std::vector<std::string>;

// The operator's answer to the port dialog.
auto CommSetAnswer(int baudRadio, int parityRadio, const char* port = nullptr) {
    return [=](HeadlessDialog& h) {
        if (baudRadio) h.Click(baudRadio);
        if (parityRadio) h.Click(parityRadio);
        if (port) h.Type(1000, port);
        h.Click(IDOK);
    };
}

auto MeterSetAnswer(const char* pt, const char* ct, int wiringRadio) {
    return [=](HeadlessDialog& h) {
        h.Type(IDC_PT, pt);
        h.Type(IDC_CT, ct);
        if (wiringRadio) h.Click(wiringRadio);
        h.Click(IDOK);
    };
}

auto AddrAnswer(const char* text) {
    return [=](HeadlessDialog& h) {
        EXPECT_EQ(h.Text(IDC_NEW_ADDR), "0");
        h.Type(IDC_NEW_ADDR, text);
        h.Click(IDOK);
    };
}

}  // namespace

// ---- 通讯设置

TEST(CommSet, UnchangedSettingsSendNothingButReopenAndRestartPolling) {
    MeterRig rig;
    ASSERT_FALSE(rig.window->TimerRunning(1));
    rig.ws.Expect(CommSetAnswer(0, 0));
    rig.Click(IDC_COMM_SET);
    EXPECT_TRUE(rig.port.SentFrames().empty());
    EXPECT_EQ(rig.port.OpenCount(), 2);
    EXPECT_TRUE(rig.port.IsOpen());
    EXPECT_EQ(rig.ws.TextsSetFor(IDC_PORT_STATUS).size(), 2u);
    EXPECT_TRUE(rig.window->TimerRunning(1));  // although polling was never switched on
    EXPECT_EQ(rig.Text(IDC_RUN_STOP), "运行");
}

TEST(CommSet, OnlyThePortNumberReopensOnTheNewPort) {
    MeterRig rig;
    rig.ws.Expect(CommSetAnswer(0, 0, "2"));
    rig.Click(IDC_COMM_SET);
    EXPECT_TRUE(rig.port.SentFrames().empty());
    EXPECT_EQ(rig.port.OpenDevice(), "/dev/sim2");
    EXPECT_EQ(rig.Text(IDC_PORT_STATUS), "串行口: 2 \r\n\r\n波特率: 9600 \r\n\r\n校验位:无校验");
}

TEST(CommSet, BaudRateChangeConfirmedByTheMeterMovesBothEnds) {
    MeterRig rig;
    rig.ws.Expect(CommSetAnswer(1009, 0));
    rig.Click(IDC_COMM_SET);
    ASSERT_EQ(rig.port.SentFrames().size(), 1u);
    EXPECT_EQ(rig.port.SentFrames()[0].bytes,
              (ByteBlock{0x01, 0x06, 0x00, 0x08, 0x00, 0x00, 0x08, 0x08}));
    EXPECT_EQ(rig.port.SentFrames()[0].line.baud, 9600);  // sent at the old rate
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"改变波特率成功"});
    EXPECT_EQ(rig.dlg.m_nBaud, 1200);
    EXPECT_EQ(rig.port.Line(), *ParseSettings("1200,N,8,2"));
    EXPECT_EQ(rig.model.Baud(), 1200);
    EXPECT_EQ(rig.dlg.m_nPollMs, 500);  // not recomputed
    EXPECT_EQ(rig.window->TimerPeriod(1), 500u);
    // Polling goes on at the new rate: both ends agree. (At 1200 bit/s a measurement
    // response takes longer than the unchanged 500 ms period, so it needs extra ticks.)
    rig.Run();
    rig.Ticks(12);
    EXPECT_FALSE(rig.Text(1001).empty());
}

TEST(CommSet, ParityChangeUnansweredIsReportedAndTheNewParityUsedAllTheSame) {
    MeterRig rig;
    rig.meter.InjectNext(LineFault::Silence);
    rig.ws.Expect(CommSetAnswer(0, 1015));
    rig.Click(IDC_COMM_SET);
    EXPECT_EQ(rig.port.SentFrames().at(0).bytes,
              (ByteBlock{0x01, 0x06, 0x00, 0x06, 0x00, 0x01, 0xA8, 0x0B}));
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"改变校验方式不成功"});
    EXPECT_EQ(rig.dlg.m_nParity, 1);
    EXPECT_EQ(rig.port.Line(), *ParseSettings("9600,O,8,1"));
    EXPECT_EQ(rig.Text(IDC_PORT_STATUS), "串行口: 1 \r\n\r\n波特率: 9600 \r\n\r\n校验位:奇校验");
}

TEST(CommSet, BothChangesGoOutAtTheOldSettingsBaudRateFirst) {
    MeterRig rig;
    rig.ws.Expect(CommSetAnswer(1013, 1016));
    rig.Click(IDC_COMM_SET);
    ASSERT_EQ(rig.port.SentFrames().size(), 2u);
    EXPECT_EQ(rig.port.SentFrames()[0].bytes[3], 0x08);
    EXPECT_EQ(rig.port.SentFrames()[1].bytes[3], 0x06);
    for (const auto& s : rig.port.SentFrames()) EXPECT_EQ(s.line, *ParseSettings("9600,N,8,2"));
    // The meter took the new rate with its reply, so the parity write, still at the old
    // rate, reaches it as garbage: as on a real line.
    EXPECT_EQ(rig.ws.MessageBoxes(), (Texts{"改变波特率成功", "改变校验方式不成功"}));
    EXPECT_EQ(rig.model.Baud(), 19200);
    EXPECT_EQ(rig.port.Line(), *ParseSettings("19200,E,8,1"));
    EXPECT_EQ(rig.Text(IDC_PORT_STATUS), "串行口: 1 \r\n\r\n波特率: 19200 \r\n\r\n校验位:偶校验");
}

TEST(CommSet, ParityChangeAloneIsFollowedByTheMeter) {
    MeterRig rig;
    rig.ws.Expect(CommSetAnswer(0, 1016));
    rig.Click(IDC_COMM_SET);
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"改变校验方式成功"});
    EXPECT_EQ(rig.model.ParityCode(), 2);
    rig.Run();
    rig.Ticks(6);
    EXPECT_FALSE(rig.Text(1001).empty());  // polling goes on with even parity on both ends
}

TEST(CommSet, FailedBaudRateWriteKeepsTheOldRate) {
    MeterRig rig;
    rig.meter.InjectNext(LineFault::BadCrc);
    rig.ws.Expect(CommSetAnswer(1011, 0));
    rig.Click(IDC_COMM_SET);
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"改变波特率不成功"});
    EXPECT_EQ(rig.dlg.m_nBaud, 9600);
    EXPECT_EQ(rig.port.Line().baud, 9600);
}

TEST(CommSet, CancelSendsNothingReopensNothingButStartsPolling) {
    MeterRig rig;
    rig.ws.Expect([](HeadlessDialog& h) {
        h.Click(1009);
        h.PressEsc();
    });
    rig.Click(IDC_COMM_SET);
    EXPECT_TRUE(rig.port.SentFrames().empty());
    EXPECT_EQ(rig.port.OpenCount(), 1);
    EXPECT_EQ(rig.dlg.m_nBaud, 9600);
    EXPECT_TRUE(rig.window->TimerRunning(1));
}

// ---- 仪表设置

TEST(MeterSet, AllThreeSettingsWithReadBacks) {
    MeterRig rig;
    rig.ws.Expect(MeterSetAnswer("100", "5", 1012));
    rig.Click(IDC_METER_SET);
    EXPECT_EQ(
        SentSince(rig.port, 0),
        (Frames{{0x01, 0x10, 0x00, 0x0E, 0x00, 0x02, 0x04, 0x00, 0x64, 0x00, 0x00, 0x33, 0xFC},
                {0x01, 0x03, 0x03, 0x28, 0x00, 0x04, 0xC4, 0x45},
                {0x01, 0x10, 0x00, 0x12, 0x00, 0x02, 0x04, 0x00, 0x05, 0x00, 0x00, 0x63, 0x7B},
                {0x01, 0x03, 0x03, 0x28, 0x00, 0x04, 0xC4, 0x45},
                {0x01, 0x06, 0x00, 0x02, 0x00, 0x03, 0x68, 0x0B}}));
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"设置仪表参数成功"});
    EXPECT_EQ(rig.dlg.m_nPT, 100u);
    EXPECT_EQ(rig.dlg.m_nCT, 5u);
    EXPECT_EQ(rig.dlg.m_byWiring, 3);
    EXPECT_DOUBLE_EQ(rig.dlg.m_dAuxVal[0], 26400.0 * 100 / 100);
    EXPECT_DOUBLE_EQ(rig.dlg.m_dAuxVal[2], 60000.0 * 5 / 10000);
    EXPECT_TRUE(rig.window->TimerRunning(1));
    // Seen again in the parameter block.
    rig.Run();
    rig.Ticks(2);
    EXPECT_EQ(rig.model.Register(0x0307), 100);
    EXPECT_EQ(rig.model.Register(0x0309), 5);
    EXPECT_EQ(rig.model.Register(0x0301), 3);
}

TEST(MeterSet, LargestRatioAndRefusedInput) {
    MeterRig rig;
    rig.ws.Expect([](HeadlessDialog& h) {
        for (const char* bad : {"0", "64001", "-1", "abc", "", "99999999999"}) {
            h.Type(IDC_PT, bad);
            h.Click(IDOK);
            EXPECT_FALSE(h.Ended()) << bad;
            EXPECT_EQ(h.FocusId(), IDC_PT);
        }
        h.Type(IDC_PT, "64000");
        h.Type(IDC_CT, "0");
        h.Click(IDOK);
        EXPECT_FALSE(h.Ended());
        EXPECT_EQ(h.FocusId(), IDC_CT);
        h.Type(IDC_CT, "1");
        h.Click(IDOK);
    });
    rig.Click(IDC_METER_SET);
    EXPECT_EQ(
        rig.port.SentFrames().at(0).bytes,
        (ByteBlock{0x01, 0x10, 0x00, 0x0E, 0x00, 0x02, 0x04, 0xFA, 0x00, 0x00, 0x00, 0x42, 0xFB}));
    Texts boxes = rig.ws.MessageBoxes();
    ASSERT_EQ(boxes.size(), 8u);
    EXPECT_EQ(boxes[0], "请输入一个 1 和 64000 之间的整数。");
    EXPECT_EQ(boxes[2], "请输入一个正整数。");
    EXPECT_EQ(boxes.back(), "设置仪表参数成功");
}

TEST(MeterSet, RejectedCtWriteStopsTheSeriesAndKeepsTheNewPt) {
    MeterRig rig;
    rig.meter.InjectNext(LineFault::None, 2);  // PT write and its read-back
    rig.meter.InjectNext(LineFault::Exception);
    rig.ws.Expect(MeterSetAnswer("200", "10", 1014));
    rig.Click(IDC_METER_SET);
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"设置CT不成功"});
    EXPECT_EQ(rig.dlg.m_nPT, 200u);
    EXPECT_EQ(rig.dlg.m_nCT, 1u);
    EXPECT_EQ(rig.dlg.m_byWiring, 0);
    EXPECT_EQ(rig.port.SentFrames().size(), 3u);  // no wiring frame
}

TEST(MeterSet, SilentReadBackIsReportedAndTheSeriesGoesOn) {
    MeterRig rig;
    rig.meter.InjectNext(LineFault::None);
    rig.meter.InjectNext(LineFault::Silence);
    rig.ws.Expect(MeterSetAnswer("1", "1", 0));
    rig.Click(IDC_METER_SET);
    EXPECT_EQ(rig.ws.MessageBoxes(), (Texts{"读取更新后参数不成功", "设置仪表参数成功"}));
    EXPECT_EQ(rig.port.SentFrames().size(), 5u);
}

TEST(MeterSet, WiringCodeOutsideTheRadiosIsWrittenBackUnchanged) {
    MeterRig rig;
    rig.dlg.m_byWiring = 9;
    rig.ws.Expect([](HeadlessDialog& h) {
        for (int id = IDC_WIRING_FIRST; id <= IDC_WIRING_LAST; ++id) EXPECT_FALSE(h.Checked(id));
        EXPECT_EQ(h.Text(IDC_PT), "1");
        h.Click(IDOK);
    });
    rig.meter.SetRandomFaults(0);
    rig.Click(IDC_METER_SET);
    ASSERT_EQ(rig.port.SentFrames().size(), 5u);
    EXPECT_EQ(rig.port.SentFrames()[4].bytes[5], 9);
}

TEST(MeterSet, CancelSendsNothing) {
    MeterRig rig;
    rig.ws.Expect([](HeadlessDialog& h) { h.CloseBox(); });
    rig.Click(IDC_METER_SET);
    EXPECT_TRUE(rig.port.SentFrames().empty());
    EXPECT_TRUE(rig.window->TimerRunning(1));
}

// ---- 更改子机地址

TEST(ChangeAddr, ConfirmedChangeMovesTheConsoleToTheNewAddress) {
    MeterRig rig;
    rig.TypeAddress("1");
    rig.dlg.UpdateData(TRUE);
    rig.ws.Expect(AddrAnswer("17"));
    rig.Click(IDC_CHANGE_ADDR);
    EXPECT_EQ(rig.port.SentFrames().at(0).bytes,
              (ByteBlock{0x01, 0x06, 0x00, 0x00, 0x00, 0x11, 0x49, 0xC6}));
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"地址更新成功"});
    EXPECT_EQ(rig.Text(IDC_SLAVE_ADDR), "17");
    EXPECT_EQ(rig.dlg.m_bySlaveAddr, 17);
    EXPECT_EQ(rig.model.Address(), 17);
    rig.Click(IDC_RUN_STOP);
    rig.Ticks(6);
    EXPECT_EQ(rig.LastSent()[0], 0x11);
    EXPECT_EQ(rig.dlg.m_byStage, 3);  // the meter answers at its new address
}

TEST(ChangeAddr, GoesToTheAddressLastTakenNotTheTypedOne) {
    MeterRig rig;
    rig.dlg.m_bySlaveAddr = 1;
    rig.TypeAddress("5");  // typed but not taken
    rig.meter.InjectNext(LineFault::Silence);
    rig.ws.Expect(AddrAnswer("0"));
    rig.Click(IDC_CHANGE_ADDR);
    EXPECT_EQ(rig.port.SentFrames().at(0).bytes[0], 1);
    EXPECT_EQ(rig.port.SentFrames().at(0).bytes[5], 0);
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"地址更新不成功"});
    EXPECT_EQ(rig.dlg.m_bySlaveAddr, 1);
    EXPECT_EQ(rig.Text(IDC_SLAVE_ADDR), "5");
}

TEST(ChangeAddr, RefusedEntriesKeepTheDialogOpenAndCancelSendsNothing) {
    MeterRig rig;
    rig.ws.Expect([](HeadlessDialog& h) {
        for (const char* bad : {"256", "-1", "x", " "}) {
            h.Type(IDC_NEW_ADDR, bad);
            h.Click(IDOK);
            EXPECT_FALSE(h.Ended()) << bad;
        }
        h.PressEsc();
    });
    rig.Click(IDC_CHANGE_ADDR);
    EXPECT_TRUE(rig.port.SentFrames().empty());
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts(4, "请输入一个 0 和 255 之间的整数。"));
    EXPECT_TRUE(rig.window->TimerRunning(1));
}
