// The real main window (Qt backend, offscreen) and the Qt serial port on the simulator's
// pseudo-terminal, in real time.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <cstdlib>

#include "ConsoleOnSim.h"
#include "modbus/Frame.h"
#include "qt/QtTestUtil.h"
#include "res/Resource.h"

namespace {

// The registers of the worked examples, held still.
const QStringList kKnownRegisters = {"--frozen", "--set", "0=22000",  "--set", "1=38000",  "--set",
                                     "9=38000",  "--set", "17=38300", "--set", "4=0xFFFF", "--set",
                                     "7=0xFFFF", "--set", "5=0xD8F0", "--set", "27=46811", "--set",
                                     "33=1",     "--set", "34=2"};

struct E2eFixture : ConsoleOnSim {
    // Runs the window; body drives it and must close it.
    void Window(std::function<void(QWidget*)> body) {
        WhenModalShown(body);
        dlg->DoModal();
    }
    std::string Text(int id) { return dlg->GetDlgItemText(id); }
};

void Click(QWidget* w, int id) {
    QTest::mouseClick(Ctl<QAbstractButton>(w, id), Qt::LeftButton);
}

}  // namespace

TEST_F(E2eFixture, RunShowsTheMetersRegistersAndTheEchoes) {
    Start(kKnownRegisters);
    Window([&](QWidget* w) {
        EXPECT_TRUE(dlg->m_comm.GetPortOpen());
        Ctl<QLineEdit>(w, IDC_SLAVE_ADDR)->setText("1");
        Click(w, IDC_RUN_STOP);
        QTest::qWait(5 * 500 + 250);
        EXPECT_EQ(Text(1001), "220.00 V");
        EXPECT_EQ(Text(1034), "-0.1 W");
        EXPECT_EQ(Text(1042), "13.1070 KVA");
        EXPECT_EQ(Text(1046), "-1.0000");
        EXPECT_EQ(Text(1049), "50.000 Hz");
        EXPECT_EQ(Text(1053), "131.0730 KWh");
        EXPECT_EQ(Text(1054), "-0.0 Wh");
        EXPECT_EQ(Text(1025), "381.00 V");
        // The requests on the wire, in the stage order.
        QStringList req = sim->Requests();
        ASSERT_GE(req.size(), 5);
        EXPECT_EQ(req.mid(0, 5), (QStringList{"01 03 03 00 00 13 04 43", "01 03 03 28 00 04 C4 45",
                                              "01 03 03 22 00 01 24 44", "01 03 00 00 00 2D 85 D7",
                                              "01 03 03 00 00 13 04 43"}));
        std::string rx = Text(IDC_RX_ECHO);
        EXPECT_EQ(rx.rfind("01\r 03\r 00\r 00\r 00\r 2D\r 85\r D7\r 01\r 03\r 5A\r 55\r F0\r ", 0),
                  0u);
        EXPECT_EQ(rx.size(), 4u * 108);
        QTest::keyClick(w, Qt::Key_Escape);
    });
    EXPECT_FALSE(device.IsOpen());
}

TEST_F(E2eFixture, StopStopsTheRequestsAndRunResumesAtTheStageReached) {
    Start({});
    Window([&](QWidget* w) {
        Ctl<QLineEdit>(w, IDC_SLAVE_ADDR)->setText("1");
        Click(w, IDC_RUN_STOP);
        QTest::qWait(5 * 500 + 250);
        EXPECT_EQ(dlg->m_byStage, 4);
        Click(w, IDC_RUN_STOP);
        int sent = sim->Requests().size();
        QTest::qWait(1200);
        EXPECT_EQ(sim->Requests().size(), sent);
        Click(w, IDC_RUN_STOP);
        QTest::qWait(500 + 250);
        QStringList req = sim->Requests();
        ASSERT_EQ(req.size(), sent + 1);
        EXPECT_EQ(req.back(), "01 03 00 00 00 2D 85 D7");  // on at stage 3, not from the start
        QTest::keyClick(w, Qt::Key_Escape);
    });
}

TEST_F(E2eFixture, MeterVanishingWhilePollingGivesOneMessageAndAUsableWindow) {
    Start({});
    QStringList messages;
    Window([&](QWidget* w) {
        Ctl<QLineEdit>(w, IDC_SLAVE_ADDR)->setText("1");
        Click(w, IDC_RUN_STOP);
        QTest::qWait(1200);
        auto answer = [&](QWidget* box) {
            messages << static_cast<QMessageBox*>(box)->text();
            QTimer::singleShot(1500, box, [box] { static_cast<QMessageBox*>(box)->accept(); });
        };
        WhenModalShown(answer, w);
        sim->Kill();
        QTest::qWait(3000);  // ticks go on all along
        EXPECT_EQ(messages.size(), 1);
        EXPECT_FALSE(dlg->m_comm.GetPortOpen());
        // Still usable: Stop and Run answer, nothing more is reported.
        Click(w, IDC_RUN_STOP);
        Click(w, IDC_RUN_STOP);
        QTest::qWait(1200);
        EXPECT_EQ(messages.size(), 1);
        QTest::keyClick(w, Qt::Key_Escape);
    });
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("已断开"));
    EXPECT_TRUE(messages[0].contains("COM1"));
}
