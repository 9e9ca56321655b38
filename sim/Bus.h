// Meters on one line, as on an RS-485 bus: every meter hears every request and only the one
// addressed answers.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "sim/SimMeter.h"

class Bus : public ISimPeer {
  public:
    // A meter like this one, at address, its random faults drawn with seed.
    SimMeter& Add(const MeterModel& like, uint8_t address, uint32_t seed = 1);
    size_t Size() const { return m_meters.size(); }
    MeterModel& Model(size_t k) { return *m_models[k]; }
    SimMeter& Meter(size_t k) { return *m_meters[k]; }

    // True for the address of a meter that hears nothing now (a test silencing it).
    std::function<bool(uint8_t address)> muted;

    void OnReceive(const ByteBlock& bytes, double nowMs, const LineSettings& line,
                   IReplySink& sink) override;

  private:
    std::vector<std::unique_ptr<MeterModel>> m_models;
    std::vector<std::unique_ptr<SimMeter>> m_meters;
};
