// The network ports against a server made in the test: what goes on the wire, what comes
// back to the console, and what a hostile server gets.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "serial/qt/QtTcpDevice.h"
#include "support/FreePort.h"

namespace {

// A listening socket on a free local port; Accept() takes the device's connection.
struct Server {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int conn = -1;
    int port = 0;
    Server() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listener, 1);
        socklen_t len = sizeof a;
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Server() {
        if (conn >= 0) close(conn);
        close(listener);
    }
    std::string Url(const char* scheme, const char* query = "") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + query;
    }
    void Accept() { conn = accept(listener, nullptr, nullptr); }
    ByteBlock Receive(size_t n) {
        ByteBlock b(n);
        size_t got = 0;
        while (got < n) {
            ssize_t r = read(conn, b.data() + got, n - got);
            if (r <= 0) break;
            got += size_t(r);
        }
        b.resize(got);
        return b;
    }
    void Send(const ByteBlock& b) { ASSERT_EQ(write(conn, b.data(), b.size()), ssize_t(b.size())); }
};

const ByteBlock kRead1 = {0x01, 0x03, 0x03, 0x00, 0x00, 0x01, 0x84, 0x4E};  // 0x0300, 1 reg

ByteBlock Drain(QtTcpDevice& d) {
    ByteBlock out;
    d.WaitForInput(500);
    d.Read(1200, out);
    return out;
}

}  // namespace

TEST(TcpDevice, ModbusTcpTranslatesBothWaysAndTakesOnlyTheOutstandingReply) {
    Server s;
    QtTcpDevice d;
    ASSERT_TRUE(d.Open(s.Url("modbus-tcp"), {}).ok());
    s.Accept();
    ASSERT_TRUE(d.Write(kRead1).ok());
    const ByteBlock req = s.Receive(12);
    EXPECT_EQ(req,
              (ByteBlock{0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x03, 0x00, 0x00, 0x01}));
    // A reply for another transaction, then the right one: only the latter reaches the console.
    s.Send({0x00, 0x09, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x02, 0x12, 0x34});
    s.Send({0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x02, 0x00, 0x01});
    EXPECT_EQ(Drain(d), (ByteBlock{0x01, 0x03, 0x02, 0x00, 0x01, 0x79, 0x84}));
    EXPECT_EQ(d.DroppedReplies(), 1u);
    // The same reply again is no answer to anything; both count for the meter at 1.
    s.Send({0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x02, 0x00, 0x01});
    EXPECT_TRUE(Drain(d).empty());
    EXPECT_EQ(d.StaleReplies(1), 2u);
    EXPECT_EQ(d.StaleReplies(2), 0u);
    // An exception PDU becomes the meter's exception frame.
    ASSERT_TRUE(d.Write(kRead1).ok());
    EXPECT_EQ(s.Receive(12)[1], 0x02);
    s.Send({0x00, 0x02, 0x00, 0x00, 0x00, 0x03, 0x01, 0x83, 0x02});
    EXPECT_EQ(Drain(d), (ByteBlock{0x01, 0x83, 0x02, 0xC0, 0xF1}));
    // A hostile length: refused, nothing delivered, the device still works.
    ASSERT_TRUE(d.Write(kRead1).ok());
    s.Receive(12);
    s.Send({0x00, 0x03, 0x00, 0x00, 0xFF, 0xFF, 0x01, 0x03});
    EXPECT_TRUE(Drain(d).empty());
    EXPECT_TRUE(d.IsOpen());
}

TEST(TcpDevice, UnitOverrideAndRawPassThrough) {
    {
        Server s;
        QtTcpDevice d;
        ASSERT_TRUE(d.Open(s.Url("modbus-tcp", "?unit=9"), {}).ok());
        s.Accept();
        d.Write(kRead1);
        ByteBlock req = s.Receive(12);
        EXPECT_EQ(req[6], 9);
        s.Send({0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x09, 0x03, 0x02, 0x00, 0x01});
        EXPECT_EQ(Drain(d)[0], 0x01);  // back under the address the console asked
    }
    Server s;
    QtTcpDevice d;
    ASSERT_TRUE(d.Open(s.Url("tcp"), {}).ok());
    s.Accept();
    d.Write(kRead1);
    EXPECT_EQ(s.Receive(8), kRead1);
    s.Send({0xAA, 0x01, 0x03});
    EXPECT_EQ(Drain(d), (ByteBlock{0xAA, 0x01, 0x03}));
}

TEST(TcpDevice, RefusedConnectionsAndClosedServersAreReportedWithHostAndPort) {
    const int port = FreePortBelowEphemeral();  // nothing listens there
    QtTcpDevice d(1000);
    const std::string url = "tcp://127.0.0.1:" + std::to_string(port);
    PortStatus st = d.Open(url, {});
    EXPECT_EQ(st.error, PortError::NotFound);
    EXPECT_NE(st.detail.find("127.0.0.1:" + std::to_string(port)), std::string::npos) << st.detail;
    st = d.Open("tcp://no-such-host.invalid:502", {});
    EXPECT_FALSE(st.ok());
    EXPECT_NE(st.detail.find("no-such-host.invalid:502"), std::string::npos) << st.detail;
    EXPECT_FALSE(d.Open("tcp://host-without-port", {}).ok());

    Server s;
    ASSERT_TRUE(d.Open(s.Url("tcp"), {}).ok());
    s.Accept();
    close(s.conn);
    s.conn = -1;
    size_t n = 0;
    for (int i = 0; i < 20 && d.Pending(n).ok(); ++i) usleep(10000);
    st = d.Pending(n);
    EXPECT_EQ(st.error, PortError::Gone);
    EXPECT_NE(st.detail.find(s.Url("tcp")), std::string::npos) << st.detail;
    EXPECT_FALSE(d.IsOpen());
}
