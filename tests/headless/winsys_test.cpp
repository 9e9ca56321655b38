#include <gtest/gtest.h>

#include "winsys/DataExchange.h"
#include "winsys/Headless.h"

namespace {

const DialogTemplate& FormTemplate() {
    static const DialogTemplate t{
        500,
        "Form",
        "宋体",
        9,
        100,
        80,
        kSysMenu,
        {
            {IDOK, CtlKind::DefPushButton, "OK", {5, 60, 30, 14}, kTabStop},
            {IDCANCEL, CtlKind::PushButton, "Cancel", {40, 60, 30, 14}, kTabStop},
            {100, CtlKind::Edit, "", {5, 5, 40, 12}, kTabStop},
            {101, CtlKind::Edit, "", {5, 20, 40, 12}, kTabStop},
            {102, CtlKind::Edit, "", {5, 35, 40, 12}, kTabStop},
            {103, CtlKind::Edit, "", {50, 5, 40, 12}, kReadOnly},
            {104, CtlKind::PushButton, "hidden", {50, 20, 40, 12}, kHidden},
        }};
    return t;
}

struct FormDlg : CDialog {
    explicit FormDlg(CWindowSystem& ws) : CDialog(ws, FormTemplate()) {}
    int32_t count = 5;
    BYTE addr = 7;
    uint32_t ratio = 100;
    std::vector<UINT> ticks;
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, 100, count);
        DDX_Text(pDX, 101, addr);
        DDV_MinMaxByte(pDX, addr, 0, 255);
        DDX_Text(pDX, 102, ratio);
        DDV_MinMaxUInt(pDX, ratio, 1, 64000);
    }
    void OnTimer(UINT id) override { ticks.push_back(id); }
};

struct WinsysFixture : ::testing::Test {
    VirtualClock clock;
    HeadlessWindowSystem ws{clock};
    FormDlg dlg{ws};
};

}  // namespace

TEST_F(WinsysFixture, InitShowsFieldsAndFocusesFirstTabStop) {
    HeadlessDialog& h = ws.Open(dlg);
    EXPECT_EQ(h.Text(100), "5");
    EXPECT_EQ(h.Text(101), "7");
    EXPECT_EQ(h.Text(102), "100");
    EXPECT_EQ(h.FocusId(), IDOK);
}

TEST_F(WinsysFixture, UnknownControlIdsAreIgnoredSilently) {
    dlg.SetDlgItemText(100, "before open");  // no window yet: nothing happens
    HeadlessDialog& h = ws.Open(dlg);
    dlg.SetDlgItemText(1065, "欠压");
    EXPECT_EQ(dlg.GetDlgItemText(1065), "");
    EXPECT_FALSE(dlg.IsDlgButtonChecked(1065));
    dlg.CheckRadioButton(1060, 1070, 1065);
    dlg.GotoDlgCtrl(1065);
    EXPECT_NE(h.FocusId(), 1065);
    EXPECT_TRUE(ws.MessageBoxes().empty());
    // The recorder still sees the attempt, marked as aimed at no control.
    const UiEvent& last = ws.Log().back();
    EXPECT_EQ(last.ctlId, 1065);
    EXPECT_FALSE(last.known);
}

TEST_F(WinsysFixture, InvalidFieldShowsPromptKeepsDialogOpenAndFocusesIt) {
    struct Case {
        int id;
        const char* text;
        const char* prompt;
    } cases[] = {
        {100, "abc", "请输入一个整数。"},
        {100, "", "请输入一个整数。"},
        {100, "99999999999", "请输入一个整数。"},
        {101, "256", "请输入一个 0 和 255 之间的整数。"},
        {101, "-1", "请输入一个 0 和 255 之间的整数。"},
        {102, "-5", "请输入一个正整数。"},
        {102, "0", "请输入一个 1 和 64000 之间的整数。"},
        {102, "64001", "请输入一个 1 和 64000 之间的整数。"},
    };
    for (const Case& c : cases) {
        FormDlg form(ws);
        HeadlessDialog& h = ws.Open(form);
        h.Type(c.id, c.text);
        ws.ClearLog();
        h.Click(IDOK);
        EXPECT_EQ(ws.MessageBoxes(), std::vector<std::string>{c.prompt}) << c.id << " " << c.text;
        EXPECT_FALSE(h.Ended());
        EXPECT_EQ(h.FocusId(), c.id);
        h.PressEsc();
        EXPECT_EQ(h.Result(), IDCANCEL);
    }
}

TEST_F(WinsysFixture, FirstInvalidFieldStopsTheExchange) {
    HeadlessDialog& h = ws.Open(dlg);
    h.Type(100, "x");
    h.Type(101, "9");
    EXPECT_FALSE(dlg.UpdateData(TRUE));
    EXPECT_EQ(dlg.addr, 7);  // never reached
    EXPECT_EQ(ws.MessageBoxes().size(), 1u);
    h.Type(100, " -12 ");
    h.Click(IDOK);
    EXPECT_EQ(h.Result(), IDOK);
    EXPECT_EQ(dlg.count, -12);
    EXPECT_EQ(dlg.addr, 9);
    EXPECT_TRUE(h.Destroyed());
}

TEST_F(WinsysFixture, TimersFireByPeriodRestartAndStop) {
    HeadlessDialog& h = ws.Open(dlg);
    dlg.SetTimer(1, 500);
    ws.Advance(499);
    EXPECT_TRUE(dlg.ticks.empty());
    ws.Advance(1);
    EXPECT_EQ(dlg.ticks, std::vector<UINT>{1});
    ws.Advance(300);
    dlg.SetTimer(1, 500);  // setting a running timer again restarts its period
    ws.Advance(499);
    EXPECT_EQ(dlg.ticks.size(), 1u);
    ws.Advance(1);
    EXPECT_EQ(dlg.ticks.size(), 2u);
    EXPECT_EQ(h.TimerPeriod(1), 500u);
    dlg.SetTimer(2, 200);
    ws.Advance(1000);
    EXPECT_EQ(std::count(dlg.ticks.begin(), dlg.ticks.end(), 2u), 5);
    EXPECT_EQ(std::count(dlg.ticks.begin(), dlg.ticks.end(), 1u), 4);
    dlg.KillTimer(1);
    dlg.ticks.clear();
    ws.Advance(1000);
    EXPECT_EQ(std::count(dlg.ticks.begin(), dlg.ticks.end(), 1u), 0);
    h.PressEsc();
    EXPECT_FALSE(h.TimerRunning(2));  // destroying the window ends its timers
}

TEST_F(WinsysFixture, ModalRunsNeedAnOperatorWhoEndsThem) {
    EXPECT_THROW(dlg.DoModal(), std::logic_error);
    ws.Expect([](HeadlessDialog&) {});
    EXPECT_THROW(dlg.DoModal(), std::logic_error);
    ws.Expect([](HeadlessDialog& h) { h.CloseBox(); });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_FALSE(dlg.IsOpen());
}

TEST_F(WinsysFixture, OperatorCannotReachHiddenOrReadOnlyControls) {
    HeadlessDialog& h = ws.Open(dlg);
    EXPECT_THROW(h.Click(104), std::logic_error);
    EXPECT_THROW(h.Type(103, "1"), std::logic_error);
    EXPECT_THROW(h.Click(999), std::logic_error);
}

TEST(WinsysColours, DialogColoursCoverReadOnlyBoxesButNotEditableOnes) {
    VirtualClock clock;
    HeadlessWindowSystem ws{clock};
    ws.SetDialogBkColor(RGB(181, 240, 249), RGB(0, 0, 0));
    FormDlg dlg{ws};
    CDC dc;
    CWnd wnd(103);
    HBRUSH b = dlg.OnCtlColor(&dc, &wnd, CTLCOLOR_STATIC);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Color(), RGB(181, 240, 249));
    EXPECT_EQ(dlg.OnCtlColor(&dc, &wnd, CTLCOLOR_EDIT), nullptr);
}
