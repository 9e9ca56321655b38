// What the serial layer needs of a platform's port: the real one over Qt SerialPort, or the
// in-memory one of the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "serial/LineSettings.h"

enum class PortError { None, NotFound, Busy, Permission, Gone, Unsupported, Other };

struct PortStatus {
    PortError error = PortError::None;
    std::string detail;  // the platform's own words, for the operator's message
    bool ok() const { return error == PortError::None; }
};

class ISerialDevice {
  public:
    virtual ~ISerialDevice() = default;
    virtual PortStatus Open(const std::string& device, const LineSettings& settings) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual PortStatus Configure(const LineSettings& settings) = 0;  // while open
    virtual PortStatus Write(const ByteBlock& bytes) = 0;
    // Everything the system has received and not yet read, also right after the thread
    // was blocked with no event loop running.
    virtual PortStatus Pending(size_t& count) = 0;
    // Up to max bytes, oldest first; the rest stays queued.
    virtual PortStatus Read(size_t max, ByteBlock& out) = 0;
    // Blocks until bytes are waiting or timeoutMs has passed (a blocking reader such as the
    // poller; the console never waits this way).
    virtual PortStatus WaitForInput(int timeoutMs) = 0;
    // Replies a Modbus TCP gateway sent for another transaction than the one outstanding
    // (late, repeated), by the meter they came from; dropped, never delivered.
    virtual uint64_t StaleReplies(uint8_t /*address*/) const { return 0; }
};
