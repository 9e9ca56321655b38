#include <gtest/gtest.h>

#include "winsys/NumberText.h"

TEST(NumberText, SignedAcceptsWhatAnOperatorMeans) {
    struct Case {
        const char* text;
        std::optional<int32_t> value;
    } cases[] = {
        {"0", 0},
        {"-3", -3},
        {"  42\t", 42},
        {"+7", 7},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {"12a", std::nullopt},
        {"a12", std::nullopt},
        {"1 2", std::nullopt},
        {"0x10", std::nullopt},
        {"2147483648", std::nullopt},
        {"99999999999", std::nullopt},
        {"1.5", std::nullopt},
        {"１２", std::nullopt},  // full-width digits are not ASCII digits
    };
    for (const Case& c : cases) EXPECT_EQ(ParseIntText(c.text), c.value) << '"' << c.text << '"';
}

TEST(NumberText, UnsignedRefusesNegativesAndOverflow) {
    EXPECT_EQ(ParseUIntText("64000"), 64000u);
    EXPECT_EQ(ParseUIntText("4294967295"), 4294967295u);
    EXPECT_EQ(ParseUIntText("-0"), 0u);
    EXPECT_EQ(ParseUIntText("-1"), std::nullopt);
    EXPECT_EQ(ParseUIntText("4294967296"), std::nullopt);
    EXPECT_EQ(ParseUIntText("99999999999"), std::nullopt);
    EXPECT_EQ(ParseUIntText("18446744073709551617"), std::nullopt);  // would wrap a 64-bit sum
}
