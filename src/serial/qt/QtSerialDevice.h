// The serial device over Qt SerialPort. Works on the GUI thread, with or without an event
// loop running: counts and reads first pull from the operating system.
#pragma once

#include <memory>

#include "serial/SerialDevice.h"

class QtSerialDevice : public ISerialDevice {
  public:
    QtSerialDevice();
    ~QtSerialDevice() override;

    PortStatus Open(const std::string& device, const LineSettings& settings) override;
    void Close() override;
    bool IsOpen() const override;
    PortStatus Configure(const LineSettings& settings) override;
    PortStatus Write(const ByteBlock& bytes) override;
    PortStatus Pending(size_t& count) override;
    PortStatus Read(size_t max, ByteBlock& out) override;
    PortStatus WaitForInput(int timeoutMs) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
