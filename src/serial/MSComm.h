// The serial-port control of the main window: port number, settings text, open and close,
// write a block, count and read what was received, drop it.
//
// Errors of the port itself never end the program: the operation that met one stops there,
// a failed open is reported once to the operator, and a device that vanishes while open is
// reported once and the port then counts as closed.
#pragma once

#include <functional>
#include <string>

#include "serial/SerialDevice.h"

class CMSComm {
  public:
    // The largest read the console takes: the size of its receive buffer.
    static constexpr size_t kMaxRead = 1200;

    using Reporter = std::function<void(const std::string&)>;
    using DeviceNamer = std::function<std::string(int)>;

    CMSComm(ISerialDevice& device, DeviceNamer namer)
        : m_device(device), m_namer(std::move(namer)) {}

    // Where the operator's messages about the port go (a message box).
    void SetReporter(Reporter reporter) { m_report = std::move(reporter); }

    void SetCommPort(short port) { m_port = port; }
    // From the next open on, or at once when the port is open.
    void SetSettings(const std::string& text);
    std::string GetSettings() const { return m_settingsText; }
    void SetPortOpen(bool open);
    bool GetPortOpen() const { return m_device.IsOpen(); }
    // 0: a read delivers everything waiting (up to kMaxRead); n: at most n bytes.
    void SetInputLen(short len) { m_inputLen = len < 0 ? 0 : len; }
    // Received bytes not yet read, at most kMaxRead.
    short GetInBufferCount();
    // Only 0 is meaningful: drops everything received.
    void SetInBufferCount(short count);
    void SetOutput(const ByteBlock& bytes);
    // The waiting bytes, oldest first. When more than kMaxRead wait, the newest kMaxRead:
    // the answer to the latest request is at the end.
    ByteBlock GetInput();

  private:
    bool Check(const PortStatus& status);  // reports a vanished device once, closes the port
    void Report(const std::string& text);
    std::string PortName() const;

    ISerialDevice& m_device;
    DeviceNamer m_namer;
    Reporter m_report;
    short m_port = 1;
    short m_inputLen = 0;
    std::string m_settingsText = "9600,N,8,2";
    LineSettings m_settings;
    std::string m_devicePath;
};

// The operator's message for a port error (Chinese, names the port and the device).
std::string PortErrorMessage(bool opening, int port, const std::string& device,
                             const PortStatus& status);
