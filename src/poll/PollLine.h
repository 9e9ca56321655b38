// The line the poller talks on: a serial port (or anything behind the serial layer's seam)
// with a clock fine enough for character times.
#pragma once

#include <memory>
#include <string>

#include "base/Clock.h"
#include "serial/SerialDevice.h"

class IPollLine {
  public:
    virtual ~IPollLine() = default;
    virtual PortStatus Open() = 0;
    // Reopens the port with other line settings (a meter moved to them).
    virtual PortStatus SetLine(const LineSettings& settings) = 0;
    virtual void Close() = 0;
    virtual PortStatus Send(const ByteBlock& bytes) = 0;
    virtual PortStatus DropInput() = 0;
    // Appends what arrives to into; returns once something arrived or at deadlineMs.
    virtual PortStatus Receive(ByteBlock& into, double deadlineMs) = 0;
    virtual double NowMs() = 0;
    virtual void SleepUntil(double ms) = 0;
    virtual std::string Name() const = 0;  // for messages: the port as the operator named it
    // Replies for an earlier request that the line dropped, by meter.
    virtual uint64_t StaleReplies(uint8_t /*address*/) const { return 0; }
};

// A serial device (or anything behind its seam) opened by path with fixed line settings,
// timed by clock: the system's, or a virtual one that an in-memory port moves on.
std::unique_ptr<IPollLine> MakeSerialPollLine(ISerialDevice& device, std::string name,
                                              std::string path, LineSettings settings,
                                              IClock& clock);
