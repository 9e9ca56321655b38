// What the operator and assistive technology see and do: accessible names that follow the
// captions, radios changed through any channel, Enter on a focused button, long values.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>

#include "QtTestUtil.h"
#include "app/CommSetDlg.h"
#include "app/MeterApp.h"
#include "config/MeterSetDlg.h"
#include "res/Resource.h"
#include "sim/MemoryPort.h"
#include "winsys/qt/QtWindowSystem.h"

namespace {

QString AccessibleName(QWidget* w) {
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
}

// What a screen reader's "activate" does on a radio.
void AccessibleToggle(QWidget* w) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    ASSERT_TRUE(iface && iface->actionInterface());
    iface->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
}

// Tabs until the control has the focus, then presses Enter there, as an operator would.
// A dialog the keys cannot reach is closed, so that a failure never hangs the run.
void TabToAndPressEnter(QWidget* dlg, QWidget* target) {
    QApplication::setActiveWindow(dlg);
    if (!QTest::qWaitForWindowActive(dlg)) {
        ADD_FAILURE() << "the dialog never became active";
        return QTest::keyClick(dlg, Qt::Key_Escape);
    }
    for (int i = 0; i < 20 && QApplication::focusWidget() != target; ++i)
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : dlg,
                        Qt::Key_Tab);
    if (QApplication::focusWidget() != target) {
        ADD_FAILURE() << "Tab never reached the control";
        return QTest::keyClick(dlg, Qt::Key_Escape);
    }
    QTest::keyClick(target, Qt::Key_Return);
}

struct MainWindow : ::testing::Test {
    SystemClock clock;
    QtWindowSystem ws{clock};
    MemoryPort port{clock};
    CMeterDlg dlg{ws, port, [](int) { return std::string("/dev/meter"); }};
    MainWindow() { dlg.m_nBaud = 9600, dlg.m_nParity = 0, dlg.m_nComPort = 1; }
    void With(std::function<void(QWidget*)> check) {
        WhenModalShown([&](QWidget* w) {
            check(w);
            QTest::keyClick(w, Qt::Key_Escape);
        });
        dlg.DoModal();
    }
};

}  // namespace

TEST_F(MainWindow, RunStopIsReadByItsCurrentCaption) {
    With([&](QWidget* w) {
        auto* run = Ctl<QPushButton>(w, IDC_RUN_STOP);
        EXPECT_EQ(AccessibleName(run).toStdString(), "运行");
        QTest::mouseClick(run, Qt::LeftButton);
        EXPECT_EQ(AccessibleName(run).toStdString(), "停止");
        QTest::mouseClick(run, Qt::LeftButton);
        EXPECT_EQ(AccessibleName(run).toStdString(), "运行");
        // An edit keeps the name of its label whatever it shows.
        dlg.SetDlgItemText(1001, "220.00 V");
        EXPECT_EQ(AccessibleName(Ctl<QWidget>(w, 1001)).toStdString(), "相 电 压 / A相/CA线");
    });
}

TEST_F(MainWindow, EnterPressesTheFocusedButtonAndNothingElse) {
    With([&](QWidget* w) {
        auto* run = Ctl<QPushButton>(w, IDC_RUN_STOP);
        TabToAndPressEnter(w, run);
        EXPECT_EQ(run->text().toStdString(), "停止");
        EXPECT_TRUE(dlg.m_bRunning);
        // From the address box Enter does nothing: no default button closes the window.
        TabToAndPressEnter(w, Ctl<QWidget>(w, IDC_SLAVE_ADDR));
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(run->text().toStdString(), "停止");
    });
}

TEST_F(MainWindow, ALongValueShowsItsStartAndClipsItsEnd) {
    With([&](QWidget* w) {
        auto* box = Ctl<QLineEdit>(w, IDC_ENERGY_FWD_REACTIVE);
        const QString longText = "1310720.0000 MVarh", start = "13107";
        ASSERT_GT(box->fontMetrics().horizontalAdvance(longText), box->width());
        // The first characters must be drawn where a short text with the same start is.
        dlg.SetDlgItemText(IDC_ENERGY_FWD_REACTIVE, start.toStdString());
        const QImage head = box->grab().toImage();
        dlg.SetDlgItemText(IDC_ENERGY_FWD_REACTIVE, longText.toStdString());
        const QImage whole = box->grab().toImage();
        const int headWidth = box->fontMetrics().horizontalAdvance(start);
        ASSERT_EQ(head.size(), whole.size());
        EXPECT_EQ(head.copy(0, 0, headWidth, head.height()),
                  whole.copy(0, 0, headWidth, whole.height()));
    });
}

TEST_F(MainWindow, ThePortStatusHasNoBorder) {
    With([&](QWidget* w) {
        EXPECT_EQ(Ctl<QTextEdit>(w, IDC_PORT_STATUS)->frameShape(), QFrame::NoFrame);
        EXPECT_NE(Ctl<QTextEdit>(w, IDC_TX_ECHO)->frameShape(), QFrame::NoFrame);
    });
}

TEST(QtRadios, TheAccessibilityActionIsAClick) {
    SystemClock clock;
    QtWindowSystem ws{clock};
    CCommSetDlg dlg{ws};
    dlg.m_nBaud = 9600, dlg.m_nParity = 0, dlg.m_nComPort = 1;
    WhenModalShown([&](QWidget* w) {
        AccessibleToggle(Ctl<QRadioButton>(w, 1011));  // 4800
        AccessibleToggle(Ctl<QRadioButton>(w, 1015));  // odd
        AccessibleToggle(Ctl<QRadioButton>(w, 1015));  // again: stays checked
        for (int id = 1009; id <= 1016; ++id)
            EXPECT_EQ(Ctl<QRadioButton>(w, id)->isChecked(), id == 1011 || id == 1015) << id;
        QTest::keyClick(w, Qt::Key_Return);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.m_nBaud, 4800);
    EXPECT_EQ(dlg.m_nParity, 1);
}

TEST(QtRadios, TheWiringChosenByTheAccessibilityActionIsTheOneStored) {
    SystemClock clock;
    QtWindowSystem ws{clock};
    CMeterSetDlg dlg{ws};
    dlg.m_byWiring = 0, dlg.m_nPT = 1, dlg.m_nCT = 1;
    WhenModalShown([&](QWidget* w) {
        AccessibleToggle(Ctl<QRadioButton>(w, 1013));
        int checked = 0;
        for (int id = IDC_WIRING_FIRST; id <= IDC_WIRING_LAST; ++id)
            checked += Ctl<QRadioButton>(w, id)->isChecked();
        EXPECT_EQ(checked, 1);
        QTest::keyClick(w, Qt::Key_Escape);
    });
    dlg.DoModal();
    EXPECT_EQ(dlg.m_byWiring, 4);
}

TEST(QtEnter, OnTheFocusedExitButtonItCancelsTheDialog) {
    SystemClock clock;
    QtWindowSystem ws{clock};
    {
        CCommSetDlg dlg{ws};
        dlg.m_nBaud = 9600, dlg.m_nParity = 0, dlg.m_nComPort = 1;
        WhenModalShown([&](QWidget* w) { TabToAndPressEnter(w, Ctl<QWidget>(w, IDCANCEL)); });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    }
    {
        CMeterSetDlg dlg{ws};
        WhenModalShown([&](QWidget* w) { TabToAndPressEnter(w, Ctl<QWidget>(w, IDCANCEL)); });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    }
    {
        // In an edit Enter still presses the default button.
        CCommSetDlg dlg{ws};
        dlg.m_nBaud = 9600, dlg.m_nParity = 0, dlg.m_nComPort = 1;
        WhenModalShown([&](QWidget* w) { TabToAndPressEnter(w, Ctl<QWidget>(w, IDC_COM_PORT)); });
        EXPECT_EQ(dlg.DoModal(), IDOK);
    }
}
