// One read and its reply on the line. One engine for every transport; each transport is a
// small table of what it keeps: RTU the silence between frames, a drained line after a
// failed exchange and the status bytes behind a frame; Modbus TCP none of them, since the
// gateway's transaction ids name every reply. The scheduler above knows no line timing.
#pragma once

#include <memory>
#include <string>

#include "poll/LineTiming.h"
#include "poll/PollLine.h"

enum class Outcome { Ok, Timeout, BadFrame, Exception, PortLost };

struct ExchangeResult {
    Outcome outcome;
    ByteBlock frame;            // Ok: the reply and the trailer bytes behind it
    std::string detail;         // what went wrong, for the health line
    uint8_t exceptionCode = 0;  // Exception: the code the slave (or a gateway) gave
};

struct ReadBlock {
    uint16_t start, count;
    int trailerBytes = 0;  // bytes a meter may send behind the frame, waited for in the silence
};

class IExchange {
  public:
    virtual ~IExchange() = default;
    virtual ExchangeResult Read(uint8_t address, const ReadBlock& block) = 0;
    // A write request (function 6 or 16) and the meter's reply to it.
    virtual ExchangeResult Write(const ByteBlock& frame) = 0;
    // Until when the line must stay silent before the next request; another exchange on
    // the same line takes it over.
    virtual double QuietUntil() const = 0;
    virtual void KeepQuietUntil(double ms) = 0;
};

struct Transport {
    bool timed;   // frames kept apart by silence
    bool drains;  // after a failed exchange, waits out a late reply before the next request
};
// A probe of many candidates drains nothing: a late reply names another address than the
// next candidate's, and a probe costs only the request, the timeout and the silence.
constexpr Transport kRtu{true, true}, kRtuProbe{true, false}, kModbusTcp{false, false};

// timeoutMs 0: the wire time of request and reply plus 100 ms.
std::unique_ptr<IExchange> MakeExchange(IPollLine& line, Transport transport, int baud,
                                        double timeoutMs);
