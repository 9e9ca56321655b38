#include "poll/Exchange.h"

#include <algorithm>
#include <utility>

#include "modbus/Frame.h"

namespace {

constexpr int kRequestChars = 8;
constexpr int kExceptionLength = 5;

int16_t SearchLength(const ByteBlock& buf) {
    return static_cast<int16_t>(std::min<size_t>(buf.size(), INT16_MAX));
}

// The first frame from address that is the reply expected: function, length and CRC, and
// for a read the byte count, which keeps an echoed request from passing for a reply.
template <typename Expected>
int FindReply(const ByteBlock& buf, uint8_t address, const Expected& e) {
    const int16_t n = SearchLength(buf);
    for (int from = 0; from < n;) {
        const int idx = FindResponseFrame(buf.data() + from, static_cast<int16_t>(n - from),
                                          e.function, address, e.length);
        if (idx < 0) return -1;
        if (e.byteCount < 0 || buf[from + idx + 2] == e.byteCount) return from + idx;
        from += idx + 1;
    }
    return -1;
}

int FindException(const ByteBlock& buf, uint8_t address, uint8_t function) {
    return FindResponseFrame(buf.data(), SearchLength(buf), function | 0x80, address,
                             kExceptionLength);
}

class LineExchange : public IExchange {
  public:
    LineExchange(IPollLine& line, Transport transport, int baud, double timeoutMs)
        : m_line(line),
          m_transport(transport),
          m_timing(LineTiming::ForBaud(baud)),
          m_timeoutMs(timeoutMs) {}

    ExchangeResult Read(uint8_t address, const ReadBlock& block) override {
        uint8_t request[kRequestChars];
        BuildReadRegs(request, address, block.start, block.count);
        const int length = ReadRegsReplyLength(block.count);
        return Transact(ByteBlock(request, request + kRequestChars),
                        {kFnReadRegs, length, 2 * block.count, block.trailerBytes});
    }

    // The reply to a write is the request itself (function 6) or its first six bytes
    // (function 16), with a CRC.
    ExchangeResult Write(const ByteBlock& frame) override {
        if (frame.size() < kRequestChars) return {Outcome::BadFrame, {}, "not a write request"};
        return Transact(frame, {frame[1], kWriteReplyLength, -1, 0});
    }

    double QuietUntil() const override { return m_quietUntil; }
    void KeepQuietUntil(double ms) override { m_quietUntil = std::max(m_quietUntil, ms); }

  private:
    struct Expected {
        uint8_t function;
        int length;
        int byteCount;  // -1: none to check
        int trailerBytes;
    };

    // A reply is taken when it is what a reply is (address, function, byte count, CRC) and
    // came after its request went out, however fast: software slaves and bridges have no
    // wire time.
    ExchangeResult Transact(const ByteBlock& request, const Expected& e) {
        m_line.SleepUntil(m_quietUntil);
        if (PortStatus st = m_drainQuietMs > 0 ? Drain() : PortStatus{}; !st.ok())
            return {Outcome::PortLost, {}, st.detail};
        if (PortStatus st = m_line.DropInput(); !st.ok()) return {Outcome::PortLost, {}, st.detail};
        if (PortStatus st = m_line.Send(request); !st.ok())
            return {Outcome::PortLost, {}, st.detail};
        ExchangeResult x = Await(request, e);
        if (m_transport.timed &&
            (x.outcome == Outcome::Timeout || x.outcome == Outcome::BadFrame)) {
            m_failedAtMs = m_line.NowMs();
            m_quietUntil = m_failedAtMs + m_timing.SilenceMs();
            if (m_transport.drains)
                m_drainQuietMs = m_timing.WireMs(e.length) + m_timing.SilenceMs();
        }
        return x;
    }

    ExchangeResult Await(const ByteBlock& sent, const Expected& e) {
        const uint8_t address = sent[0];
        const double timeout =
            m_timeoutMs > 0 ? m_timeoutMs : m_timing.ReplyTimeoutMs(int(sent.size()), e.length);
        const double deadline = m_line.NowMs() + timeout;
        ByteBlock buf;
        for (;;) {
            if (PortStatus st = Receive(buf, deadline); !st.ok())
                return {Outcome::PortLost, {}, st.detail};
            if (const int idx = FindReply(buf, address, e); idx >= 0)
                return {Outcome::Ok, WithTrailer(ByteBlock(buf.begin() + idx, buf.end()), e), {}};
            if (const int exc = FindException(buf, address, e.function); exc >= 0)
                return {Outcome::Exception,
                        {},
                        "exception code " + std::to_string(buf[exc + 2]),
                        buf[exc + 2]};
            if (m_line.NowMs() >= deadline) break;
        }
        // An echoing adapter hands back the request: that is not the meter speaking.
        if (buf.size() >= sent.size() && std::equal(sent.begin(), sent.end(), buf.begin()))
            buf.erase(buf.begin(), buf.begin() + long(sent.size()));
        if (buf.empty()) return {Outcome::Timeout, {}, "no reply"};
        return {Outcome::BadFrame, {}, std::to_string(buf.size()) + " bytes without a valid frame"};
    }

    // What arrives, and on a timed line the silence that must follow it.
    PortStatus Receive(ByteBlock& buf, double deadline) {
        const size_t before = buf.size();
        PortStatus st = m_line.Receive(buf, deadline);
        if (buf.size() != before && m_transport.timed)
            m_quietUntil = m_line.NowMs() + m_timing.SilenceMs();
        return st;
    }

    // The trailer arrives within the silence that must pass before the next request anyway,
    // so waiting for it costs nothing.
    ByteBlock WithTrailer(ByteBlock frame, const Expected& e) {
        const size_t whole = size_t(e.length + e.trailerBytes);
        if (!m_transport.timed) return frame;
        const double until = m_line.NowMs() + m_timing.WireMs(3);
        while (frame.size() < whole && m_line.NowMs() < until)
            if (!Receive(frame, until).ok()) break;
        frame.resize(std::min(frame.size(), whole));
        return frame;
    }

    // After a failed exchange its reply may still be under way. The line must stay silent
    // for a reply's wire time and the silence before the next request goes out, so that a
    // late reply is dropped here and never met by the next request. Nothing waiting means
    // the line was silent since the failure (a back-off or the round's pause may have been
    // long enough already). A line that never falls silent (noise) is given up on after a
    // reply timeout.
    PortStatus Drain() {
        const double quiet = std::exchange(m_drainQuietMs, 0);
        const double cap = m_line.NowMs() + quiet + m_timing.ReplyTimeoutMs(0, 0);
        double quietUntil = m_failedAtMs + quiet;
        for (bool first = true; first || m_line.NowMs() < std::min(quietUntil, cap);
             first = false) {
            ByteBlock late;
            const double until = first ? m_line.NowMs() : std::min(quietUntil, cap);
            if (PortStatus st = m_line.Receive(late, until); !st.ok()) return st;
            if (!late.empty()) quietUntil = m_line.NowMs() + quiet;
        }
        return {};
    }

    IPollLine& m_line;
    const Transport m_transport;
    const LineTiming m_timing;
    const double m_timeoutMs;
    double m_quietUntil = 0;    // the silence that must pass before the next request
    double m_drainQuietMs = 0;  // after a failed exchange: the silence to wait for first
    double m_failedAtMs = 0;
};

}  // namespace

std::unique_ptr<IExchange> MakeExchange(IPollLine& line, Transport transport, int baud,
                                        double timeoutMs) {
    return std::make_unique<LineExchange>(line, transport, baud, timeoutMs);
}
