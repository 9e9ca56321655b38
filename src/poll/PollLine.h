// The line the poller talks on: a serial port (or anything behind the serial layer's seam)
// with a clock fine enough for character times.
#pragma once

#include <memory>
#include <string>

#include "serial/SerialDevice.h"

class IPollLine {
  public:
    virtual ~IPollLine() = default;
    virtual PortStatus Open() = 0;
    virtual void Close() = 0;
    virtual PortStatus Send(const ByteBlock& bytes) = 0;
    virtual PortStatus DropInput() = 0;
    // Appends what arrives to into; returns once something arrived or at deadlineMs.
    virtual PortStatus Receive(ByteBlock& into, double deadlineMs) = 0;
    virtual double NowMs() = 0;
    virtual void SleepUntil(double ms) = 0;
    virtual std::string Name() const = 0;  // for messages: the port as the operator named it
    // True where every reply names its request (Modbus TCP's transaction ids): no need to
    // judge a reply by its timing, and no line silence to keep.
    virtual bool RepliesCarryIds() const { return false; }
    // Replies for an earlier request that the line dropped, by meter.
    virtual uint64_t StaleReplies(uint8_t /*address*/) const { return 0; }
};

// A serial device opened by path with fixed line settings, on the system's steady clock.
std::unique_ptr<IPollLine> MakeSerialPollLine(std::unique_ptr<ISerialDevice> device,
                                              std::string name, std::string path,
                                              LineSettings settings);
