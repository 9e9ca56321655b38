#include <gtest/gtest.h>

#include "app/MeterApp.h"
#include "res/Resource.h"
#include "sim/MemoryPort.h"
#include "winsys/Headless.h"

namespace {

// Answers the port dialog, then hands the open main window to the test.
struct StartupFixture : ::testing::Test {
    VirtualClock clock;
    HeadlessWindowSystem ws{clock};
    MemoryPort port{clock};
    CMeterApp app{ws, port, [](int n) { return "/dev/meter" + std::to_string(n); }};

    void ConfirmPortDialog(std::function<void(HeadlessDialog&)> choose = {}) {
        ws.Expect([choose](HeadlessDialog& h) {
            if (choose) choose(h);
            h.Click(IDOK);
        });
    }
    // Runs the application; main() sees the open main window and must close it.
    void Run(std::function<void(HeadlessDialog&, CMeterDlg&)> main) {
        ws.Expect([main](HeadlessDialog& h) { main(h, static_cast<CMeterDlg&>(h.Dialog())); });
        EXPECT_EQ(app.InitInstance(), FALSE);
        EXPECT_EQ(ws.PendingScripts(), 0u);
    }
};

const std::string kStatus9600None = "串行口: 1 \r\n\r\n波特率: 9600 \r\n\r\n校验位:无校验";

}  // namespace

TEST_F(StartupFixture, CancellingThePortDialogEndsWithNothingOpened) {
    ws.Expect([](HeadlessDialog& h) { h.Click(IDCANCEL); });
    EXPECT_EQ(app.InitInstance(), FALSE);
    EXPECT_EQ(port.OpenCount(), 0);
    for (const UiEvent& e : ws.Log()) EXPECT_NE(e.dialogId, IDD_METER_DIALOG);
}

TEST_F(StartupFixture, DefaultsOpenCom1At9600WithoutParity) {
    ws.Expect([](HeadlessDialog& h) {
        EXPECT_EQ(h.Text(1000), "1");
        EXPECT_TRUE(h.Checked(1012));
        EXPECT_TRUE(h.Checked(1014));
        h.Click(IDOK);
    });
    Run([&](HeadlessDialog& h, CMeterDlg& dlg) {
        EXPECT_EQ(port.OpenDevice(), "/dev/meter1");
        EXPECT_EQ(dlg.m_comm.GetSettings(), "9600,N,8,2");
        EXPECT_EQ(port.Line(), *ParseSettings("9600,N,8,2"));
        EXPECT_EQ(dlg.m_nPollMs, 500);
        EXPECT_EQ(h.Text(IDC_PORT_STATUS), kStatus9600None);
        EXPECT_EQ(h.Text(IDC_SLAVE_ADDR), "0");
        EXPECT_EQ(h.Text(IDC_RUN_STOP), "运行");
        EXPECT_EQ(dlg.m_nPT, 1u);
        EXPECT_EQ(dlg.m_nCT, 1u);
        EXPECT_EQ(dlg.m_nScanAddr, 1);
        EXPECT_EQ(dlg.m_byStage, 0);
        EXPECT_EQ(dlg.m_nEnergyScale, 1);
        EXPECT_EQ(dlg.m_nUrgFactor, 1);
        EXPECT_FALSE(dlg.m_bRunning);
        EXPECT_FALSE(h.TimerRunning(1));  // polling waits for Run
        clock.Advance(5000);
        EXPECT_TRUE(port.SentFrames().empty());
        h.Click(IDCANCEL);
    });
    EXPECT_TRUE(ws.MessageBoxes().empty());
}

TEST_F(StartupFixture, PollPeriodAndSettingsFollowTheChoice) {
    struct Case {
        int baudRadio, parityRadio;
        const char* settings;
        int period;
        const char* parityText;
    } cases[] = {
        {1009, 1014, "1200,N,8,2", 2000, "校验位:无校验"},
        {1010, 1016, "2400,E,8,1", 1500, "校验位:偶校验"},
        {1011, 1015, "4800,O,8,1", 1000, "校验位:奇校验"},
        {1013, 1016, "19200,E,8,1", 500, "校验位:偶校验"},
    };
    for (const Case& c : cases) {
        ConfirmPortDialog([&](HeadlessDialog& h) {
            h.Click(c.baudRadio);
            h.Click(c.parityRadio);
        });
        Run([&](HeadlessDialog& h, CMeterDlg& dlg) {
            EXPECT_EQ(dlg.m_comm.GetSettings(), c.settings);
            EXPECT_EQ(dlg.m_nPollMs, c.period);
            const std::string& status = h.Text(IDC_PORT_STATUS);
            EXPECT_EQ(status.substr(status.size() - std::string(c.parityText).size()),
                      c.parityText);
            h.PressEsc();
        });
    }
}

TEST_F(StartupFixture, BytesReceivedBeforeStartUpEndsAreDropped) {
    port.DeliverNow({0x01, 0x03, 0x02, 0x00, 0x01});  // already waiting when the port opens
    ConfirmPortDialog();
    Run([&](HeadlessDialog& h, CMeterDlg& dlg) {
        EXPECT_EQ(dlg.m_comm.GetInBufferCount(), 0);
        EXPECT_TRUE(dlg.m_comm.GetInput().empty());
        h.PressEsc();
    });
}

TEST_F(StartupFixture, EveryWayOfClosingStopsTimerOneAndReleasesThePort) {
    std::function<void(HeadlessDialog&)> ways[] = {
        [](HeadlessDialog& h) { h.Click(IDCANCEL); },  // 退  出
        [](HeadlessDialog& h) { h.PressEsc(); },
        [](HeadlessDialog& h) { h.CloseBox(); },
    };
    for (auto& close : ways) {
        ConfirmPortDialog();
        HeadlessDialog* mainWindow = nullptr;
        Run([&](HeadlessDialog& h, CMeterDlg& dlg) {
            mainWindow = &h;
            dlg.SetTimer(1, dlg.m_nPollMs);  // as if polling
            EXPECT_TRUE(port.IsOpen());
            close(h);
        });
        ASSERT_TRUE(mainWindow);
        EXPECT_TRUE(mainWindow->Destroyed());
        EXPECT_FALSE(mainWindow->TimerRunning(1));
        EXPECT_FALSE(port.IsOpen());
    }
    EXPECT_EQ(port.OpenCount(), 3);
    EXPECT_EQ(port.CloseCount(), 3);
}

TEST_F(StartupFixture, MissingPortGivesOneMessageThenAUsableWindow) {
    port.SetDevices({{"/dev/meter2", PortError::None}});
    ConfirmPortDialog();
    Run([&](HeadlessDialog& h, CMeterDlg& dlg) {
        auto boxes = ws.MessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].find("COM1"), std::string::npos);
        EXPECT_NE(boxes[0].find("/dev/meter1"), std::string::npos);
        EXPECT_FALSE(dlg.m_comm.GetPortOpen());
        EXPECT_EQ(h.Text(IDC_PORT_STATUS), kStatus9600None);
        EXPECT_EQ(h.Text(IDC_SLAVE_ADDR), "0");
        EXPECT_EQ(dlg.m_nPT, 1u);
        EXPECT_EQ(dlg.m_nPollMs, 500);
        EXPECT_EQ(dlg.m_byStage, 0);
        h.Type(IDC_SLAVE_ADDR, "300");
        EXPECT_FALSE(dlg.UpdateData(TRUE));  // the window still validates its fields
        EXPECT_EQ(ws.MessageBoxes().size(), 2u);
        h.PressEsc();
    });
    EXPECT_EQ(ws.MessageBoxes().size(), 2u);
}

TEST_F(StartupFixture, SlaveAddressEditIsTakenAsAByte) {
    ConfirmPortDialog();
    Run([&](HeadlessDialog& h, CMeterDlg& dlg) {
        h.Type(IDC_SLAVE_ADDR, "247");
        EXPECT_TRUE(dlg.UpdateData(TRUE));
        EXPECT_EQ(dlg.m_bySlaveAddr, 247);
        h.Type(IDC_SLAVE_ADDR, "abc");
        EXPECT_FALSE(dlg.UpdateData(TRUE));
        EXPECT_EQ(dlg.m_bySlaveAddr, 247);
        EXPECT_EQ(ws.MessageBoxes(), std::vector<std::string>{"请输入一个 0 和 255 之间的整数。"});
        EXPECT_EQ(h.FocusId(), IDC_SLAVE_ADDR);
        h.PressEsc();
    });
}

TEST_F(StartupFixture, MinimisedWindowDrawsNoIcon) {
    ConfirmPortDialog();
    Run([&](HeadlessDialog& h, CMeterDlg& dlg) {
        h.Minimise(true);
        dlg.OnPaint();
        EXPECT_EQ(h.IconsDrawn(), 0);
        EXPECT_EQ(dlg.OnQueryDragIcon(), nullptr);
        h.PressEsc();
    });
}
