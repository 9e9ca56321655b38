// The adapter pulled out at every kind of moment, and an operator typing anything at all.
#include <gtest/gtest.h>

#include "config/MeterSetDlg.h"
#include "support/MeterRig.h"

namespace {

using Texts = std::vector<std::string>;

int CountContaining(const Texts& texts, const std::string& part) {
    int n = 0;
    for (const auto& t : texts) n += t.find(part) != std::string::npos;
    return n;
}

// 通讯设置 confirmed unchanged: the port is closed and opened again.
void Reopen(MeterRig& rig) {
    rig.ws.Expect([](HeadlessDialog& h) { h.Click(IDOK); });
    rig.Click(IDC_COMM_SET);
}

}  // namespace

TEST(Unplug, WhilePollingOneMessageThenReopenResumes) {
    MeterRig rig;
    rig.Run();
    rig.Ticks(6);
    rig.port.Unplug();
    rig.Ticks(20);
    Texts boxes = rig.ws.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("串行口 COM1（/dev/sim1）已断开"), std::string::npos);
    EXPECT_FALSE(rig.port.IsOpen());
    EXPECT_EQ(rig.Text(IDC_RUN_STOP), "停止");  // the window is as the operator left it

    rig.port.Replug();
    Reopen(rig);
    EXPECT_TRUE(rig.port.IsOpen());
    EXPECT_EQ(rig.ws.MessageBoxes().size(), 1u);  // reopening is quiet
}

TEST(Unplug, ReopenAfterReplugResumesPolling) {
    MeterRig rig;
    rig.Run();
    rig.Ticks(6);
    rig.port.Unplug();
    rig.Ticks(3);
    rig.port.Replug();
    Reopen(rig);
    const size_t before = rig.dlg.m_byStage;
    rig.model.Freeze(true);
    rig.model.SetMeasurement(0, 23456);
    rig.Ticks(4);
    EXPECT_EQ(rig.Text(1001), "234.56 V");
    EXPECT_LE(before, 4u);
    EXPECT_EQ(rig.ws.MessageBoxes().size(), 1u);
}

TEST(Unplug, DuringAConfigurationExchange) {
    MeterRig rig;
    // The adapter goes while the PT write is on its way.
    FnPeer pulls([&](const ByteBlock&, uint64_t, IReplySink&) { rig.port.Unplug(); });
    rig.port.AttachPeer(&pulls);
    rig.ws.Expect([](HeadlessDialog& h) {
        h.Type(IDC_PT, "10");
        h.Click(IDOK);
    });
    rig.Click(IDC_METER_SET);
    Texts boxes = rig.ws.MessageBoxes();
    EXPECT_EQ(CountContaining(boxes, "已断开"), 1);
    EXPECT_EQ(boxes.back(), "设置PT不成功");  // and the operation says what it could not do
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(rig.dlg.m_nPT, 1u);
    EXPECT_EQ(rig.port.SentFrames().size(), 1u);
    rig.Ticks(10);  // polling restarted on a closed port: quiet
    EXPECT_EQ(rig.ws.MessageBoxes().size(), 2u);
}

TEST(Unplug, DuringTheAddressScan) {
    MeterRig rig;
    rig.port.AttachPeer(nullptr);
    rig.Click(IDC_SCAN_ADDR);
    rig.ws.Advance(500 * 2);
    rig.port.Unplug();
    rig.ws.Advance(500 * 20);
    EXPECT_EQ(rig.ws.MessageBoxes().size(), 1u);
    EXPECT_EQ(rig.port.SentFrames().size(), 2u);
    rig.port.Replug();
    rig.port.AttachPeer(&rig.meter);
    Reopen(rig);
    rig.Click(IDC_SCAN_ADDR);  // a new scan from candidate 1 finds the meter
    rig.ws.Advance(500 * 3);
    EXPECT_EQ(rig.Text(IDC_SLAVE_ADDR), "1");
    EXPECT_EQ(rig.dlg.m_bScanHit, 1);
}

TEST(HostileInput, EveryDialogFieldRefusesWithThePromptAndSendsNothing) {
    const char* common[] = {"abc", "", " ", "-", "+", "1a", "0x10", "1.5", "99999999999", "１２"};
    struct Field {
        int button;  // the main-window button that opens the dialog
        int edit;
        std::vector<std::string> outside;  // just outside the range
        std::string prompt;
    } fields[] = {
        {IDC_COMM_SET, 1000, {}, "请输入一个整数。"},
        {IDC_METER_SET, IDC_PT, {"0", "64001", "-1"}, ""},
        {IDC_METER_SET, IDC_CT, {"0", "64001", "-1"}, ""},
        {IDC_CHANGE_ADDR, IDC_NEW_ADDR, {"256", "-1"}, "请输入一个 0 和 255 之间的整数。"},
    };
    for (const Field& f : fields) {
        MeterRig rig;
        std::vector<std::string> bad(std::begin(common), std::end(common));
        bad.insert(bad.end(), f.outside.begin(), f.outside.end());
        int ticksDuringPrompts = 0;
        rig.ws.OnMessageBox([&](const std::string&) {
            ++ticksDuringPrompts;
            rig.ws.Advance(1000);  // timers go on while the prompt is read
        });
        rig.ws.Expect([&](HeadlessDialog& h) {
            for (const std::string& text : bad) {
                size_t prompts = rig.ws.MessageBoxes().size();
                h.Type(f.edit, text);
                h.Click(IDOK);
                EXPECT_FALSE(h.Ended()) << f.edit << " '" << text << "'";
                ASSERT_EQ(rig.ws.MessageBoxes().size(), prompts + 1)
                    << f.edit << " '" << text << "'";
                if (!f.prompt.empty()) {
                    EXPECT_EQ(rig.ws.MessageBoxes().back(), f.prompt);
                }
                EXPECT_EQ(h.FocusId(), f.edit);
            }
            h.PressEsc();
        });
        rig.Click(f.button);
        EXPECT_TRUE(rig.port.SentFrames().empty()) << f.edit;
        EXPECT_EQ(static_cast<size_t>(ticksDuringPrompts), bad.size());
    }
}

TEST(HostileInput, SlaveAddressBoxIsRefusedAndTheLastAddressKept) {
    for (const char* text : {"abc", "", "-", "256", "-1", "99999999999", " 7x"}) {
        MeterRig rig;
        rig.TypeAddress(text);
        rig.Click(IDC_RUN_STOP);  // the toggle goes on with the last address
        EXPECT_EQ(rig.ws.MessageBoxes(), Texts{"请输入一个 0 和 255 之间的整数。"}) << text;
        rig.ws.OnMessageBox([&](const std::string&) { rig.ws.Advance(3000); });
        rig.Ticks(5);  // each decoding takes the box again: one prompt at a time, never nested
        rig.ws.OnMessageBox(nullptr);
        EXPECT_EQ(rig.dlg.m_bySlaveAddr, 1) << text;
        for (const auto& s : rig.port.SentFrames()) EXPECT_EQ(s.bytes[0], 1);
    }
}

TEST(HostileInput, ScanStepsWithABadAddressBoxPromptOneAtATime) {
    MeterRig rig;
    rig.port.AttachPeer(nullptr);
    rig.TypeAddress("x");
    int depth = 0, maxDepth = 0;
    rig.ws.OnMessageBox([&](const std::string&) {
        maxDepth = std::max(maxDepth, ++depth);
        rig.ws.Advance(2000);
        --depth;
    });
    rig.Click(IDC_SCAN_ADDR);
    rig.ws.Advance(20000);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_GE(rig.ws.MessageBoxes().size(), 2u);
}
