// Configuration operations end to end: the real window and serial port against the
// simulator on its pseudo-terminal, which follows the line settings the console sets.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QRadioButton>
#include <QTcpServer>
#include <QTest>

#include "ConsoleOnSim.h"
#include "qt/QtTestUtil.h"
#include "res/Resource.h"
#include "support/FreePort.h"

namespace {

struct ConfigE2e : ConsoleOnSim {
    void Window(std::function<void(QWidget*, ModalOperator&)> body) {
        WhenModalShown([&](QWidget* w) {
            ModalOperator op(w);
            body(w, op);
            QTest::keyClick(w, Qt::Key_Escape);
        });
        dlg->DoModal();
    }
    void RunAt(QWidget* w, const char* address) {
        Ctl<QLineEdit>(w, IDC_SLAVE_ADDR)->setText(address);
        Click(w, IDC_RUN_STOP);
    }
    static void Click(QWidget* w, int id) {
        QTest::mouseClick(Ctl<QAbstractButton>(w, id), Qt::LeftButton);
    }
    // A measurement response arrives (again) within the time given.
    bool MeasurementArrives(int ms) {
        dlg->SetDlgItemText(1001, "");
        for (int t = 0; t < ms && dlg->GetDlgItemText(1001).empty(); t += 50) QTest::qWait(50);
        return !dlg->GetDlgItemText(1001).empty();
    }
};

auto CommSetAnswer(int baudRadio, int parityRadio) {
    return [=](QWidget* d) {
        if (baudRadio) QTest::mouseClick(Ctl<QRadioButton>(d, baudRadio), Qt::LeftButton);
        if (parityRadio) QTest::mouseClick(Ctl<QRadioButton>(d, parityRadio), Qt::LeftButton);
        QTest::mouseClick(Ctl<QAbstractButton>(d, IDOK), Qt::LeftButton);
    };
}

}  // namespace

TEST_F(ConfigE2e, BaudRateThenParityChangeAndPollingGoesOnAtTheNewSettings) {
    Start({"--address", "1"});
    Window([&](QWidget* w, ModalOperator& op) {
        RunAt(w, "1");
        ASSERT_TRUE(MeasurementArrives(4000));
        op.Answer(CommSetAnswer(1013, 0));
        Click(w, IDC_COMM_SET);
        EXPECT_EQ(op.messages, QStringList{"改变波特率成功"});
        EXPECT_EQ(dlg->m_comm.GetSettings(), "19200,N,8,2");
        EXPECT_TRUE(MeasurementArrives(4000));
        op.Answer(CommSetAnswer(0, 1015));
        Click(w, IDC_COMM_SET);
        EXPECT_EQ(op.messages, (QStringList{"改变波特率成功", "改变校验方式成功"}));
        EXPECT_EQ(dlg->m_comm.GetSettings(), "19200,O,8,1");
        EXPECT_TRUE(MeasurementArrives(4000));
    });
}

TEST_F(ConfigE2e, MeterParametersAreWrittenAndSeenAgainInTheParameterBlock) {
    Start({"--address", "1"});
    Window([&](QWidget* w, ModalOperator& op) {
        RunAt(w, "1");
        ASSERT_TRUE(MeasurementArrives(4000));
        op.Answer([](QWidget* d) {
            Ctl<QLineEdit>(d, IDC_PT)->setText("100");
            Ctl<QLineEdit>(d, IDC_CT)->setText("5");
            QTest::mouseClick(Ctl<QRadioButton>(d, 1012), Qt::LeftButton);
            QTest::mouseClick(Ctl<QAbstractButton>(d, IDOK), Qt::LeftButton);
        });
        Click(w, IDC_METER_SET);
        EXPECT_EQ(op.messages, QStringList{"设置仪表参数成功"});
        dlg->m_nPT = dlg->m_nCT = 1;
        dlg->m_byWiring = 0;
        QTest::qWait(4 * 500 + 200);  // the parameter block comes round again
        EXPECT_EQ(dlg->m_nPT, 100u);
        EXPECT_EQ(dlg->m_nCT, 5u);
        EXPECT_EQ(dlg->m_byWiring, 3);
        EXPECT_EQ(dlg->GetDlgItemText(IDC_ADDR_WIRING), "1,3");
    });
}

TEST_F(ConfigE2e, AddressChangeIsFollowedByThePolling) {
    Start({"--address", "1"});
    Window([&](QWidget* w, ModalOperator& op) {
        RunAt(w, "1");
        ASSERT_TRUE(MeasurementArrives(4000));
        op.Answer([](QWidget* d) {
            Ctl<QLineEdit>(d, IDC_NEW_ADDR)->setText("17");
            QTest::mouseClick(Ctl<QAbstractButton>(d, IDOK), Qt::LeftButton);
        });
        Click(w, IDC_CHANGE_ADDR);
        EXPECT_EQ(op.messages, QStringList{"地址更新成功"});
        EXPECT_EQ(dlg->GetDlgItemText(IDC_SLAVE_ADDR), "17");
        EXPECT_TRUE(MeasurementArrives(4000));
        EXPECT_TRUE(sim->Requests().back().startsWith("11 03"));
    });
}

TEST_F(ConfigE2e, ScanFindsTheSimulator) {
    Start({"--address", "4"});
    Window([&](QWidget* w, ModalOperator&) {
        Click(w, IDC_SCAN_ADDR);
        for (int t = 0; t < 6000 && dlg->GetDlgItemText(IDC_SLAVE_ADDR) != "4"; t += 100)
            QTest::qWait(100);
        EXPECT_EQ(dlg->GetDlgItemText(IDC_SLAVE_ADDR), "4");
        EXPECT_EQ(dlg->GetDlgItemText(IDC_PORT_STATUS),
                  "串口:1\r\n\r\n波特率:9600\r\n\r\n校验位:无校验");
        QStringList probes = sim->Requests();
        ASSERT_EQ(probes.size(), 4);
        EXPECT_EQ(probes[0], "01 03 03 00 00 01 84 4E");
        RunAt(w, "4");
        EXPECT_TRUE(MeasurementArrives(4000));
    });
}

TEST_F(ConfigE2e, AdapterUnpluggedAndBackThenReopenResumesPolling) {
    Start({"--address", "1"});
    Window([&](QWidget* w, ModalOperator& op) {
        RunAt(w, "1");
        ASSERT_TRUE(MeasurementArrives(4000));
        const QString link = QString::fromStdString(sim->Link());
        sim->Kill();  // the adapter is pulled out
        QTest::qWait(2000);
        EXPECT_EQ(op.messages.size(), 1);
        EXPECT_TRUE(op.messages.value(0).contains("已断开"));
        sim = std::make_unique<SimProcess>(QStringList{"--address", "1"},
                                           link);  // and plugged in again
        ASSERT_TRUE(sim->Running());
        op.Answer(CommSetAnswer(0, 0));
        Click(w, IDC_COMM_SET);
        EXPECT_TRUE(dlg->m_comm.GetPortOpen());
        EXPECT_TRUE(MeasurementArrives(4000));
        EXPECT_EQ(op.messages.size(), 1);
    });
}

// ---- Meters behind gateways: the same window over tcp:// and modbus-tcp://

TEST_F(ConfigE2e, PollingAndMeterParametersOverBothKindsOfGateway) {
    for (const char* kind : {"--tcp", "--modbus-tcp"}) {
        Start({"--address", "1", kind, "0", "--set", "0=22000"});
        Window([&](QWidget* w, ModalOperator& op) {
            RunAt(w, "1");
            ASSERT_TRUE(MeasurementArrives(4000)) << kind;
            EXPECT_EQ(dlg->GetDlgItemText(1001), "220.00 V") << kind;
            // The receive echo shows the RTU frame a meter sends, whatever the framing.
            EXPECT_NE(dlg->GetDlgItemText(IDC_RX_ECHO).find("01\r 03\r 5A\r 55\r F0\r "),
                      std::string::npos)
                << kind;
            op.Answer([](QWidget* d) {
                Ctl<QLineEdit>(d, IDC_PT)->setText("100");
                Ctl<QLineEdit>(d, IDC_CT)->setText("5");
                QTest::mouseClick(Ctl<QAbstractButton>(d, IDOK), Qt::LeftButton);
            });
            Click(w, IDC_METER_SET);
            EXPECT_EQ(op.messages, QStringList{"设置仪表参数成功"}) << kind;
            QTest::qWait(4 * 500 + 200);
            EXPECT_EQ(dlg->m_nPT, 100u) << kind;
            EXPECT_EQ(dlg->GetDlgItemText(1001), "22.00 KV") << kind;
        });
        sim.reset();
    }
}

TEST_F(ConfigE2e, AGatewayThatDropsOrRefusesIsReportedOnceAndReconnectedByCommSet) {
    // The gateway comes back where it was.
    const QString port = QString::number(FreePortBelowEphemeral());
    const QString url = "modbus-tcp://127.0.0.1:" + port;
    Start({"--address", "1", "--modbus-tcp", port});
    Window([&](QWidget* w, ModalOperator& op) {
        RunAt(w, "1");
        ASSERT_TRUE(MeasurementArrives(4000));
        sim->Kill();  // the gateway goes away while polling
        QTest::qWait(2000);
        ASSERT_EQ(op.messages.size(), 1);
        EXPECT_TRUE(op.messages[0].contains("已断开")) << op.messages[0].toStdString();
        EXPECT_TRUE(op.messages[0].contains(url)) << op.messages[0].toStdString();
        op.Answer(CommSetAnswer(0, 0));  // reopening while nothing listens: refused
        Click(w, IDC_COMM_SET);
        ASSERT_EQ(op.messages.size(), 2);
        EXPECT_TRUE(op.messages[1].contains(url)) << op.messages[1].toStdString();
        EXPECT_TRUE(op.messages[1].contains("refused")) << op.messages[1].toStdString();
        EXPECT_FALSE(dlg->m_comm.GetPortOpen());
        sim = std::make_unique<SimProcess>(QStringList{"--address", "1", "--modbus-tcp", port});
        op.Answer(CommSetAnswer(0, 0));
        Click(w, IDC_COMM_SET);  // back: reconnects, and polling goes on
        EXPECT_TRUE(dlg->m_comm.GetPortOpen());
        EXPECT_TRUE(MeasurementArrives(4000));
        EXPECT_EQ(op.messages.size(), 2);
    });
}
