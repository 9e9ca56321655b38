// Modbus TCP framing and network port names, by tables written from the Modbus TCP
// standard's layout: transaction, protocol 0, length (unit + PDU), unit, PDU.
#include <gtest/gtest.h>

#include "modbus/Mbap.h"
#include "serial/NetworkPort.h"

TEST(Mbap, RequestsCarryThePduUnderAHeaderAndNoCrc) {
    // Read 45 registers from 0 at address 1, CRC 85 D7.
    const ByteBlock rtu = {0x01, 0x03, 0x00, 0x00, 0x00, 0x2D, 0x85, 0xD7};
    EXPECT_EQ(RtuToMbap(rtu, 0x1234),
              (ByteBlock{0x12, 0x34, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x00, 0x00, 0x00, 0x2D}));
    EXPECT_EQ(RtuToMbap(rtu, 7, 0xFF)->at(6), 0xFF);  // ?unit=255 overrides the address
    ByteBlock bad = rtu;
    bad[7] ^= 1;
    EXPECT_FALSE(RtuToMbap(bad, 1));                 // a wrong CRC is no frame
    EXPECT_FALSE(RtuToMbap({0x01, 0x03, 0x00}, 1));  // too short
}

TEST(Mbap, RepliesBecomeTheFramesAMeterWouldSend) {
    // A 1-register reply and an exception (illegal data address) as a meter at 1 sends them.
    EXPECT_EQ(RtuFrame(1, {0x03, 0x02, 0x00, 0x01}),
              (ByteBlock{0x01, 0x03, 0x02, 0x00, 0x01, 0x79, 0x84}));
    EXPECT_EQ(RtuFrame(1, {0x83, 0x02}), (ByteBlock{0x01, 0x83, 0x02, 0xC0, 0xF1}));
}

TEST(Mbap, TheStreamCutsFramesAndRefusesImpossibleLengths) {
    MbapStream s;
    const ByteBlock two = {0x00, 0x05, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x02, 0x00,
                           0x2A, 0x00, 0x06, 0x00, 0x00, 0x00, 0x03, 0x01, 0x83, 0x02};
    s.Feed(two.data(), 3);  // arrives in pieces
    EXPECT_FALSE(s.Next());
    s.Feed(two.data() + 3, two.size() - 3);
    auto a = s.Next();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->transaction, 5);
    EXPECT_EQ(a->pdu, (ByteBlock{0x03, 0x02, 0x00, 0x2A}));
    auto b = s.Next();
    ASSERT_TRUE(b);
    EXPECT_EQ(b->pdu, (ByteBlock{0x83, 0x02}));
    EXPECT_FALSE(s.Next());
    for (ByteBlock hostile : {ByteBlock{0, 1, 0, 0, 0, 1, 1},        // length 1: no function code
                              ByteBlock{0, 1, 0, 0, 0x01, 0x00, 1},  // length 256: over 254
                              ByteBlock{0, 1, 0, 0, 0xFF, 0xFF, 1},  // 65535
                              ByteBlock{0, 1, 0, 7, 0, 3, 1, 3, 0}}) {  // protocol 7
        MbapStream h;
        h.Feed(hostile.data(), hostile.size());
        EXPECT_FALSE(h.Next());
        EXPECT_EQ(h.Refused(), 1u);
    }
}

TEST(NetworkPortNames, PartsAndMistakes) {
    std::string error;
    auto p = ParseNetworkPort("tcp://192.168.1.20:4001", error);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->kind, NetworkPort::Kind::RtuOverTcp);
    EXPECT_EQ(p->host, "192.168.1.20");
    EXPECT_EQ(p->port, 4001);
    p = ParseNetworkPort("modbus-tcp://gw.plant:502?unit=7", error);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->kind, NetworkPort::Kind::ModbusTcp);
    EXPECT_EQ(p->unit, 7);
    EXPECT_EQ(ParseNetworkPort("modbus-tcp://[::1]:502", error)->host, "::1");
    for (const char* bad :
         {"tcp://host", "tcp://:502", "tcp://h:0", "tcp://h:65536", "tcp://h:x",
          "modbus-tcp://h:502?unit=256", "modbus-tcp://h:502?id=1", "udp://h:1"}) {
        EXPECT_FALSE(ParseNetworkPort(bad, error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
    EXPECT_TRUE(IsNetworkPortName("modbus-tcp://h:1"));
    EXPECT_FALSE(IsNetworkPortName("/dev/ttyUSB0"));
}
