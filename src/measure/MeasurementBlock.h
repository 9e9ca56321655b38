// The meter's 45-register measurement block as the texts of the main window's boxes.
#pragma once

#include <array>
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

// What a value of the block measures, with its unit in base units (empty: a ratio).
enum class QuantityKind {
    Voltage,
    LineVoltage,
    Current,
    ActivePower,
    ReactivePower,
    ApparentPower,
    PowerFactor,
    Frequency,
    ActiveEnergy,
    ReactiveEnergy,
};
const char* UnitOf(QuantityKind kind);  // "V", "A", "W", "var", "VA", "", "Hz", "Wh", "varh"

struct QuantityInfo {
    const char* key;    // field name in the poller's outputs: "voltage_a", "active_power_total"
    QuantityKind kind;  //
    const char* where;  // phase, line or direction: "a", "ca", "mean", "total", "forward", ...
    int control;        // the console's box
};

// The block's quantities: the shown registers in address order, the derived mean line
// voltage last. The values and the texts below come in this order.
constexpr int kQuantityCount = 34;
const QuantityInfo (&Quantities())[kQuantityCount];
int QuantityIndex(const std::string& key);  // -1 for a key that is not one of them

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
