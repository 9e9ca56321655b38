// What each value of the measurement block is, said once: its name in the outputs, where it
// is measured, its register and scaling, its unit and ladder, and what Home Assistant and
// Prometheus call it. Every output reads this table.
#pragma once

#include <string>

#include "measure/Format.h"

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

// What one kind of quantity is to the outputs.
struct KindInfo {
    const char* unit;          // base unit as the outputs spell it; empty: a ratio
    const char* haClass;       // Home Assistant device class
    const char* haStateClass;  // "measurement", or "total_increasing" for a counter
    const char* family;        // Prometheus metric family
    const char* familyType;    // "gauge" or "counter"
    const char* familyHelp;
    const char* familyLabel;  // the label that tells one meter's series apart; empty: none
    double familyFactor;      // from the unit to the family's (Prometheus counts seconds)
    bool counter() const { return familyType[0] == 'c'; }
};
const KindInfo& InfoOf(QuantityKind kind);

// How a quantity's raw value is read from the block and scaled.
enum class RegisterKind { U16, S16, U32LowFirst, SumOfLineVoltages };
enum class Scaling {
    Voltage,      // × PT / 100
    MeanOfThree,  // a sum of three voltages: × PT / 100 / 3
    Current,      // × CT / 10000
    Power,        // × PT × CT × Urg factor / 10
    Apparent,     // × PT × CT / 5
    PowerFactor,  // / 10000
    Frequency,    // × 0.00106813
    Energy,       // × 10^exponent × PT × CT
};

struct QuantityInfo {
    const char* key;    // field name in the poller's outputs: "voltage_a", "active_power_total"
    QuantityKind kind;  //
    const char* where;  // phase, line or direction: "a", "ca", "mean", "total", "forward", ...
    int control;        // the console's box
    int reg;            // first register in the block
    RegisterKind registerKind;
    Scaling scaling;
    Ladder ladder;  // for the ranged quantities
};

// The block's quantities: the shown registers in address order, the derived mean line
// voltage last. Values and texts come in this order.
constexpr int kQuantityCount = 34;
const QuantityInfo (&Quantities())[kQuantityCount];
int QuantityIndex(const std::string& key);  // -1 for a key that is not one of them

// A value as the console shows it: its ladder, or the fixed format of a ratio or frequency.
std::string QuantityText(const QuantityInfo& q, double value);
