// A meter behind a network: tcp:// (a serial device server in transparent mode) or
// modbus-tcp:// (a Modbus TCP gateway), behind the same seam as a serial port. Works
// without an event loop, as the serial backend does: every count and read first pulls what
// the system holds.
#pragma once

#include <memory>

#include "serial/SerialDevice.h"

class QtTcpDevice : public ISerialDevice {
  public:
    explicit QtTcpDevice(int connectTimeoutMs = 3000);
    ~QtTcpDevice() override;

    PortStatus Open(const std::string& name, const LineSettings& settings) override;
    void Close() override;
    bool IsOpen() const override;
    PortStatus Configure(const LineSettings& settings) override;  // the gateway's business
    PortStatus Write(const ByteBlock& bytes) override;
    PortStatus Pending(size_t& count) override;
    PortStatus Read(size_t max, ByteBlock& out) override;
    PortStatus WaitForInput(int timeoutMs) override;
    uint64_t StaleReplies(uint8_t address) const override;

    uint64_t DroppedReplies() const;  // MBAP replies for no outstanding request, or malformed

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A serial port or a network port, by the name it is opened with.
class QtAnyPortDevice : public ISerialDevice {
  public:
    QtAnyPortDevice();
    ~QtAnyPortDevice() override;
    PortStatus Open(const std::string& name, const LineSettings& settings) override;
    void Close() override { m_active->Close(); }
    bool IsOpen() const override { return m_active->IsOpen(); }
    PortStatus Configure(const LineSettings& s) override { return m_active->Configure(s); }
    PortStatus Write(const ByteBlock& b) override { return m_active->Write(b); }
    PortStatus Pending(size_t& n) override { return m_active->Pending(n); }
    PortStatus Read(size_t max, ByteBlock& out) override { return m_active->Read(max, out); }
    PortStatus WaitForInput(int ms) override { return m_active->WaitForInput(ms); }
    uint64_t StaleReplies(uint8_t a) const override { return m_active->StaleReplies(a); }

  private:
    std::unique_ptr<ISerialDevice> m_serial, m_network;
    ISerialDevice* m_active;
};
