// The simulated meter on the far end of an in-memory port: answers each request after the
// wire time of its reply, and injects line faults on demand.
#pragma once

#include <deque>
#include <random>
#include <vector>

#include "sim/MemoryPort.h"
#include "sim/MeterModel.h"

enum class LineFault {
    None,
    Silence,       // no reply
    NoiseBefore,   // random bytes, then the reply
    NoiseAfter,    // the reply, then random bytes
    BadCrc,        // the reply with a wrong CRC
    Split,         // the reply in two parts, the second one late
    Late,          // the reply after the console has given up on it
    OtherAddress,  // a reply from another slave
    Exception,     // a Modbus exception reply
    Flood,         // more than 1200 bytes of noise ahead of the reply
    Echo,          // the request itself comes back first (half-duplex RS-485 adapter)
};
constexpr int kLineFaultCount = 11;

const char* LineFaultName(LineFault f);

class SimMeter : public ISimPeer {
  public:
    explicit SimMeter(MeterModel& model, uint32_t seed = 1) : m_model(model), m_rng(seed) {}

    // The fault for the next reply(s), in order, before any random ones.
    void InjectNext(LineFault f, int times = 1);
    // Each reply gets a random fault with this probability, drawn from kinds (all kinds
    // when empty).
    void SetRandomFaults(double probability, std::vector<LineFault> kinds = {}) {
        m_faultRate = probability;
        m_faultKinds = std::move(kinds);
    }

    double turnaroundChars = 3.5;  // the silence a slave keeps before it answers
    int lateMs = 700;              // beyond the 500 ms of the fastest poll period
    bool sendsStatusBytes = true;  // two limit-status bytes behind each measurement response

    struct Reply {
        double atMs;  // when the request left the console
        ByteBlock request;
        ByteBlock reply;  // what the meter would say without a fault; empty when silent
        LineFault fault;
    };
    const std::vector<Reply>& Log() const { return m_log; }
    void ClearLog() { m_log.clear(); }

    void OnReceive(const ByteBlock& bytes, double nowMs, const LineSettings& line,
                   IReplySink& port) override;

    // Milliseconds that n characters of 11 bits take on the line.
    static double WireMs(double n, int baud) { return n * 11 * 1000 / baud; }

  private:
    LineFault NextFault();
    ByteBlock Noise(size_t n);
    // The frame with its fault, then the trailer (the status bytes) where it still goes out.
    void Send(IReplySink& port, ByteBlock frame, const ByteBlock& trailer, LineFault fault,
              const ByteBlock& request, double at);

    MeterModel& m_model;
    std::mt19937 m_rng;
    std::deque<LineFault> m_injected;
    double m_faultRate = 0;
    std::vector<LineFault> m_faultKinds;
    std::vector<Reply> m_log;
};
