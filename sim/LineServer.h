// The simulated meters' side of a line, whatever carries it: requests are cut from the
// bytes (by the pause that ends an RTU frame, or by the MBAP header of a Modbus TCP
// gateway), handed to the meters, and their replies written back when due, paced as on the
// wire. The end of the line (a pseudo-terminal, a TCP client) is plugged in.
#pragma once

#include <deque>
#include <optional>

#include "modbus/Mbap.h"
#include "sim/LineClock.h"
#include "sim/MemoryPort.h"

// Where the bytes come and go.
class ILineEnd {
  public:
    virtual ~ILineEnd() = default;
    virtual int Fd() const = 0;  // -1 while no peer is there
    virtual int ListenFd() const { return -1; }
    virtual void Accept() {}  // a new peer waits on ListenFd(): it replaces the old one
    virtual void Hangup() {}  // the peer went away
    // The line settings the requests arrive with.
    virtual LineSettings Line() const = 0;
};

enum class Framing { Rtu, Mbap };

class LineServer : public IReplySink {
  public:
    LineServer(ISimPeer& meters, ILineEnd& end, Framing framing, bool verbose);

    // Serves requests until stop is set (looked at at least every 50 ms).
    void Serve(const StopFlag& stop);
    void Deliver(ByteBlock bytes, double atMs) override;

  private:
    void Accept();
    void ReadInput();
    void Feed(const uint8_t* bytes, size_t n);
    void HandleFrame();
    void FlushDue(const StopFlag& stop);
    void Log(const char* dir, const ByteBlock& bytes) const;

    ISimPeer& m_meters;  // one meter or a bus of them
    ILineEnd& m_end;
    const Framing m_framing;
    const bool m_verbose;
    const double m_startMs;
    ByteBlock m_frame;  // RTU: the bytes of the request being received
    double m_lastByteMs = 0;
    MbapStream m_stream;
    std::optional<MbapReply> m_request;  // MBAP: the request being answered
    struct Pending {
        double atMs;
        ByteBlock bytes;
    };
    std::deque<Pending> m_out;
};
