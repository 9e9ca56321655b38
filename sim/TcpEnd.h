// The simulated meter(s) behind a network gateway: a TCP server on the loopback that
// carries RTU frames unchanged (a serial device server in transparent mode) or speaks
// Modbus TCP (a gateway), one client at a time. The bus behind it keeps the line settings
// the gateway was set up with.
#pragma once

#include <string>

#include "sim/LineServer.h"

class TcpEnd : public ILineEnd {
  public:
    explicit TcpEnd(LineSettings gatewayLine) : m_line(gatewayLine) {}
    ~TcpEnd() override;
    TcpEnd(const TcpEnd&) = delete;
    TcpEnd& operator=(const TcpEnd&) = delete;

    // Listens on 127.0.0.1:port (0: a free one); false with a reason when refused.
    bool Listen(int port, std::string& error);
    int Port() const { return m_port; }

    int Fd() const override { return m_client; }
    int ListenFd() const override { return m_listen; }
    void Accept() override;
    void Hangup() override;
    LineSettings Line() const override { return m_line; }

  private:
    LineSettings m_line;
    int m_listen = -1, m_client = -1, m_port = 0;
};
