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

// The first frame from address answering a read of count registers: the right length,
// byte count and CRC. The byte count keeps an echoed request from passing for a reply.
int FindReadReply(const ByteBlock& buf, uint8_t address, uint16_t count) {
    const int length = ReadRegsReplyLength(count);
    const int16_t n = SearchLength(buf);
    for (int from = 0; from < n;) {
        const int idx = FindResponseFrame(buf.data() + from, static_cast<int16_t>(n - from),
                                          kFnReadRegs, address, length);
        if (idx < 0) return -1;
        if (buf[from + idx + 2] == 2 * count) return from + idx;
        from += idx + 1;
    }
    return -1;
}

int FindException(const ByteBlock& buf, uint8_t address) {
    return FindResponseFrame(buf.data(), SearchLength(buf), kFnReadRegs | 0x80, address,
                             kExceptionLength);
}

class LineExchange : public IExchange {
  public:
    LineExchange(IPollLine& line, Transport transport, int baud, double timeoutMs)
        : m_line(line),
          m_transport(transport),
          m_timing(LineTiming::ForBaud(baud)),
          m_timeoutMs(timeoutMs) {}

    // A reply is taken when it is what a reply is (address, function, byte count, CRC) and
    // came after its request went out, however fast: software slaves and bridges have no
    // wire time.
    ExchangeResult Read(uint8_t address, const ReadBlock& block) override {
        m_line.SleepUntil(m_quietUntil);
        if (PortStatus st = m_drainQuietMs > 0 ? Drain() : PortStatus{}; !st.ok())
            return {Outcome::PortLost, {}, st.detail};
        if (PortStatus st = m_line.DropInput(); !st.ok()) return {Outcome::PortLost, {}, st.detail};
        uint8_t request[kRequestChars];
        BuildReadRegs(request, address, block.start, block.count);
        const ByteBlock sent(request, request + kRequestChars);
        if (PortStatus st = m_line.Send(sent); !st.ok()) return {Outcome::PortLost, {}, st.detail};
        ExchangeResult x = Await(address, block, sent);
        if (m_transport.timed && (x.outcome == Outcome::Timeout || x.outcome == Outcome::BadFrame))
            m_drainQuietMs = ReplyQuietMs(block), m_failedAtMs = m_line.NowMs();
        return x;
    }

  private:
    double ReplyQuietMs(const ReadBlock& b) const {
        return m_timing.WireMs(ReadRegsReplyLength(b.count)) + m_timing.SilenceMs();
    }

    ExchangeResult Await(uint8_t address, const ReadBlock& block, const ByteBlock& sent) {
        const double timeout =
            m_timeoutMs > 0
                ? m_timeoutMs
                : m_timing.ReplyTimeoutMs(kRequestChars, ReadRegsReplyLength(block.count));
        const double deadline = m_line.NowMs() + timeout;
        ByteBlock buf;
        for (;;) {
            if (PortStatus st = Receive(buf, deadline); !st.ok())
                return {Outcome::PortLost, {}, st.detail};
            if (const int idx = FindReadReply(buf, address, block.count); idx >= 0)
                return {
                    Outcome::Ok, WithTrailer(ByteBlock(buf.begin() + idx, buf.end()), block), {}};
            if (const int exc = FindException(buf, address); exc >= 0)
                return {Outcome::Exception, {}, "exception code " + std::to_string(buf[exc + 2])};
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
    ByteBlock WithTrailer(ByteBlock frame, const ReadBlock& block) {
        const size_t whole = ReadRegsReplyLength(block.count) + size_t(block.trailerBytes);
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
