#include <gtest/gtest.h>

#include "serial/MSComm.h"
#include "sim/MemoryPort.h"

namespace {

struct CommFixture : ::testing::Test {
    VirtualClock clock;
    MemoryPort port{clock};
    std::vector<std::string> reports;
    CMSComm comm{port, [](int n) { return "/dev/fake" + std::to_string(n); }};

    CommFixture() {
        comm.SetReporter([this](const std::string& r) { reports.push_back(r); });
    }
    void OpenCom1() {
        comm.SetCommPort(1);
        comm.SetSettings("9600,N,8,2");
        comm.SetPortOpen(true);
        comm.SetInputLen(0);
    }
};

ByteBlock Sequence(size_t n) {
    ByteBlock b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i);
    return b;
}

}  // namespace

TEST_F(CommFixture, OpensTheNamedDeviceWithTheSettings) {
    comm.SetCommPort(3);
    comm.SetSettings("4800,O,8,1");
    comm.SetPortOpen(true);
    EXPECT_TRUE(comm.GetPortOpen());
    EXPECT_EQ(port.OpenDevice(), "/dev/fake3");
    EXPECT_EQ(port.Line(),
              (LineSettings{4800, LineSettings::Parity::Odd, 8, LineSettings::StopBits::One}));
    comm.SetSettings("9600,N,8,2");  // while open: at once
    EXPECT_EQ(port.Line().baud, 9600);
    EXPECT_TRUE(reports.empty());
}

TEST_F(CommFixture, MalformedSettingsAreRefusedAndTheOldOnesKept) {
    OpenCom1();
    comm.SetSettings("9600;N;8;2");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("9600;N;8;2"), std::string::npos);
    EXPECT_EQ(comm.GetSettings(), "9600,N,8,2");
    EXPECT_EQ(port.Line().baud, 9600);
}

TEST_F(CommFixture, ClosedPortWritesNothingAndReadsNothing) {
    port.DeliverNow({1, 2, 3});
    comm.SetOutput({0x01, 0x03});
    EXPECT_TRUE(port.SentFrames().empty());
    EXPECT_EQ(comm.GetInBufferCount(), 0);
    EXPECT_TRUE(comm.GetInput().empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(CommFixture, CountsAndReadsOnlyWhatHasArrived) {
    OpenCom1();
    EXPECT_EQ(comm.GetInBufferCount(), 0);
    EXPECT_TRUE(comm.GetInput().empty());
    port.Deliver({0xAA, 0xBB}, 0);
    port.Deliver({0xCC}, 50);
    EXPECT_EQ(comm.GetInBufferCount(), 2);
    clock.Advance(50);
    EXPECT_EQ(comm.GetInBufferCount(), 3);
    EXPECT_EQ(comm.GetInput(), (ByteBlock{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(comm.GetInBufferCount(), 0);  // the read emptied the queue
}

TEST_F(CommFixture, MoreThanTheBufferHoldsKeepsTheNewest1200) {
    OpenCom1();
    ByteBlock flood = Sequence(1500);
    port.DeliverNow(flood);
    EXPECT_EQ(comm.GetInBufferCount(), 1200);
    ByteBlock got = comm.GetInput();
    ASSERT_EQ(got.size(), 1200u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), flood.begin() + 300));
    EXPECT_EQ(comm.GetInBufferCount(), 0);
}

TEST_F(CommFixture, DroppingReceivedBytesEmptiesTheQueue) {
    OpenCom1();
    port.DeliverNow(Sequence(40));
    comm.SetInBufferCount(0);
    EXPECT_EQ(comm.GetInBufferCount(), 0);
}

TEST_F(CommFixture, FailedOpenIsReportedOnceNamingPortDeviceAndReason) {
    port.SetDevices({{"/dev/fake2", PortError::None}, {"/dev/fake4", PortError::Permission}});
    comm.SetCommPort(1);
    comm.SetPortOpen(true);
    EXPECT_FALSE(comm.GetPortOpen());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("COM1"), std::string::npos);
    EXPECT_NE(reports[0].find("/dev/fake1"), std::string::npos);
    EXPECT_NE(reports[0].find("设备不存在"), std::string::npos);

    // Everything after a failed open is quiet: the port simply counts as closed.
    comm.SetInputLen(0);
    comm.SetInBufferCount(0);
    comm.SetOutput({1});
    EXPECT_EQ(comm.GetInBufferCount(), 0);
    EXPECT_EQ(reports.size(), 1u);

    comm.SetCommPort(4);
    comm.SetPortOpen(true);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_NE(reports[1].find("dialout"), std::string::npos);
}

TEST_F(CommFixture, PortNumberBelowOneNamesNoDevice) {
    CMSComm strict{port, [](int n) { return n < 1 ? std::string() : "/dev/x"; }};
    strict.SetReporter([this](const std::string& r) { reports.push_back(r); });
    strict.SetCommPort(-3);
    strict.SetPortOpen(true);
    EXPECT_FALSE(strict.GetPortOpen());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("COM-3"), std::string::npos);
}

TEST_F(CommFixture, VanishedDeviceIsReportedOnceAndThePortCountsAsClosed) {
    OpenCom1();
    port.Unplug();
    comm.SetOutput({0x01, 0x03});
    EXPECT_FALSE(comm.GetPortOpen());
    EXPECT_EQ(comm.GetInBufferCount(), 0);
    EXPECT_TRUE(comm.GetInput().empty());
    comm.SetOutput({0x01});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("已断开"), std::string::npos);
    EXPECT_NE(reports[0].find("/dev/fake1"), std::string::npos);

    port.Replug();
    comm.SetPortOpen(true);  // reopening after the adapter is back works
    EXPECT_TRUE(comm.GetPortOpen());
    EXPECT_EQ(reports.size(), 1u);
}
