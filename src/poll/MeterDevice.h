// The meter's own knowledge: what to read next and how a reply becomes a reading, scaled
// by the settings (PT, CT, Urg flag, energy exponent) read from the meter itself.
#pragma once

#include <optional>

#include "poll/Exchange.h"
#include "poll/Reading.h"

class MeterDevice {
  public:
    explicit MeterDevice(uint8_t address) : m_address(address) {}
    uint8_t Address() const { return m_address; }

    // The parameter block while the meter's settings are not known, else the measurement
    // block with the two limit-status bytes a meter may send behind it.
    ReadBlock Next() const;
    // The reply to Next(): the settings kept, or a reading of the measurements.
    std::optional<Reading> Take(const ByteBlock& frame, int64_t unixMs);
    // Its settings are read again before the next reading (after it was silent).
    void Forget() { m_params.reset(); }

  private:
    uint8_t m_address;
    std::optional<ParamBlock> m_params;
    std::optional<int32_t> m_energyScale;  // the last one inside the table
};
