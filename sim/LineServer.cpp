#include "sim/LineServer.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

// A request is the bytes that arrive without a pause of this length. A terminal or a
// socket hands over what the master wrote at once, so a short gap ends the frame well
// before a reply is due.
constexpr double kFrameGapMs = 1.5;

}  // namespace

LineServer::LineServer(ISimPeer& meters, ILineEnd& end, Framing framing, bool verbose)
    : m_meters(meters), m_end(end), m_framing(framing), m_verbose(verbose), m_startMs(SimNowMs()) {}

void LineServer::Log(const char* dir, const ByteBlock& bytes) const {
    if (!m_verbose) return;
    const auto t = static_cast<unsigned long long>(SimNowMs() - m_startMs);
    std::fprintf(stderr, "[%6llu.%03llu] %s", t / 1000, t % 1000, dir);
    for (uint8_t b : bytes) std::fprintf(stderr, " %02X", b);
    std::fprintf(stderr, "\n");
}

void LineServer::Accept() {
    m_end.Accept();
    m_frame.clear();
    m_out.clear();
    m_stream = MbapStream();
    m_request.reset();
}

void LineServer::ReadInput() {
    uint8_t buf[512];
    for (;;) {
        const ssize_t n = read(m_end.Fd(), buf, sizeof buf);
        if (n > 0) {
            Feed(buf, size_t(n));
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) m_end.Hangup();
        return;
    }
}

void LineServer::Feed(const uint8_t* bytes, size_t n) {
    if (m_framing == Framing::Rtu) {
        m_frame.insert(m_frame.end(), bytes, bytes + n);
        m_lastByteMs = SimNowMs();
        return;
    }
    m_stream.Feed(bytes, n);
    while (auto request = m_stream.Next()) {
        // The gateway puts the request on its bus as the RTU frame for the unit.
        m_request = request;
        const ByteBlock frame = RtuFrame(request->unit, request->pdu);
        Log("<-", frame);
        m_meters.OnReceive(frame, SimNowMs(), m_end.Line(), *this);
    }
}

void LineServer::HandleFrame() {
    ByteBlock frame;
    frame.swap(m_frame);
    Log("<-", frame);
    m_meters.OnReceive(frame, m_lastByteMs, m_end.Line(), *this);
}

void LineServer::Deliver(ByteBlock bytes, double atMs) {
    if (m_framing == Framing::Mbap) {
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

void LineServer::FlushDue(const StopFlag& stop) {
    const double now = SimNowMs();
    while (!m_out.empty() && m_out.front().atMs <= now) {
        const ByteBlock& b = m_out.front().bytes;
        Log("->", b);
        if (m_end.Fd() >= 0 && !WriteAll(m_end.Fd(), b.data(), b.size(), stop) && !stop)
            m_end.Hangup();  // the peer went away mid-reply
        m_out.pop_front();
    }
}

void LineServer::Serve(const StopFlag& stop) {
    while (!stop) {
        const bool receiving = m_framing == Framing::Rtu && !m_frame.empty();
        const timespec timeout = ServeWait(
            SimNowMs(), receiving ? std::optional(m_lastByteMs + kFrameGapMs) : std::nullopt,
            m_out.empty() ? std::nullopt : std::optional(m_out.front().atMs));
        // poll() passes over a negative descriptor: no peer, or nothing to listen on.
        pollfd p[2] = {{m_end.Fd(), POLLIN, 0}, {m_end.ListenFd(), POLLIN, 0}};
        if (ppoll(p, 2, &timeout, nullptr) > 0) {
            if (p[1].revents & POLLIN)
                Accept();
            else if (p[0].revents & (POLLIN | POLLHUP | POLLERR))
                ReadInput();
        }
        if (m_framing == Framing::Rtu && !m_frame.empty() &&
            SimNowMs() >= m_lastByteMs + kFrameGapMs)
            HandleFrame();
        FlushDue(stop);
    }
}
