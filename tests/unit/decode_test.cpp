#include <gtest/gtest.h>

#include <map>

#include "measure/MeasurementBlock.h"
#include "modbus/ParamBlock.h"
#include "support/HandTexts.h"

namespace {

struct Block {
    uint8_t data[90] = {};
    Block& Set(int reg, uint16_t v) {
        data[2 * reg] = static_cast<uint8_t>(v >> 8);
        data[2 * reg + 1] = static_cast<uint8_t>(v & 0xFF);
        return *this;
    }
    std::map<int, std::string> Texts(Scales s = {}) const {
        std::map<int, std::string> m;
        for (const auto& f : DecodeMeasurementTexts(data, s)) m[f.id] = f.text;
        return m;
    }
};

}  // namespace

TEST(MeasurementBlock, WorkedExamples) {
    struct Case {
        std::vector<std::pair<int, uint16_t>> regs;
        Scales scales;
        int control;
        const char* text;
    } cases[] = {
        {{{0x00, 22000}}, {}, 1001, "220.00 V"},
        {{{0x00, 50000}}, {100, 1, 1, 1}, 1001, "50.00 KV"},
        {{{0x04, 0xFFFF}}, {}, 1034, "-0.1 W"},
        {{{0x07, 0xFFFF}}, {}, 1042, "13.1070 KVA"},
        {{{0x04, 0x8000}}, {100, 100, 1, 1}, 1034, "-32768000.0 W"},
        {{{0x04, 10}}, {1, 1, 4, 1}, 1034, "4.0 W"},
        {{{0x07, 10}}, {1, 1, 4, 1}, 1042, "2.0 VA"},
        {{{0x06, 10}}, {1, 1, 4, 1}, 1038, "4.0 Var"},
        {{{0x05, 0xD8F0}}, {}, 1046, "-1.0000"},
        {{{0x05, 0x2710}}, {}, 1046, "1.0000"},
        {{{0x1B, 46811}}, {}, 1049, "50.000 Hz"},
        {{{0x21, 0x0001}, {0x22, 0x0002}}, {}, 1053, "131.0730 KWh"},
        {{{0x21, 1}}, {1, 1, 1, 1000000}, 1053, "1000.0000 KWh"},
        {{}, {}, 1054, "-0.0 Wh"},
        {{{0x01, 38000}, {0x09, 38000}, {0x11, 38300}}, {}, 1025, "381.00 V"},
        {{{0x12, 12345}}, {}, 1032, "1.2345 A"},
        {{{0x18, 100}}, {}, 1050, "0.0100 A"},
        {{{0x27, 0xFFFF}, {0x28, 0xFFFF}}, {}, 1056, "-4294.9673 MVarh"},
        // The largest ratios with the Urg factor: no integer overflow anywhere.
        {{{0x1C, 0x7FFF}}, {64000, 64000, 4, 1}, 1033, "53685452.8000 MW"},
        {{{0x1F, 0xFFFF}}, {64000, 64000, 1, 1}, 1041, "53686272.0000 MVA"},
        {{{0x23, 0xFFFF}, {0x24, 0xFFFF}},
         {64000, 64000, 1, 1000000},
         1054,
         "-17592186040320000000.0000 MWh"},
        {{{0x19, 65535}}, {64000, 1, 1, 1}, 1000, "41942.40 KV"},
    };
    for (const Case& c : cases) {
        Block b;
        for (auto [reg, v] : c.regs) b.Set(reg, v);
        EXPECT_EQ(b.Texts(c.scales)[c.control], c.text) << c.control << " " << c.text;
    }
}

TEST(MeasurementBlock, EveryRegisterFeedsItsOwnBoxInRegisterOrder) {
    Block b;
    for (int r = 0; r < 45; ++r) b.Set(r, SetARegister(r));
    auto decoded = [&](Scales s) {
        TextTable out;
        for (const auto& f : DecodeMeasurementTexts(b.data, s)) out.push_back({f.id, f.text});
        return out;
    };
    EXPECT_EQ(decoded({}), kSetATexts);
    EXPECT_EQ(decoded({100, 5, 4, 1000}), kSetAScaledTexts);
}

TEST(ParamBlock, DecodesTheUsedRegisters) {
    uint8_t d[38] = {};
    d[1] = 7;                 // 0x0300 address
    d[2] = 0xFF, d[3] = 3;    // 0x0301 wiring: only the low byte
    d[11] = 1;                // 0x0305 Urg flag
    d[13] = 3;                // 0x0306 energy exponent
    d[14] = 0xFA, d[15] = 0;  // 0x0307 PT 64000
    d[18] = 0x00, d[19] = 5;  // 0x0309 CT 5
    d[32] = 0x01, d[33] = 0;  // 0x0310 0x0100: class 0.5
    ParamBlock p = DecodeParamBlock(d);
    EXPECT_EQ(p.slaveAddr, 7);
    EXPECT_EQ(p.wiring, 3);
    EXPECT_EQ(p.urgFactor, 4);
    EXPECT_EQ(p.energyScale, 1000);
    EXPECT_EQ(p.pt, 64000u);
    EXPECT_EQ(p.ct, 5u);
    EXPECT_EQ(p.classFlag, 0);
    for (uint8_t flag : {0, 2, 255}) {
        d[11] = flag;
        EXPECT_EQ(DecodeParamBlock(d).urgFactor, 1) << int(flag);
    }
    d[13] = 7;
    EXPECT_FALSE(DecodeParamBlock(d).energyScale);  // beyond the table: no value at all
    d[13] = 6;
    EXPECT_EQ(DecodeParamBlock(d).energyScale, 1000000);
}

TEST(ParamBlock, SettingBlockAScaling) {
    const uint8_t d[8] = {0x55, 0xF0, 0x46, 0x50,
                          0xC3, 0x50, 0x03, 0xE8};  // 22000 18000 50000 1000
    auto raw = SettingBlockARaw(d);
    EXPECT_EQ(raw, (std::array<uint16_t, 4>{22000, 18000, 50000, 1000}));
    EXPECT_EQ(ScaleSettingBlockA(raw, 1, 5), (std::array<double, 4>{220, 180, 25, 0.5}));
    auto big = ScaleSettingBlockA({65535, 0, 65535, 0}, 64000, 64000);
    EXPECT_DOUBLE_EQ(big[0], 65535.0 * 64000 / 100);
    EXPECT_DOUBLE_EQ(big[2], 65535.0 * 64000 / 10000);
}
