#include <gtest/gtest.h>

#include "app/CommSetDlg.h"
#include "winsys/Headless.h"

namespace {

struct CommSetFixture : ::testing::Test {
    VirtualClock clock;
    HeadlessWindowSystem ws{clock};
    CCommSetDlg dlg{ws};
    CommSetFixture() {
        dlg.m_nBaud = 9600;
        dlg.m_nParity = 0;
        dlg.m_nComPort = 1;
    }
    std::vector<int> CheckedRadios(HeadlessDialog& h) {
        std::vector<int> ids;
        for (int id = 1009; id <= 1016; ++id)
            if (h.Checked(id)) ids.push_back(id);
        return ids;
    }
};

}  // namespace

TEST_F(CommSetFixture, ShowsTheCallersChoice) {
    HeadlessDialog& h = ws.Open(dlg);
    EXPECT_EQ(h.Text(1000), "1");
    EXPECT_EQ(CheckedRadios(h), (std::vector<int>{1012, 1014}));
    EXPECT_EQ(h.FocusId(), IDOK);
}

TEST_F(CommSetFixture, EachRadioOfASetClearsTheOthersAndStoresItsValue) {
    dlg.m_nBaud = 1200;
    dlg.m_nParity = 2;
    HeadlessDialog& h = ws.Open(dlg);
    EXPECT_EQ(CheckedRadios(h), (std::vector<int>{1009, 1016}));
    const std::pair<int, int> bauds[] = {
        {1010, 2400}, {1011, 4800}, {1013, 19200}, {1012, 9600}, {1009, 1200}};
    for (auto [id, baud] : bauds) {
        h.Click(id);
        EXPECT_EQ(dlg.m_nBaud, baud);
        EXPECT_EQ(CheckedRadios(h), (std::vector<int>{id, 1016}));
    }
    for (int p = 0; p < 3; ++p) {
        h.Click(1014 + p);
        EXPECT_EQ(dlg.m_nParity, p);
        EXPECT_EQ(CheckedRadios(h), (std::vector<int>{1009, 1014 + p}));
    }
}

TEST_F(CommSetFixture, ConfirmTakesAnyIntegerPortNumber) {
    for (const char* text : {"0", "-3", "12"}) {
        CCommSetDlg d{ws};
        d.m_nBaud = 9600, d.m_nParity = 0, d.m_nComPort = 1;
        ws.Expect([&](HeadlessDialog& h) {
            h.Click(1011);
            h.Click(1013);
            h.Type(1000, text);
            h.Click(IDOK);
        });
        EXPECT_EQ(d.DoModal(), IDOK);
        EXPECT_EQ(d.m_nComPort, std::stoi(text));
        EXPECT_EQ(d.m_nBaud, 19200);
    }
    EXPECT_TRUE(ws.MessageBoxes().empty());
}

TEST_F(CommSetFixture, LettersKeepTheDialogOpenWithThePrompt) {
    HeadlessDialog& h = ws.Open(dlg);
    h.Type(1000, "COM2");
    h.Click(IDOK);
    EXPECT_FALSE(h.Ended());
    EXPECT_EQ(ws.MessageBoxes(), std::vector<std::string>{"请输入一个整数。"});
    EXPECT_EQ(h.FocusId(), 1000);
    EXPECT_EQ(dlg.m_nComPort, 1);
    h.Type(1000, "2");
    h.Click(IDOK);
    EXPECT_EQ(h.Result(), IDOK);
    EXPECT_EQ(dlg.m_nComPort, 2);
}

TEST_F(CommSetFixture, CancelEndsWithoutDataExchangeAndHasNoCloseBox) {
    ws.Expect([](HeadlessDialog& h) {
        EXPECT_THROW(h.CloseBox(), std::logic_error);
        h.Click(1015);
        h.Type(1000, "garbage");
        h.Click(IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.m_nComPort, 1);
    EXPECT_TRUE(ws.MessageBoxes().empty());
    ws.Expect([](HeadlessDialog& h) { h.PressEsc(); });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST_F(CommSetFixture, ValuesOutsideTheOfferedOnesCheckNoRadio) {
    dlg.m_nBaud = 38400;
    dlg.m_nParity = -5;  // would name radio 1009 if taken as an offset
    HeadlessDialog& h = ws.Open(dlg);
    EXPECT_TRUE(CheckedRadios(h).empty());
}
