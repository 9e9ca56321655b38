// The meter's 45-register measurement block: its values in base units, scaled by the
// meter's settings, for the console's boxes and the poller's outputs alike.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "measure/Quantities.h"

struct Scales {
    uint32_t pt = 1;
    uint32_t ct = 1;
    int32_t urgFactor = 1;    // multiplies active and reactive power
    int32_t energyScale = 1;  // power of ten applied to the energy counters
};

struct FieldText {
    int id;
    std::string text;
};

constexpr int kMeasurementRegisters = 45;

// Every quantity as a double in base units (V, A, W, var, VA, Hz, Wh, varh), scaled as the
// console scales it. The reverse counters are magnitudes: the console's "-" in front of
// them is a label, not a sign.
using MeasurementValues = std::array<double, kQuantityCount>;
MeasurementValues DecodeMeasurementValues(const uint8_t* data, const Scales& scales);

// The console's texts of those values, with the unit ladders and the fixed formats.
std::vector<FieldText> MeasurementTexts(const MeasurementValues& values);

// data: the 90 data bytes of a response, register n at data[2n] (high) and data[2n + 1].
// The texts come in register order, the combined line voltage (1025) last.
std::vector<FieldText> DecodeMeasurementTexts(const uint8_t* data, const Scales& scales);
