#include <gtest/gtest.h>

#include "support/MeterRig.h"

namespace {

using Texts = std::vector<std::string>;

std::vector<int> ProbedAddresses(const MemoryPort& port) {
    std::vector<int> out;
    for (const auto& s : port.SentFrames())
        if (s.bytes.size() == 8 && s.bytes[1] == 0x03 && s.bytes[2] == 0x03 && s.bytes[3] == 0x00 &&
            s.bytes[5] == 1)
            out.push_back(s.bytes[0]);
    return out;
}

}  // namespace

// ---- 轮询地址

TEST(ScanAddr, FindsTheMeterAtSevenAndLeavesPollingStopped) {
    MeterRig rig;
    rig.model.SetAddress(7);
    rig.Run(7);
    rig.Ticks(6);
    ASSERT_FALSE(rig.Text(1001).empty());
    rig.Click(IDC_SCAN_ADDR);
    for (int id : {1000, 1003, 1025, 1037, 1050, 1053, 1056}) EXPECT_EQ(rig.Text(id), "") << id;
    EXPECT_FALSE(rig.window->TimerRunning(1));
    rig.port.ClearSent();
    rig.ws.Advance(500 * 10);
    EXPECT_EQ(ProbedAddresses(rig.port), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(rig.port.SentFrames().back().bytes, Frame({0x07, 0x03, 0x03, 0x00, 0x00, 0x01}));
    EXPECT_EQ(rig.Text(IDC_SLAVE_ADDR), "7");
    EXPECT_EQ(rig.Text(IDC_PORT_STATUS), "串口:1\r\n\r\n波特率:9600\r\n\r\n校验位:无校验");
    EXPECT_EQ(rig.dlg.m_bScanHit, 1);
    EXPECT_FALSE(rig.window->TimerRunning(2));
    EXPECT_FALSE(rig.window->TimerRunning(1));
    EXPECT_EQ(rig.Text(IDC_RUN_STOP), "停止");  // the toggle is left as it was
    // Two presses start polling again, now at 7.
    rig.Click(IDC_RUN_STOP);
    rig.Click(IDC_RUN_STOP);
    rig.ws.Advance(500);
    EXPECT_EQ(rig.LastSent()[0], 7);
    EXPECT_TRUE(rig.ws.MessageBoxes().empty());
}

TEST(ScanAddr, MeterAtOneIsFoundByTheFirstProbe) {
    MeterRig rig;
    rig.Click(IDC_SCAN_ADDR);
    rig.ws.Advance(500 * 3);
    ASSERT_EQ(rig.port.SentFrames().size(), 1u);
    EXPECT_EQ(rig.port.SentFrames()[0].bytes,
              (ByteBlock{0x01, 0x03, 0x03, 0x00, 0x00, 0x01, 0x84, 0x4E}));
    EXPECT_EQ(rig.Text(IDC_SLAVE_ADDR), "1");
}

TEST(ScanAddr, NoiseOtherSlavesAndOurOwnEchoAreNoMeter) {
    // A line that echoes every probe (half-duplex adapter), adds noise, and carries a reply
    // of another slave: none of that is the candidate answering.
    MeterRig rig;
    FnPeer noisy([](const ByteBlock& req, uint64_t now, IReplySink& sink) {
        ByteBlock junk = req;  // the echo
        junk.insert(junk.end(), {0xFF, 0x00, 0x13, 0x37});
        ByteBlock other = Frame({uint8_t(req[0] + 1), 0x03, 0x02, 0x00, 0x01});
        junk.insert(junk.end(), other.begin(), other.end());
        sink.Deliver(junk, now + 30);
    });
    rig.port.AttachPeer(&noisy);
    rig.Click(IDC_SCAN_ADDR);
    rig.ws.Advance(500 * 20);
    EXPECT_EQ(ProbedAddresses(rig.port).size(), 20u);
    EXPECT_TRUE(rig.window->TimerRunning(2));
    EXPECT_EQ(rig.dlg.m_bScanHit, 0);
    EXPECT_EQ(rig.Text(IDC_SLAVE_ADDR), "1");  // as the operator left it
}

TEST(ScanAddr, AnEchoingLineWithNoMeterGivesNoHitAtAnyCandidate) {
    // The echoed probes to 47 and 239 hold a CRC-valid 7-byte frame of their own.
    MeterRig rig;
    FnPeer echo(
        [](const ByteBlock& req, uint64_t now, IReplySink& sink) { sink.Deliver(req, now + 1); });
    rig.port.AttachPeer(&echo);
    rig.Click(IDC_SCAN_ADDR);
    rig.ws.Advance(500 * 255);
    std::vector<int> probed = ProbedAddresses(rig.port);
    ASSERT_EQ(probed.size(), 255u);
    EXPECT_EQ(probed[46], 47);
    EXPECT_EQ(probed[238], 239);
    EXPECT_EQ(probed.back(), 0);
    EXPECT_EQ(rig.dlg.m_bScanHit, 0);
    EXPECT_TRUE(rig.window->TimerRunning(2));
}

TEST(ScanAddr, TheMeterBehindTheEchoOfItsProbeIsFound) {
    MeterRig rig;
    rig.model.SetAddress(47);
    FnPeer echoThenMeter([&](const ByteBlock& req, uint64_t now, IReplySink& sink) {
        sink.Deliver(req, now + 1);
        if (auto reply = rig.model.Handle(req)) sink.Deliver(*reply, now + 20);
    });
    rig.port.AttachPeer(&echoThenMeter);
    rig.Click(IDC_SCAN_ADDR);
    rig.ws.Advance(500 * 48);
    EXPECT_EQ(rig.Text(IDC_SLAVE_ADDR), "47");
    EXPECT_EQ(ProbedAddresses(rig.port).back(), 47);
}

TEST(ScanAddr, ExceptionReplyFromTheCandidateIsAMeter) {
    MeterRig rig;
    FnPeer refuses([](const ByteBlock& req, uint64_t now, IReplySink& sink) {
        if (req[0] == 3) sink.Deliver(Frame({0x03, 0x83, 0x02}), now + 20);
    });
    rig.port.AttachPeer(&refuses);
    rig.Click(IDC_SCAN_ADDR);
    rig.ws.Advance(500 * 5);
    EXPECT_EQ(rig.Text(IDC_SLAVE_ADDR), "3");
    EXPECT_EQ(ProbedAddresses(rig.port), (std::vector<int>{1, 2, 3}));
}

TEST(ScanAddr, CandidatesWrapPast254AndPressingAgainRestarts) {
    MeterRig rig;
    rig.port.AttachPeer(nullptr);
    rig.Click(IDC_SCAN_ADDR);
    rig.ws.Advance(500 * 3);
    rig.Click(IDC_SCAN_ADDR);
    rig.ws.Advance(500);
    EXPECT_EQ(ProbedAddresses(rig.port), (std::vector<int>{1, 2, 3, 1}));
    rig.dlg.m_nScanAddr = 254;
    rig.port.ClearSent();
    rig.ws.Advance(500 * 3);
    EXPECT_EQ(ProbedAddresses(rig.port), (std::vector<int>{254, 0, 1}));
    rig.Click(IDC_RUN_STOP);  // stops the scan
    EXPECT_FALSE(rig.window->TimerRunning(2));
}

TEST(ScanAddr, TicksDuringTheAddressPromptStartNoNestedProbe) {
    MeterRig rig;
    rig.port.AttachPeer(nullptr);
    rig.TypeAddress("abc");
    int prompts = 0;
    rig.ws.OnMessageBox([&](const std::string&) {
        ++prompts;
        rig.ws.Advance(2000);  // timer 2 keeps ticking while the prompt is open
    });
    rig.Click(IDC_SCAN_ADDR);
    rig.ws.Advance(500);
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(ProbedAddresses(rig.port), (std::vector<int>{1}));
    rig.ws.OnMessageBox(nullptr);
}

// ---- Service commands

TEST(ChangeClass, ConfirmedToggleAndSilentMeter) {
    MeterRig rig;
    rig.dlg.m_bySlaveAddr = 1;
    rig.dlg.SendMessageCommand(IDC_CLASS);
    EXPECT_EQ(rig.port.SentFrames().at(0).bytes,
              (ByteBlock{0x01, 0x06, 0x00, 0x22, 0x00, 0x01, 0xE8, 0x00}));
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"ee"});
    EXPECT_FALSE(rig.ws.Log().back().known && rig.ws.Log().back().kind == UiEvent::MessageBox);
    EXPECT_EQ(rig.dlg.m_byClass, 1);
    EXPECT_EQ(rig.Text(IDC_CLASS), "0.2级");

    rig.ws.ClearLog();
    rig.meter.InjectNext(LineFault::Silence);
    rig.dlg.m_byClass = 0;
    rig.dlg.SendMessageCommand(IDC_CLASS);
    EXPECT_EQ(rig.ws.MessageBoxes(), (Texts{"ee", "ggfgf"}));
    EXPECT_EQ(rig.dlg.m_byClass, 0);
    EXPECT_EQ(rig.Text(IDC_CLASS), "0.2级");  // unchanged
    rig.dlg.m_byClass = 7;
    rig.meter.InjectNext(LineFault::Silence);
    rig.dlg.SendMessageCommand(IDC_CLASS);
    EXPECT_EQ(rig.dlg.m_byClass, 1);  // toggled twice from 7
    EXPECT_TRUE(rig.window->TimerRunning(1));
}

TEST(RefreshUrg, TheLowByteOfTheRegisterSetsTheFactor) {
    struct Case {
        uint16_t reg;
        int factor;
    } cases[] = {{0x0001, 4}, {0x0100, 1}, {0x0000, 1}, {0x0002, 4}};
    for (const Case& c : cases) {
        MeterRig rig;
        rig.dlg.m_bySlaveAddr = 1;
        rig.model.SetUrgFlag(c.reg);
        rig.dlg.m_nUrgFactor = 99;
        rig.dlg.SendMessageCommand(IDC_REFRESH_URG);
        EXPECT_EQ(rig.dlg.m_nUrgFactor, c.factor) << c.reg;
        EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"更新成功"});
        EXPECT_EQ(rig.port.SentFrames().at(0).bytes, Frame({0x01, 0x03, 0x03, 0x0A, 0x00, 0x01}));
    }
    MeterRig rig;
    rig.dlg.m_bySlaveAddr = 1;
    rig.model.SetUrgFlag(1);
    rig.port.DeliverNow({0x01, 0x03, 0x02, 0x00, 0x00});  // stray bytes, dropped after sending
    rig.meter.InjectNext(LineFault::NoiseBefore);
    rig.dlg.SendMessageCommand(IDC_REFRESH_URG);
    EXPECT_EQ(rig.dlg.m_nUrgFactor, 4);
    rig.meter.InjectNext(LineFault::BadCrc);
    rig.dlg.SendMessageCommand(IDC_REFRESH_URG);
    EXPECT_EQ(rig.ws.MessageBoxes().back(), "读取不成功");
    EXPECT_EQ(rig.dlg.m_nUrgFactor, 4);
}

TEST(AuxRegisters, ReadScalesAndWriteSendsBackWhatWasRead) {
    MeterRig rig;
    rig.dlg.m_bySlaveAddr = 1;
    rig.TypeAddress("1");
    // Nothing read yet: nothing to write.
    rig.dlg.SendMessageCommand(IDC_WRITE_AUX);
    EXPECT_TRUE(rig.port.SentFrames().empty());
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"设置不成功"});

    rig.model.SetSettingA(0, 22000), rig.model.SetSettingA(1, 18000);
    rig.model.SetSettingA(2, 50000), rig.model.SetSettingA(3, 1000);
    rig.dlg.m_nCT = 5;
    rig.dlg.SendMessageCommand(IDC_READ_AUX);
    EXPECT_EQ(std::vector<double>(rig.dlg.m_dAuxVal, rig.dlg.m_dAuxVal + 4),
              (std::vector<double>{220, 180, 25, 0.5}));
    EXPECT_EQ(rig.ws.TextsSetFor(1066).back(), "220.00 ");
    EXPECT_EQ(rig.ws.TextsSetFor(1067).back(), "180.00 ");
    EXPECT_EQ(rig.ws.TextsSetFor(1068).back(), "25.0000 ");
    EXPECT_EQ(rig.ws.TextsSetFor(1069).back(), "0.5000 ");

    rig.port.ClearSent();
    rig.dlg.SendMessageCommand(IDC_WRITE_AUX);
    EXPECT_EQ(rig.port.SentFrames().at(0).bytes,
              Frame({0x01, 0x10, 0x00, 0x28, 0x00, 0x04, 0x08, 0x55, 0xF0, 0x46, 0x50, 0xC3, 0x50,
                     0x03, 0xE8}));
    EXPECT_EQ(rig.ws.MessageBoxes().size(), 1u);  // success says nothing

    rig.meter.InjectNext(LineFault::BadCrc);
    rig.dlg.m_dAuxVal[0] = -1;
    rig.dlg.SendMessageCommand(IDC_READ_AUX);
    EXPECT_EQ(rig.ws.MessageBoxes().back(), "读取不成功");
    EXPECT_EQ(rig.dlg.m_dAuxVal[0], -1);
    EXPECT_TRUE(rig.window->TimerRunning(1));
}

// ---- 出厂初始化

TEST(FactoryInit, ElevenFramesThenTheConsoleMovesToTheFactorySettings) {
    MeterRig rig;
    rig.dlg.m_bySlaveAddr = 1;
    rig.dlg.m_nComPort = 1;
    const uint64_t start = rig.clock.NowMs();
    rig.dlg.SendMessageCommand(IDC_FACTORY_INIT);
    auto sent = SentSince(rig.port, 0);
    ASSERT_EQ(sent.size(), 11u);
    EXPECT_EQ(sent[0], (ByteBlock{0x01, 0x10, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x00,
                                  0xA2, 0x6F}));
    EXPECT_EQ(sent[1], (ByteBlock{0x01, 0x10, 0x00, 0x04, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x00,
                                  0xA3, 0x9C}));
    const std::pair<uint16_t, uint16_t> singles[] = {{0x0002, 0}, {0x0004, 1}, {0x001A, 0},
                                                     {0x001C, 0}, {0x001E, 0}, {0x0020, 3},
                                                     {0x0008, 3}, {0x0006, 0}, {0x0000, 1}};
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(sent[2 + i], Frame({0x01, 0x06, 0x00, uint8_t(singles[i].first), 0x00,
                                      uint8_t(singles[i].second)}));
    for (size_t i = 1; i < 11; ++i)
        EXPECT_GE(rig.port.SentFrames()[i].atMs - rig.port.SentFrames()[i - 1].atMs, 300u);
    EXPECT_GE(rig.clock.NowMs() - start, 3300u);
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"仪表初始设置成功!"});
    EXPECT_EQ(rig.Text(IDC_SLAVE_ADDR), "1");
    EXPECT_EQ(rig.dlg.m_nBaud, 9600);
    EXPECT_EQ(rig.dlg.m_nParity, 0);
    EXPECT_EQ(rig.Text(IDC_PORT_STATUS), "串行口: 1 \r\n\r\n波特率: 9600 \r\n\r\n校验位:无校验");
    EXPECT_EQ(rig.port.Line(), *ParseSettings("9600,N,8,2"));
    EXPECT_TRUE(rig.window->TimerRunning(1));
}

TEST(FactoryInit, AllFramesGoOutAtTheOldSettingsAndThePeriodStays) {
    MeterRig rig(4800, 1);
    rig.dlg.SendMessageCommand(IDC_FACTORY_INIT);
    ASSERT_EQ(rig.port.SentFrames().size(), 11u);
    for (const auto& s : rig.port.SentFrames()) EXPECT_EQ(s.line, *ParseSettings("4800,O,8,1"));
    // The meter moved to 9600 bit/s with step 9 and no longer hears steps 10 and 11.
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"仪表初始设置不成功!"});
    EXPECT_EQ(rig.port.Line(), *ParseSettings("9600,N,8,2"));
    EXPECT_EQ(rig.dlg.m_nBaud, 4800);
    EXPECT_EQ(rig.dlg.m_nPollMs, 1000);
    EXPECT_EQ(rig.window->TimerPeriod(1), 1000u);
}

TEST(FactoryInit, NoMeterStillSendsAllElevenAndOnlyTheLineMoves) {
    MeterRig rig(19200, 2);
    rig.port.AttachPeer(nullptr);
    rig.dlg.m_bySlaveAddr = 5;
    rig.dlg.SendMessageCommand(IDC_FACTORY_INIT);
    EXPECT_EQ(rig.port.SentFrames().size(), 11u);
    EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"仪表初始设置不成功!"});
    EXPECT_EQ(rig.dlg.m_bySlaveAddr, 5);
    EXPECT_EQ(rig.dlg.m_nBaud, 19200);
    EXPECT_EQ(rig.dlg.m_nParity, 2);
    EXPECT_EQ(rig.port.Line(), *ParseSettings("9600,N,8,2"));
}

TEST(FactoryInit, KeepsTheRealPortNumberAndSurvivesATickCountWrap) {
    MeterRig rig;
    rig.clock.SetNow(0);
    VirtualClock wrapping(0xFFFFFF00u);  // wraps during the series
    HeadlessWindowSystem ws{wrapping};
    MemoryPort port{wrapping};
    FnPeer anyByte(
        [](const ByteBlock&, uint64_t now, IReplySink& sink) { sink.Deliver({0x00}, now + 10); });
    port.AttachPeer(&anyByte);
    CMeterDlg dlg{ws, port, [](int) { return std::string("/dev/sim3"); }};
    dlg.m_nBaud = 9600, dlg.m_nParity = 0, dlg.m_nComPort = 3;
    HeadlessDialog& h = ws.Open(dlg);
    dlg.SendMessageCommand(IDC_FACTORY_INIT);
    EXPECT_EQ(port.SentFrames().size(), 11u);
    for (size_t i = 1; i < 11; ++i) {
        uint64_t gap = port.SentFrames()[i].atMs - port.SentFrames()[i - 1].atMs;
        EXPECT_GE(gap, 300u);
        EXPECT_LT(gap, 320u);
    }
    EXPECT_EQ(ws.MessageBoxes(), Texts{"仪表初始设置成功!"});  // any byte counts
    EXPECT_EQ(dlg.m_nComPort, 3);
    EXPECT_EQ(h.Text(IDC_PORT_STATUS), "串行口: 3 \r\n\r\n波特率: 9600 \r\n\r\n校验位:无校验");
}
