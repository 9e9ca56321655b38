#include <gtest/gtest.h>

#include "serial/LineSettings.h"

using P = LineSettings::Parity;
using S = LineSettings::StopBits;

TEST(LineSettings, ConsoleTextsForEachParity) {
    EXPECT_EQ(BuildSettingsText(9600, 0), "9600,N,8,2");
    EXPECT_EQ(BuildSettingsText(4800, 1), "4800,O,8,1");
    EXPECT_EQ(BuildSettingsText(19200, 2), "19200,E,8,1");
}

TEST(LineSettings, ParsesEveryFieldOfValidTexts) {
    EXPECT_EQ(ParseSettings("9600,N,8,2"), (LineSettings{9600, P::None, 8, S::Two}));
    EXPECT_EQ(ParseSettings("4800,O,8,1"), (LineSettings{4800, P::Odd, 8, S::One}));
    EXPECT_EQ(ParseSettings("19200,e,7,1.5"), (LineSettings{19200, P::Even, 7, S::OneAndHalf}));
    EXPECT_EQ(ParseSettings("1200,M,8,1")->parity, P::Mark);
}

TEST(LineSettings, RefusesMalformedTextsWithAReason) {
    const char* bad[] = {"",
                         "9600",
                         "9600,N,8",
                         "9600,N,8,2,",
                         "96OO,N,8,2",
                         "9600,X,8,2",
                         "9600,N,9,2",
                         "9600,N,8,3",
                         "-9600,N,8,2",
                         "9600,,8,2",
                         " 9600,N,8,2",
                         "99999999999,N,8,2"};
    for (const char* text : bad) {
        std::string why;
        EXPECT_FALSE(ParseSettings(text, &why)) << text;
        EXPECT_FALSE(why.empty()) << text;
    }
}
