#include <gtest/gtest.h>

#include "base/Bytes.h"
#include "modbus/Crc.h"
#include "modbus/Frame.h"
#include "modbus/MeterSettings.h"

namespace {

// The body's CRC appended as the console sends it.
ByteBlock WithCrc(ByteBlock body) {
    body.resize(body.size() + 2);
    AppendCrc(body.data(), static_cast<uint16_t>(body.size() - 2));
    return body;
}

}  // namespace

TEST(Crc, KnownFramesOfTheConsole) {
    struct Case {
        ByteBlock body;
        uint8_t first, second;
    } cases[] = {
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x01}, 0x84, 0x0A},
        {{0x01, 0x03, 0x03, 0x00, 0x00, 0x13}, 0x04, 0x43},
        {{0x01, 0x03, 0x03, 0x00, 0x00, 0x01}, 0x84, 0x4E},
        {{0x01, 0x03, 0x03, 0x28, 0x00, 0x04}, 0xC4, 0x45},
        {{0x01, 0x06, 0x00, 0x08, 0x00, 0x00}, 0x08, 0x08},
        {{0x01, 0x06, 0x00, 0x06, 0x00, 0x01}, 0xA8, 0x0B},
        {{0x01, 0x06, 0x00, 0x00, 0x00, 0x11}, 0x49, 0xC6},
        {{0x01, 0x06, 0x00, 0x22, 0x00, 0x01}, 0xE8, 0x00},
        {{0x01, 0x06, 0x00, 0x02, 0x00, 0x03}, 0x68, 0x0B},
        {{0x01, 0x10, 0x00, 0x0E, 0x00, 0x02, 0x04, 0x00, 0x64, 0x00, 0x00}, 0x33, 0xFC},
        {{0x01, 0x10, 0x00, 0x0E, 0x00, 0x02, 0x04, 0xFA, 0x00, 0x00, 0x00}, 0x42, 0xFB},
        {{0x01, 0x10, 0x00, 0x12, 0x00, 0x02, 0x04, 0x00, 0x05, 0x00, 0x00}, 0x63, 0x7B},
        {{0x01, 0x10, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x00}, 0xA2, 0x6F},
        {{0x01, 0x10, 0x00, 0x04, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x00}, 0xA3, 0x9C},
    };
    for (const Case& c : cases) {
        uint16_t crc = ModbusCrc16(c.body.data(), static_cast<uint16_t>(c.body.size()));
        EXPECT_EQ(crc, c.first << 8 | c.second) << ::testing::PrintToString(c.body);
    }
    EXPECT_EQ(ModbusCrc16(nullptr, 0), 0xFFFF);
}

TEST(Frame, RequestBuilders) {
    uint8_t buf[32] = {};
    EXPECT_EQ(BuildReadRegs(buf, 1, 0x0000, 1), 8);
    EXPECT_EQ(ByteBlock(buf, buf + 8), (ByteBlock{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
    EXPECT_EQ(BuildReadRegs(buf, 1, 0x0300, 19), 8);
    EXPECT_EQ(ByteBlock(buf, buf + 8), (ByteBlock{0x01, 0x03, 0x03, 0x00, 0x00, 0x13, 0x04, 0x43}));
    EXPECT_EQ(BuildWriteReg(buf, 1, 0x0008, 0), 8);
    EXPECT_EQ(ByteBlock(buf, buf + 8), (ByteBlock{0x01, 0x06, 0x00, 0x08, 0x00, 0x00, 0x08, 0x08}));
    const uint16_t pt[] = {100, 0};
    EXPECT_EQ(BuildWriteRegs(buf, 1, 0x000E, pt, 2), 13);
    EXPECT_EQ(ByteBlock(buf, buf + 13), (ByteBlock{0x01, 0x10, 0x00, 0x0E, 0x00, 0x02, 0x04, 0x00,
                                                   0x64, 0x00, 0x00, 0x33, 0xFC}));
    const uint16_t aux[] = {1, 2, 3, 4};
    EXPECT_EQ(BuildWriteRegs(buf, 7, 0x0028, aux, 4), 17);  // the longest request
    EXPECT_EQ(buf[6], 8);
}

TEST(Frame, FindResponseFrameEdges) {
    const ByteBlock reply = WithCrc({0x01, 0x03, 0x02, 0x12, 0x34});  // 7 bytes
    auto find = [](const ByteBlock& b, int fn = 3, int addr = 1, int len = 7) {
        return FindResponseFrame(b.data(), static_cast<int16_t>(b.size()), fn, addr, len);
    };
    EXPECT_EQ(find(reply), 0);

    ByteBlock noisy = {0xFF, 0x01, 0x00, 0x03};
    noisy.insert(noisy.end(), reply.begin(), reply.end());
    EXPECT_EQ(find(noisy), 4);  // at its address byte, after the noise

    ByteBlock two = reply;
    two.insert(two.end(), reply.begin(), reply.end());
    EXPECT_EQ(find(two), 0);  // the first one wins

    ByteBlock atEnd = {0x00, 0x00, 0x00};
    atEnd.insert(atEnd.end(), reply.begin(), reply.end());
    EXPECT_EQ(find(atEnd), 3);
    atEnd.pop_back();
    EXPECT_EQ(find(atEnd), -1);  // lacks its last byte

    EXPECT_EQ(find(ByteBlock(reply.begin(), reply.end() - 1)), -1);  // length = frameLength - 1
    ByteBlock swapped = reply;
    std::swap(swapped[5], swapped[6]);
    EXPECT_EQ(find(swapped), -1);

    EXPECT_EQ(find(reply, 3, 2), -1);             // another address
    EXPECT_EQ(find(reply, 6, 1), -1);             // another function
    EXPECT_EQ(find(reply, 3 + 256, 1 + 256), 0);  // only the low bytes count
    const ByteBlock exception = WithCrc({0x01, 0x83, 0x02});
    EXPECT_EQ(find(exception, 3, 1, 5), -1);
    EXPECT_EQ(find(ByteBlock{}, 3, 1, 7), -1);
    // The byte count field is not checked: a 7-byte frame that claims 4 data bytes still counts.
    EXPECT_EQ(find(WithCrc({0x01, 0x03, 0x04, 0x12, 0x34})), 0);
}

TEST(Frame, HexEchoIsTwoDigitsCarriageReturnSpace) {
    const uint8_t bytes[] = {0x01, 0x03, 0xAB, 0x0F};
    EXPECT_EQ(HexEcho(bytes, 2), "01\r 03\r ");
    EXPECT_EQ(HexEcho(bytes, 4), "01\r 03\r AB\r 0F\r ");
    EXPECT_EQ(HexEcho(bytes, 0), "");
}

// The settings' write frames, as the meter's documentation of 仪表设置 gives them.
TEST(MeterSettingFrames, RatiosAndSingleSettings) {
    EXPECT_EQ(RatioWriteFrame(1, kRegPt, 100), (ByteBlock{0x01, 0x10, 0x00, 0x0E, 0x00, 0x02, 0x04,
                                                          0x00, 0x64, 0x00, 0x00, 0x33, 0xFC}));
    EXPECT_EQ(RatioWriteFrame(1, kRegCt, 5), (ByteBlock{0x01, 0x10, 0x00, 0x12, 0x00, 0x02, 0x04,
                                                        0x00, 0x05, 0x00, 0x00, 0x63, 0x7B}));
    EXPECT_EQ(SettingWriteFrame(1, kRegWiring, 3),
              (ByteBlock{0x01, 0x06, 0x00, 0x02, 0x00, 0x03, 0x68, 0x0B}));
    EXPECT_EQ(BaudRateOf(4800)->code, 2);
    EXPECT_EQ(BaudRateOf(38400), nullptr);
    EXPECT_STREQ(WiringName(6), "unknown");
}

// The scan's hit rule: a reply from the candidate with the byte count of one register, or
// its exception reply; never the echo of the probe, noise or another slave.
TEST(ProbeAnswer, OnlyTheCandidatesReplyOrException) {
    struct Case {
        const char* what;
        ByteBlock bytes;
        bool hit;
    };
    const Case cases[] = {
        {"reply", WithCrc({47, 0x03, 0x02, 0x00, 0x2F}), true},
        {"exception", WithCrc({47, 0x83, 0x02}), true},
        {"echo of the probe", WithCrc({47, 0x03, 0x03, 0x00, 0x00, 0x01}), false},
        {"another slave", WithCrc({46, 0x03, 0x02, 0x00, 0x2E}), false},
        {"bad CRC", {47, 0x03, 0x02, 0x00, 0x2F, 0x00, 0x00}, false},
        {"noise", {0x55, 0xAA, 0x2F, 0x03, 0x02}, false},
        {"echo, then the reply",
         [] {
             ByteBlock b = WithCrc({47, 0x03, 0x03, 0x00, 0x00, 0x01});
             const ByteBlock r = WithCrc({47, 0x03, 0x02, 0x00, 0x2F});
             b.insert(b.end(), r.begin(), r.end());
             return b;
         }(),
         true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsProbeAnswer(c.bytes.data(), int16_t(c.bytes.size()), 47), c.hit) << c.what;
}
