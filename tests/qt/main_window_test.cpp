#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>

#include "QtTestUtil.h"
#include "app/CommSetDlg.h"
#include "app/MeterApp.h"
#include "res/Resource.h"
#include "sim/MemoryPort.h"
#include "winsys/qt/QtWindowSystem.h"

namespace {

// Dialog units to pixels at 96 DPI for a 9 pt template: 6 x 12 base units.
QRect Pixels(const DlgRect& r) {
    auto px = [](int du) { return static_cast<int>(du * 1.5 + 0.5); };
    return QRect(px(r.x), px(r.y), px(r.cx), px(r.cy));
}

struct QtMainWindowFixture : ::testing::Test {
    SystemClock clock;
    QtWindowSystem ws{clock};
    MemoryPort port{clock};
    CMeterDlg dlg{ws, port, [](int) { return std::string("/dev/meter"); }};

    QtMainWindowFixture() {
        ws.SetDialogBkColor(kDialogBkColor, RGB(0, 0, 0));
        dlg.m_nBaud = 9600, dlg.m_nParity = 0, dlg.m_nComPort = 1;
    }
    // Opens the main window, runs check on it, then closes it with close.
    void WithWindow(std::function<void(QWidget*)> check, std::function<void(QWidget*)> close) {
        WhenModalShown([&](QWidget* w) {
            check(w);
            close(w);
        });
        dlg.DoModal();
    }
};

void PressEsc(QWidget* w) {
    QTest::keyClick(w, Qt::Key_Escape);
}

}  // namespace

TEST_F(QtMainWindowFixture, EveryControlOfTheLayoutIsWhereTheTemplatePutsIt) {
    WithWindow(
        [&](QWidget* w) {
            EXPECT_EQ(w->windowTitle().toStdString(), "KX880智能电力检测仪--Harmont");
            EXPECT_EQ(w->size(), QSize(575, 479));
            EXPECT_EQ(w->minimumSize(), w->maximumSize());
            for (const ControlTemplate& c : MeterDialogTemplate().controls) {
                if (c.id == IDC_STATIC || c.kind == CtlKind::SerialControl) continue;
                QWidget* ctl = Ctl<QWidget>(w, c.id);
                ASSERT_TRUE(ctl) << c.id;
                EXPECT_EQ(ctl->geometry(), Pixels(c.rc)) << c.id;
                EXPECT_EQ(ctl->isVisibleTo(w), !c.Has(kHidden)) << c.id;
                if (auto* b = qobject_cast<QAbstractButton*>(ctl)) {
                    EXPECT_EQ(b->text().toStdString(), c.caption) << c.id;
                }
                if (c.kind == CtlKind::Edit) {
                    EXPECT_EQ(ctl->property("readOnly").toBool(), c.Has(kReadOnly)) << c.id;
                    EXPECT_FALSE(ctl->accessibleName().isEmpty()) << c.id;
                }
            }
            EXPECT_FALSE(Ctl<QWidget>(w, IDC_MSCOMM));  // the serial control draws nothing
        },
        PressEsc);
}

TEST_F(QtMainWindowFixture, LabelsAndAccessibleNamesReadLikeTheGrid) {
    WithWindow(
        [&](QWidget* w) {
            QStringList labels;
            for (QLabel* l : w->findChildren<QLabel*>())
                if (l->isVisibleTo(w)) labels << l->text();
            for (const char* text : {"子机地址", "  合相", "A相/CA线", "相 电 压", "频    率",
                                     "正向有功电能", "发送帧:", "接收帧:"})
                EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;
            EXPECT_FALSE(labels.contains(QString::fromUtf8("零序电流")));
            EXPECT_EQ(Ctl<QWidget>(w, 1001)->accessibleName().toStdString(), "相 电 压 / A相/CA线");
            EXPECT_EQ(Ctl<QWidget>(w, 1049)->accessibleName().toStdString(), "频    率 / 合相");
            EXPECT_EQ(Ctl<QWidget>(w, 1054)->accessibleName().toStdString(), "负向有功电能");
            EXPECT_EQ(Ctl<QWidget>(w, IDC_SLAVE_ADDR)->accessibleName().toStdString(), "子机地址");
            EXPECT_EQ(Ctl<QWidget>(w, IDC_RUN_STOP)->accessibleName().toStdString(), "运行");
        },
        PressEsc);
}

TEST_F(QtMainWindowFixture, ShowsStartValuesOnTheDialogBackground) {
    WithWindow(
        [&](QWidget* w) {
            EXPECT_EQ(w->palette().color(QPalette::Window), QColor(181, 240, 249));
            EXPECT_EQ(Ctl<QLineEdit>(w, IDC_SLAVE_ADDR)->text(), "0");
            EXPECT_EQ(Ctl<QTextEdit>(w, IDC_PORT_STATUS)->toPlainText().toStdString(),
                      "串行口: 1 \n\n波特率: 9600 \n\n校验位:无校验");
            // What the program set comes back exactly, line ends included.
            EXPECT_EQ(dlg.GetDlgItemText(IDC_PORT_STATUS),
                      "串行口: 1 \r\n\r\n波特率: 9600 \r\n\r\n校验位:无校验");
            QWidget* cell = Ctl<QWidget>(w, 1001);
            cell->grab();  // paints, which asks for the colours
            EXPECT_EQ(cell->palette().color(QPalette::Base), QColor(181, 240, 249));
        },
        PressEsc);
}

TEST_F(QtMainWindowFixture, EachWayOfClosingReleasesThePort) {
    std::function<void(QWidget*)> ways[] = {
        PressEsc,
        [](QWidget* w) { QTest::mouseClick(Ctl<QAbstractButton>(w, IDCANCEL), Qt::LeftButton); },
        [](QWidget* w) { w->close(); },  // the system menu's close
    };
    for (auto& close : ways) {
        WithWindow(
            [&](QWidget*) {
                EXPECT_TRUE(port.IsOpen());
                dlg.SetTimer(1, 50);
            },
            close);
        EXPECT_FALSE(port.IsOpen());
        EXPECT_FALSE(dlg.IsOpen());
    }
}

TEST(QtCommSetDlg, RadiosAreExclusiveOnlyThroughTheirHandlers) {
    SystemClock clock;
    QtWindowSystem ws{clock};
    CCommSetDlg dlg{ws};
    dlg.m_nBaud = 9600, dlg.m_nParity = 0, dlg.m_nComPort = 1;
    WhenModalShown([&](QWidget* w) {
        EXPECT_TRUE(Ctl<QRadioButton>(w, 1012)->isChecked());
        EXPECT_TRUE(Ctl<QRadioButton>(w, 1014)->isChecked());
        EXPECT_EQ(Ctl<QLineEdit>(w, 1000)->text(), "1");
        EXPECT_FALSE(Ctl<QRadioButton>(w, 1011)->autoExclusive());
        QTest::mouseClick(Ctl<QRadioButton>(w, 1011), Qt::LeftButton);
        QTest::mouseClick(Ctl<QRadioButton>(w, 1013), Qt::LeftButton);
        QTest::mouseClick(Ctl<QRadioButton>(w, 1013), Qt::LeftButton);  // stays checked
        for (int id = 1009; id <= 1013; ++id)
            EXPECT_EQ(Ctl<QRadioButton>(w, id)->isChecked(), id == 1013) << id;
        QTest::mouseClick(Ctl<QRadioButton>(w, 1016), Qt::LeftButton);
        Ctl<QLineEdit>(w, 1000)->setText("-3");
        QTest::keyClick(w, Qt::Key_Return);  // the default button
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.m_nBaud, 19200);
    EXPECT_EQ(dlg.m_nParity, 2);
    EXPECT_EQ(dlg.m_nComPort, -3);
}

TEST(QtCommSetDlg, LettersShowThePromptAndKeepTheDialogOpen) {
    SystemClock clock;
    QtWindowSystem ws{clock};
    CCommSetDlg dlg{ws};
    dlg.m_nBaud = 9600, dlg.m_nParity = 0, dlg.m_nComPort = 1;
    QString prompt;
    WhenModalShown([&](QWidget* w) {
        Ctl<QLineEdit>(w, 1000)->setText("abc");
        WhenModalShown(
            [&](QWidget* box) {
                prompt = static_cast<QMessageBox*>(box)->text();
                static_cast<QMessageBox*>(box)->accept();
                // Back in the dialog: still open, the port edit has the focus.
                QTimer::singleShot(20, [&, w] {
                    EXPECT_TRUE(w->isVisible());
                    EXPECT_EQ(w->focusWidget(), Ctl<QLineEdit>(w, 1000));
                    QTest::keyClick(w, Qt::Key_Escape);
                });
            },
            w);
        QTest::mouseClick(Ctl<QAbstractButton>(w, IDOK), Qt::LeftButton);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(prompt.toStdString(), "请输入一个整数。");
    EXPECT_EQ(dlg.m_nComPort, 1);
}

namespace {

const DialogTemplate& ColourTemplate() {
    static const DialogTemplate t{
        600,
        "colours",
        "宋体",
        9,
        100,
        60,
        kSysMenu,
        {
            {700, CtlKind::Edit, "", {5, 5, 50, 12}, 0},
            {701, CtlKind::Edit, "", {5, 20, 50, 12}, kReadOnly | kBorderless},
        }};
    return t;
}

struct AlarmDlg : CDialog {
    explicit AlarmDlg(CWindowSystem& ws) : CDialog(ws, ColourTemplate()) {}
    CBrush brush{RGB(0, 0, 255)};
    bool alarm = true;
    int ticks = 0;
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor) override {
        HBRUSH def = CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
        if (nCtlColor != CTLCOLOR_EDIT || pWnd->GetDlgCtrlID() != 700) return def;
        pDC->SetBkMode(TRANSPARENT);
        pDC->SetTextColor(alarm ? RGB(255, 0, 0) : RGB(0, 0, 0));
        return &brush;
    }
    void OnTimer(UINT) override { ++ticks; }
};

}  // namespace

TEST(QtBackend, ColourRequestsAreHonouredOnEveryPaint) {
    SystemClock clock;
    QtWindowSystem ws{clock};
    AlarmDlg dlg{ws};
    WhenModalShown([&](QWidget* w) {
        QWidget* edit = Ctl<QWidget>(w, 700);
        edit->grab();
        EXPECT_EQ(edit->palette().color(QPalette::Text), QColor(255, 0, 0));
        EXPECT_EQ(edit->palette().color(QPalette::Base), QColor(0, 0, 255));
        dlg.alarm = false;
        edit->grab();
        EXPECT_EQ(edit->palette().color(QPalette::Text), QColor(0, 0, 0));
        // A read-only box asks in the static category and keeps the default colours.
        QWidget* ro = Ctl<QWidget>(w, 701);
        ro->grab();
        EXPECT_EQ(ro->palette().color(QPalette::Text), QColor(0, 0, 0));
        QTest::keyClick(w, Qt::Key_Escape);
    });
    dlg.DoModal();
}

TEST(QtBackend, TimersTickUntilKilledAndStopWithTheWindow) {
    SystemClock clock;
    QtWindowSystem ws{clock};
    AlarmDlg dlg{ws};
    int ticksAtKill = -1;
    WhenModalShown([&](QWidget* w) {
        dlg.SetTimer(1, 10);
        dlg.SetTimer(1, 10);  // a second start is a restart, not a second timer
        QTest::qWait(120);
        EXPECT_GE(dlg.ticks, 5);
        EXPECT_LE(dlg.ticks, 13);
        dlg.KillTimer(1);
        ticksAtKill = dlg.ticks;
        QTest::qWait(50);
        EXPECT_EQ(dlg.ticks, ticksAtKill);
        dlg.SetTimer(2, 10);
        QTest::keyClick(w, Qt::Key_Escape);
    });
    dlg.DoModal();
    int afterClose = dlg.ticks;
    QTest::qWait(50);
    EXPECT_EQ(dlg.ticks, afterClose);
}
