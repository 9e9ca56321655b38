#include "poll/MeterDevice.h"

#include <cmath>

#include "modbus/Frame.h"

ReadBlock MeterDevice::Next() const {
    if (!m_params) return {kParamBlockStart, kParamBlockCount};
    return {kMeasurementStart, kMeasurementCount, 2};
}

std::optional<Reading> MeterDevice::Take(const ByteBlock& frame, int64_t unixMs) {
    if (!m_params) {
        m_params = DecodeParamBlock(frame.data() + 3);
        if (m_params->energyScale) m_energyScale = m_params->energyScale;
        return std::nullopt;
    }
    Reading r;
    r.address = m_address;
    r.unixMs = unixMs;
    r.params = *m_params;
    r.energyScale = m_energyScale.value_or(0);
    const Scales scales{r.params.pt, r.params.ct, r.params.urgFactor, m_energyScale.value_or(1)};
    r.values = DecodeMeasurementValues(frame.data() + 3, scales);
    if (!m_energyScale)  // never a valid exponent: the energies are not known
        for (size_t q = 0; q < kQuantityCount; ++q)
            if (InfoOf(Quantities()[q].kind).counter()) r.values[q] = NAN;
    const size_t statusAt = ReadRegsReplyLength(kMeasurementCount);
    if (frame.size() >= statusAt + 2)
        r.voltageStatus = frame[statusAt], r.currentStatus = frame[statusAt + 1];
    return r;
}
