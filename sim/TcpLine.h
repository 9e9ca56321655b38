// The simulated meter(s) behind a network gateway: a TCP server that carries RTU frames
// unchanged (a serial device server in transparent mode) or speaks Modbus TCP (a gateway).
// The bus behind it keeps the line settings the gateway was set up with, and replies are
// paced at that line's speed, as a real gateway's would be.
#pragma once

#include <optional>
#include <string>

#include "modbus/Mbap.h"
#include "sim/LineClock.h"
#include "sim/MemoryPort.h"

class TcpLine : public IReplySink {
  public:
    TcpLine(ISimPeer& meters, LineSettings gatewayLine, bool modbusTcp, bool verbose);
    ~TcpLine() override;
    TcpLine(const TcpLine&) = delete;
    TcpLine& operator=(const TcpLine&) = delete;

    // Listens on 127.0.0.1:port (0: a free one); false with a reason when refused.
    bool Listen(int port, std::string& error);
    std::string Url() const;  // tcp://127.0.0.1:PORT or modbus-tcp://127.0.0.1:PORT

    // Serves one client at a time (a new one replaces the old) until stop becomes true.
    void Serve(const StopFlag& stop);

    void Deliver(ByteBlock bytes, double atMs) override;

  private:
    double Now() const;
    void Accept();
    void ReadClient();
    void HandleRtu();
    void FlushDue(const StopFlag& stop);
    void Log(const char* dir, const ByteBlock& bytes) const;

    ISimPeer& m_meters;
    LineSettings m_line;
    bool m_mbap, m_verbose;
    int m_listen = -1, m_client = -1, m_port = 0;
    ByteBlock m_frame;
    double m_lastByteMs = 0;
    MbapStream m_stream;
    std::optional<MbapReply> m_request;  // the Modbus TCP request being answered
    struct Pending {
        double atMs;
        ByteBlock bytes;
    };
    std::vector<Pending> m_out;
};
