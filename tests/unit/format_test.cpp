#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

#include "measure/Format.h"
#include "measure/LimitStatus.h"

namespace {

struct LadderCase {
    double value;
    Ladder ladder;
    const char* text;
};

const LadderCase kLadderCases[] = {
    {999.999, Ladder::Voltage, "1000.00 V"},
    {1000.004, Ladder::Voltage, "1.00 KV"},
    {1000, Ladder::Voltage, "1000.00 V"},
    {0, Ladder::Voltage, "0.00 V"},
    {5000000, Ladder::Voltage, "5000.00 KV"},  // no mega step
    {0, Ladder::Current, "0.0000 A"},
    {1234.5, Ladder::Current, "1.2345 KA"},
    {1000000, Ladder::ActivePower, "1000.0000 KW"},
    {1000000.5, Ladder::ActivePower, "1.0000 MW"},
    {-32768000, Ladder::ActivePower, "-32768000.0 W"},
    {-0.04, Ladder::ActivePower, "-0.0 W"},
    {-0.1, Ladder::ReactivePower, "-0.1 Var"},
    {2000, Ladder::ReactivePower, "2.0000 KVar"},
    {3000000, Ladder::ReactivePower, "3.0000 MVar"},
    {13107, Ladder::ApparentPower, "13.1070 KVA"},
    {2, Ladder::ApparentPower, "2.0 VA"},
    {131073, Ladder::ForwardActiveEnergy, "131.0730 KWh"},
    {1000000, Ladder::ForwardActiveEnergy, "1000.0000 KWh"},
    {0, Ladder::ReverseActiveEnergy, "-0.0 Wh"},
    {5000000, Ladder::ReverseActiveEnergy, "-5.0000 MWh"},
    {999, Ladder::ForwardReactiveEnergy, "999.0 Varh"},
    {2500000, Ladder::ReverseReactiveEnergy, "-2.5000 MVarh"},
    {1500, Ladder::ReverseReactiveEnergy, "-1.5000 KVarh"},
};

void ExpectLadderTable() {
    for (const LadderCase& c : kLadderCases)
        EXPECT_EQ(FormatQuantity(c.value, c.ladder), c.text) << c.value;
    EXPECT_EQ(FormatPowerFactor(-1), "-1.0000");
    EXPECT_EQ(FormatPowerFactor(1), "1.0000");
    EXPECT_EQ(FormatFrequency(50.00023343), "50.000 Hz");
    EXPECT_EQ(FormatFrequency(46811 * 0.00106813), "50.000 Hz");
    EXPECT_EQ(FormatDouble("%.2f ", 220), "220.00 ");
    EXPECT_EQ(FormatDouble("%.4f ", 0.5), "0.5000 ");
}

}  // namespace

TEST(FormatQuantity, LaddersAndFixedFormats) {
    ExpectLadderTable();
}

TEST(FormatQuantity, RoundsAsPrintfDoes) {
    // Halfway cases and long fractions, against the C library in the C locale.
    const double values[] = {
        0.125, 0.375, 2.675, 1.005, 1e-7, 123456.789012, 65535 * 64000.0 * 64000 * 4 / 10};
    for (double v : values)
        for (const char* fmt : {"%.1f", "%.2f", "%.4f"}) {
            char expected[512];
            std::snprintf(expected, sizeof expected, fmt, v);
            EXPECT_EQ(FormatDouble(fmt, v), expected) << fmt << " " << v;
        }
}

TEST(FormatQuantity, IgnoresALocaleWithADecimalComma) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "no de_DE.UTF-8 locale here";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.2f", 1.5);
    EXPECT_STREQ(probe, "1,50");  // the trap the console must not fall into
    ExpectLadderTable();
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(LimitStatus, FieldsFlagsAndTexts) {
    LimitStatus s = DecodeLimitStatus(0x00, 0xFF);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(s.flags[k], 0) << k;
        EXPECT_EQ(s.texts[k], "正常") << k;
    }
    s = DecodeLimitStatus(0x9B, 0x1E);  // fields 2,1,2,3 and 0,1,3,2
    EXPECT_EQ((std::array<uint8_t, 8>{1, 1, 1, 0, 0, 1, 0, 1}), s.flags);
    EXPECT_EQ(s.texts[0], "过压");
    EXPECT_EQ(s.texts[1], "欠压");
    EXPECT_EQ(s.texts[2], "过压");
    EXPECT_EQ(s.texts[3], "正常");
    EXPECT_EQ(s.texts[5], "欠流");
    EXPECT_EQ(s.texts[6], "正常");
    EXPECT_EQ(s.texts[7], "过流");
}
