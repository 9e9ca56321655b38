#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <thread>

#include "serial/MSComm.h"
#include "serial/qt/QtSerialDevice.h"

namespace {

// A pseudo-terminal pair: the console opens the terminal side by its path, the test plays
// the meter on the master side.
struct Pty {
    int master = -1, slave = -1;
    std::string path;
    Pty() {
        char name[256];
        EXPECT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
        termios t{};
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
    }
    ~Pty() { Hangup(); }
    // The adapter is pulled: both ends go away.
    void Hangup() {
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
        master = slave = -1;
    }
    void Send(const ByteBlock& b) {
        ASSERT_EQ(write(master, b.data(), b.size()), ssize_t(b.size()));
    }
    ByteBlock Receive(size_t n) {
        ByteBlock out(n);
        size_t got = 0;
        QElapsedTimer t;
        t.start();
        while (got < n && t.elapsed() < 2000) {
            ssize_t r = read(master, out.data() + got, n - got);
            if (r > 0) got += size_t(r);
        }
        out.resize(got);
        return out;
    }
};

void BlockingSleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

struct QtSerialFixture : ::testing::Test {
    Pty pty;
    QtSerialDevice device;
    std::vector<std::string> reports;
    CMSComm comm{device, [this](int) { return pty.path; }};
    QtSerialFixture() {
        comm.SetReporter([this](const std::string& r) { reports.push_back(r); });
    }
    void Open(const char* settings = "9600,N,8,2") {
        comm.SetCommPort(1);
        comm.SetSettings(settings);
        comm.SetPortOpen(true);
        comm.SetInputLen(0);
        ASSERT_TRUE(comm.GetPortOpen()) << (reports.empty() ? "" : reports.back());
    }
};

}  // namespace

TEST_F(QtSerialFixture, WritesReachTheLineWithoutAnEventLoop) {
    Open();
    comm.SetOutput({0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A});
    EXPECT_EQ(pty.Receive(8), (ByteBlock{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
}

TEST_F(QtSerialFixture, CountAndReadSeeBytesThatArrivedDuringABlockingSleep) {
    Open();
    EXPECT_EQ(comm.GetInBufferCount(), 0);
    EXPECT_TRUE(comm.GetInput().empty());
    ByteBlock reply = {0x01, 0x03, 0x02, 0x00, 0x2A, 0x38, 0x5B};
    pty.Send(reply);
    BlockingSleep(100);  // the GUI thread blocks, as in a configuration exchange
    EXPECT_EQ(comm.GetInBufferCount(), 7);
    EXPECT_EQ(comm.GetInput(), reply);
    EXPECT_EQ(comm.GetInBufferCount(), 0);
    EXPECT_TRUE(reports.empty());
}

TEST_F(QtSerialFixture, MoreThan1200WaitingDeliversTheNewest) {
    Open();
    ByteBlock flood(1500);
    for (size_t i = 0; i < flood.size(); ++i) flood[i] = uint8_t(i * 7);
    pty.Send(flood);
    BlockingSleep(100);
    EXPECT_EQ(comm.GetInBufferCount(), 1200);
    ByteBlock got = comm.GetInput();
    ASSERT_EQ(got.size(), 1200u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), flood.begin() + 300));
}

TEST_F(QtSerialFixture, DroppingAfterOpenDiscardsWhatWasWaiting) {
    pty.Send({0xDE, 0xAD});
    Open();
    BlockingSleep(50);
    comm.SetInBufferCount(0);
    EXPECT_EQ(comm.GetInBufferCount(), 0);
}

TEST_F(QtSerialFixture, LineSettingsReachTheTerminal) {
    Open("4800,O,8,1");
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
    EXPECT_TRUE(t.c_cflag & PARODD);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    comm.SetSettings("9600,N,8,2");  // while open: at once
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
}

TEST_F(QtSerialFixture, PeerVanishingWhileOpenIsToldOnceAndClosesThePort) {
    Open();
    pty.Hangup();
    // With the event loop running the error repeats endlessly unless the port is closed.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 200) QCoreApplication::processEvents();
    comm.SetOutput({0x01, 0x03});
    comm.GetInBufferCount();
    comm.GetInput();
    EXPECT_FALSE(comm.GetPortOpen());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("已断开"), std::string::npos);
}

TEST_F(QtSerialFixture, PeerVanishingWhileBlockedIsToldOnce) {
    Open();
    pty.Hangup();
    BlockingSleep(50);
    for (int i = 0; i < 5; ++i) {
        comm.GetInBufferCount();
        comm.SetOutput({0x01});
    }
    EXPECT_FALSE(comm.GetPortOpen());
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(QtSerialFixture, OpenErrorsNameTheReason) {
    CMSComm missing{device, [](int) { return std::string("/dev/kx880-no-such-port"); }};
    missing.SetReporter([this](const std::string& r) { reports.push_back(r); });
    missing.SetPortOpen(true);
    EXPECT_FALSE(missing.GetPortOpen());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("/dev/kx880-no-such-port"), std::string::npos);
    EXPECT_NE(reports[0].find("设备不存在"), std::string::npos);

    Open();
    QtSerialDevice other;
    PortStatus st = other.Open(pty.path, LineSettings{});
    EXPECT_EQ(st.error, PortError::Busy);  // held by the console
    comm.SetPortOpen(false);
    EXPECT_TRUE(other.Open(pty.path, LineSettings{}).ok());  // released at once on close
}
