#include "measure/Quantities.h"

#include <iterator>

namespace {

using Q = QuantityKind;
using R = RegisterKind;
using S = Scaling;
using L = Ladder;

// Home Assistant's device classes and units as its documentation spells them; Prometheus
// families in base units (joules, not watt-hours: promtool insists).
constexpr KindInfo kKinds[] = {
    {"V", "voltage", "measurement", "kx880_voltage_volts", "gauge", "Phase voltage, primary side.",
     "phase", 1},
    {"V", "voltage", "measurement", "kx880_line_voltage_volts", "gauge",
     "Line voltage, primary side.", "line", 1},
    {"A", "current", "measurement", "kx880_current_amperes", "gauge", "Current, primary side.",
     "phase", 1},
    {"W", "power", "measurement", "kx880_power_watts", "gauge", "Active power.", "phase", 1},
    {"var", "reactive_power", "measurement", "kx880_reactive_power_vars", "gauge",
     "Reactive power.", "phase", 1},
    {"VA", "apparent_power", "measurement", "kx880_apparent_power_volt_amperes", "gauge",
     "Apparent power.", "phase", 1},
    {"", "power_factor", "measurement", "kx880_power_factor", "gauge", "Power factor.", "phase", 1},
    {"Hz", "frequency", "measurement", "kx880_frequency_hertz", "gauge", "Frequency.", "", 1},
    {"Wh", "energy", "total_increasing", "kx880_active_energy_joules_total", "counter",
     "Active energy counter (Wh x 3600).", "direction", 3600},
    {"varh", "reactive_energy", "total_increasing", "kx880_reactive_energy_var_seconds_total",
     "counter", "Reactive energy counter (varh x 3600).", "direction", 3600},
};
static_assert(std::size(kKinds) == size_t(Q::ReactiveEnergy) + 1, "a row per kind");

// The shown registers in address order; phases A, B and C share one layout of eight
// registers. The others are read but not shown.
constexpr QuantityInfo kQuantities[] = {
    {"voltage_a", Q::Voltage, "a", 1001, 0x00, R::U16, S::Voltage, L::Voltage},
    {"line_voltage_ca", Q::LineVoltage, "ca", 1026, 0x01, R::U16, S::Voltage, L::Voltage},
    {"current_a", Q::Current, "a", 1030, 0x02, R::U16, S::Current, L::Current},
    {"active_power_a", Q::ActivePower, "a", 1034, 0x04, R::S16, S::Power, L::ActivePower},
    {"power_factor_a", Q::PowerFactor, "a", 1046, 0x05, R::S16, S::PowerFactor, L::Voltage},
    {"reactive_power_a", Q::ReactivePower, "a", 1038, 0x06, R::S16, S::Power, L::ReactivePower},
    {"apparent_power_a", Q::ApparentPower, "a", 1042, 0x07, R::U16, S::Apparent, L::ApparentPower},
    {"voltage_b", Q::Voltage, "b", 1002, 0x08, R::U16, S::Voltage, L::Voltage},
    {"line_voltage_ab", Q::LineVoltage, "ab", 1027, 0x09, R::U16, S::Voltage, L::Voltage},
    {"current_b", Q::Current, "b", 1031, 0x0A, R::U16, S::Current, L::Current},
    {"active_power_b", Q::ActivePower, "b", 1035, 0x0C, R::S16, S::Power, L::ActivePower},
    {"power_factor_b", Q::PowerFactor, "b", 1047, 0x0D, R::S16, S::PowerFactor, L::Voltage},
    {"reactive_power_b", Q::ReactivePower, "b", 1039, 0x0E, R::S16, S::Power, L::ReactivePower},
    {"apparent_power_b", Q::ApparentPower, "b", 1043, 0x0F, R::U16, S::Apparent, L::ApparentPower},
    {"voltage_c", Q::Voltage, "c", 1003, 0x10, R::U16, S::Voltage, L::Voltage},
    {"line_voltage_bc", Q::LineVoltage, "bc", 1028, 0x11, R::U16, S::Voltage, L::Voltage},
    {"current_c", Q::Current, "c", 1032, 0x12, R::U16, S::Current, L::Current},
    {"active_power_c", Q::ActivePower, "c", 1036, 0x14, R::S16, S::Power, L::ActivePower},
    {"power_factor_c", Q::PowerFactor, "c", 1048, 0x15, R::S16, S::PowerFactor, L::Voltage},
    {"reactive_power_c", Q::ReactivePower, "c", 1040, 0x16, R::S16, S::Power, L::ReactivePower},
    {"apparent_power_c", Q::ApparentPower, "c", 1044, 0x17, R::U16, S::Apparent, L::ApparentPower},
    {"current_zero_sequence", Q::Current, "zero_sequence", 1050, 0x18, R::U16, S::Current,
     L::Current},
    {"voltage_mean", Q::Voltage, "mean", 1000, 0x19, R::U16, S::Voltage, L::Voltage},
    {"current_mean", Q::Current, "mean", 1029, 0x1A, R::U16, S::Current, L::Current},
    {"frequency", Q::Frequency, "", 1049, 0x1B, R::U16, S::Frequency, L::Voltage},
    {"active_power_total", Q::ActivePower, "total", 1033, 0x1C, R::S16, S::Power, L::ActivePower},
    {"power_factor_total", Q::PowerFactor, "total", 1045, 0x1D, R::S16, S::PowerFactor, L::Voltage},
    {"reactive_power_total", Q::ReactivePower, "total", 1037, 0x1E, R::S16, S::Power,
     L::ReactivePower},
    {"apparent_power_total", Q::ApparentPower, "total", 1041, 0x1F, R::U16, S::Apparent,
     L::ApparentPower},
    // Energy counters: two registers, low word first.
    {"active_energy_forward", Q::ActiveEnergy, "forward", 1053, 0x21, R::U32LowFirst, S::Energy,
     L::ForwardActiveEnergy},
    {"active_energy_reverse", Q::ActiveEnergy, "reverse", 1054, 0x23, R::U32LowFirst, S::Energy,
     L::ReverseActiveEnergy},
    {"reactive_energy_forward", Q::ReactiveEnergy, "forward", 1055, 0x25, R::U32LowFirst, S::Energy,
     L::ForwardReactiveEnergy},
    {"reactive_energy_reverse", Q::ReactiveEnergy, "reverse", 1056, 0x27, R::U32LowFirst, S::Energy,
     L::ReverseReactiveEnergy},
    // Derived: the three line voltages summed raw, then scaled.
    {"line_voltage_mean", Q::LineVoltage, "mean", 1025, 0x01, R::SumOfLineVoltages, S::MeanOfThree,
     L::Voltage},
};
static_assert(std::size(kQuantities) == kQuantityCount, "a row per quantity");

}  // namespace

const KindInfo& InfoOf(QuantityKind kind) {
    return kKinds[static_cast<int>(kind)];
}

const QuantityInfo (&Quantities())[kQuantityCount] {
    return kQuantities;
}

int QuantityIndex(const std::string& key) {
    for (int k = 0; k < kQuantityCount; ++k)
        if (key == kQuantities[k].key) return k;
    return -1;
}

std::string QuantityText(const QuantityInfo& q, double value) {
    if (q.scaling == Scaling::PowerFactor) return FormatPowerFactor(value);
    if (q.scaling == Scaling::Frequency) return FormatFrequency(value);
    return FormatQuantity(value, q.ladder);
}
