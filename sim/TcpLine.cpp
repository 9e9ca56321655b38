#include "sim/TcpLine.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "sim/LineClock.h"

namespace {

constexpr double kFrameGapMs = 1.5;  // as on the pseudo-terminal: a write arrives whole

}  // namespace

TcpLine::TcpLine(ISimPeer& meters, LineSettings gatewayLine, bool modbusTcp, bool verbose)
    : m_meters(meters), m_line(gatewayLine), m_mbap(modbusTcp), m_verbose(verbose) {}

TcpLine::~TcpLine() {
    if (m_client >= 0) close(m_client);
    if (m_listen >= 0) close(m_listen);
}

double TcpLine::Now() const {
    return SimNowMs();
}

bool TcpLine::Listen(int port, std::string& error) {
    m_listen = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(m_listen, 4) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof a;
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
    return true;
}

std::string TcpLine::Url() const {
    return std::string(m_mbap ? "modbus-tcp" : "tcp") + "://127.0.0.1:" + std::to_string(m_port);
}

void TcpLine::Log(const char* dir, const ByteBlock& bytes) const {
    if (!m_verbose) return;
    std::fprintf(stderr, "[%10.3f] %s", Now() / 1000, dir);
    for (uint8_t b : bytes) std::fprintf(stderr, " %02X", b);
    std::fprintf(stderr, "\n");
}

void TcpLine::Accept() {
    const int c = accept(m_listen, nullptr, nullptr);
    if (c < 0) return;
    if (m_client >= 0) close(m_client);  // one client at a time, as a device server
    m_client = c;
    const int one = 1;
    setsockopt(m_client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_frame.clear();
    m_out.clear();
    m_stream = MbapStream();
}

void TcpLine::ReadClient() {
    uint8_t buf[512];
    const ssize_t n = read(m_client, buf, sizeof buf);
    if (n <= 0) {
        close(m_client);
        m_client = -1;
        return;
    }
    if (!m_mbap) {
        m_frame.insert(m_frame.end(), buf, buf + n);
        m_lastByteMs = Now();
        return;
    }
    m_stream.Feed(buf, size_t(n));
    while (auto request = m_stream.Next()) {
        // The gateway puts the request on its bus as the RTU frame for the unit.
        m_request = request;
        const ByteBlock frame = RtuFrame(request->unit, request->pdu);
        Log("<-", frame);
        m_meters.OnReceive(frame, Now(), m_line, *this);
    }
}

void TcpLine::HandleRtu() {
    ByteBlock frame;
    frame.swap(m_frame);
    Log("<-", frame);
    m_meters.OnReceive(frame, m_lastByteMs, m_line, *this);
}

void TcpLine::Deliver(ByteBlock bytes, double atMs) {
    if (m_mbap) {
        // The gateway answers with the reply's PDU under the request's transaction id; what
        // is no whole frame (noise, a cut reply) it never passes on.
        if (!m_request) return;
        const auto mbap = RtuToMbap(bytes, m_request->transaction, m_request->unit);
        if (!mbap) return;
        bytes = *mbap;
    }
    if (!m_out.empty()) atMs = std::max(atMs, m_out.back().atMs);
    m_out.push_back({atMs, std::move(bytes)});
}

void TcpLine::FlushDue(const StopFlag& stop) {
    const double now = Now();
    while (!m_out.empty() && m_out.front().atMs <= now) {
        const ByteBlock& b = m_out.front().bytes;
        Log("->", b);
        if (m_client >= 0 && !WriteAll(m_client, b.data(), b.size(), stop)) {
            close(m_client);  // the client went away mid-reply
            m_client = -1;
        }
        m_out.erase(m_out.begin());
    }
}

void TcpLine::Serve(const StopFlag& stop) {
    while (!stop) {
        const timespec timeout = ServeWait(
            Now(), m_frame.empty() ? std::nullopt : std::optional(m_lastByteMs + kFrameGapMs),
            m_out.empty() ? std::nullopt : std::optional(m_out.front().atMs));
        pollfd p[2] = {{m_listen, POLLIN, 0}, {m_client, POLLIN, 0}};
        if (ppoll(p, m_client >= 0 ? 2 : 1, &timeout, nullptr) > 0) {
            if (p[0].revents & POLLIN)
                Accept();
            else if (m_client >= 0 && (p[1].revents & (POLLIN | POLLHUP | POLLERR)))
                ReadClient();
        }
        if (!m_frame.empty() && Now() >= m_lastByteMs + kFrameGapMs) HandleRtu();
        FlushDue(stop);
    }
}
