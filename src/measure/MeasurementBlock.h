// The meter's 45-register measurement block as the texts of the main window's boxes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// data: the 90 data bytes of a response, register n at data[2n] (high) and data[2n + 1].
// The texts come in register order, the combined line voltage (1025) last.
std::vector<FieldText> DecodeMeasurementTexts(const uint8_t* data, const Scales& scales);
