#include "measure/MeasurementBlock.h"

#include "measure/Format.h"

namespace {

enum class Kind { U16, S16, U32 };
enum class Scaling { Voltage, Current, Power, Apparent, PowerFactor, Frequency, Energy };

struct Entry {
    int reg;
    Kind kind;
    Scaling scaling;
    Ladder ladder;  // for the ranged quantities
};

using Q = QuantityKind;

// The shown registers in address order; the others are read but not shown. The derived
// mean line voltage comes last and has no register of its own.
constexpr Entry kMap[kQuantityCount - 1] = {
    // Phase A, B and C share one layout of eight registers.
    {0x00, Kind::U16, Scaling::Voltage, Ladder::Voltage},
    {0x01, Kind::U16, Scaling::Voltage, Ladder::Voltage},
    {0x02, Kind::U16, Scaling::Current, Ladder::Current},
    {0x04, Kind::S16, Scaling::Power, Ladder::ActivePower},
    {0x05, Kind::S16, Scaling::PowerFactor, Ladder::Voltage},
    {0x06, Kind::S16, Scaling::Power, Ladder::ReactivePower},
    {0x07, Kind::U16, Scaling::Apparent, Ladder::ApparentPower},
    {0x08, Kind::U16, Scaling::Voltage, Ladder::Voltage},
    {0x09, Kind::U16, Scaling::Voltage, Ladder::Voltage},
    {0x0A, Kind::U16, Scaling::Current, Ladder::Current},
    {0x0C, Kind::S16, Scaling::Power, Ladder::ActivePower},
    {0x0D, Kind::S16, Scaling::PowerFactor, Ladder::Voltage},
    {0x0E, Kind::S16, Scaling::Power, Ladder::ReactivePower},
    {0x0F, Kind::U16, Scaling::Apparent, Ladder::ApparentPower},
    {0x10, Kind::U16, Scaling::Voltage, Ladder::Voltage},
    {0x11, Kind::U16, Scaling::Voltage, Ladder::Voltage},
    {0x12, Kind::U16, Scaling::Current, Ladder::Current},
    {0x14, Kind::S16, Scaling::Power, Ladder::ActivePower},
    {0x15, Kind::S16, Scaling::PowerFactor, Ladder::Voltage},
    {0x16, Kind::S16, Scaling::Power, Ladder::ReactivePower},
    {0x17, Kind::U16, Scaling::Apparent, Ladder::ApparentPower},
    // Totals.
    {0x18, Kind::U16, Scaling::Current, Ladder::Current},
    {0x19, Kind::U16, Scaling::Voltage, Ladder::Voltage},
    {0x1A, Kind::U16, Scaling::Current, Ladder::Current},
    {0x1B, Kind::U16, Scaling::Frequency, Ladder::Voltage},
    {0x1C, Kind::S16, Scaling::Power, Ladder::ActivePower},
    {0x1D, Kind::S16, Scaling::PowerFactor, Ladder::Voltage},
    {0x1E, Kind::S16, Scaling::Power, Ladder::ReactivePower},
    {0x1F, Kind::U16, Scaling::Apparent, Ladder::ApparentPower},
    // Energy counters: low word first.
    {0x21, Kind::U32, Scaling::Energy, Ladder::ForwardActiveEnergy},
    {0x23, Kind::U32, Scaling::Energy, Ladder::ReverseActiveEnergy},
    {0x25, Kind::U32, Scaling::Energy, Ladder::ForwardReactiveEnergy},
    {0x27, Kind::U32, Scaling::Energy, Ladder::ReverseReactiveEnergy},
};

constexpr QuantityInfo kQuantities[kQuantityCount] = {
    {"voltage_a", Q::Voltage, "a", 1001},
    {"line_voltage_ca", Q::LineVoltage, "ca", 1026},
    {"current_a", Q::Current, "a", 1030},
    {"active_power_a", Q::ActivePower, "a", 1034},
    {"power_factor_a", Q::PowerFactor, "a", 1046},
    {"reactive_power_a", Q::ReactivePower, "a", 1038},
    {"apparent_power_a", Q::ApparentPower, "a", 1042},
    {"voltage_b", Q::Voltage, "b", 1002},
    {"line_voltage_ab", Q::LineVoltage, "ab", 1027},
    {"current_b", Q::Current, "b", 1031},
    {"active_power_b", Q::ActivePower, "b", 1035},
    {"power_factor_b", Q::PowerFactor, "b", 1047},
    {"reactive_power_b", Q::ReactivePower, "b", 1039},
    {"apparent_power_b", Q::ApparentPower, "b", 1043},
    {"voltage_c", Q::Voltage, "c", 1003},
    {"line_voltage_bc", Q::LineVoltage, "bc", 1028},
    {"current_c", Q::Current, "c", 1032},
    {"active_power_c", Q::ActivePower, "c", 1036},
    {"power_factor_c", Q::PowerFactor, "c", 1048},
    {"reactive_power_c", Q::ReactivePower, "c", 1040},
    {"apparent_power_c", Q::ApparentPower, "c", 1044},
    {"current_zero_sequence", Q::Current, "zero_sequence", 1050},
    {"voltage_mean", Q::Voltage, "mean", 1000},
    {"current_mean", Q::Current, "mean", 1029},
    {"frequency", Q::Frequency, "", 1049},
    {"active_power_total", Q::ActivePower, "total", 1033},
    {"power_factor_total", Q::PowerFactor, "total", 1045},
    {"reactive_power_total", Q::ReactivePower, "total", 1037},
    {"apparent_power_total", Q::ApparentPower, "total", 1041},
    {"active_energy_forward", Q::ActiveEnergy, "forward", 1053},
    {"active_energy_reverse", Q::ActiveEnergy, "reverse", 1054},
    {"reactive_energy_forward", Q::ReactiveEnergy, "forward", 1055},
    {"reactive_energy_reverse", Q::ReactiveEnergy, "reverse", 1056},
    {"line_voltage_mean", Q::LineVoltage, "mean", 1025},
};

uint16_t Reg(const uint8_t* data, int n) {
    return static_cast<uint16_t>(data[2 * n] << 8 | data[2 * n + 1]);
}

double Raw(const uint8_t* data, const Entry& e) {
    switch (e.kind) {
        case Kind::S16:
            return static_cast<int16_t>(Reg(data, e.reg));
        case Kind::U32:
            return Reg(data, e.reg + 1) * 65536.0 + Reg(data, e.reg);
        default:
            return Reg(data, e.reg);
    }
}

// Every product in double precision: ratios of 64000 would overflow 32-bit integers.
double Scaled(double raw, Scaling s, const Scales& k) {
    const double pt = k.pt, ct = k.ct;
    switch (s) {
        case Scaling::Voltage:
            return raw * pt / 100;
        case Scaling::Current:
            return raw * ct / 10000;
        case Scaling::Power:
            return raw * pt * ct * k.urgFactor / 10;
        case Scaling::Apparent:
            return raw * pt * ct / 5;
        case Scaling::PowerFactor:
            return raw / 10000;
        case Scaling::Frequency:
            return raw * 0.00106813;
        case Scaling::Energy:
            return raw * k.energyScale * pt * ct;
    }
    return raw;
}

std::string Text(double value, const Entry& e) {
    if (e.scaling == Scaling::PowerFactor) return FormatPowerFactor(value);
    if (e.scaling == Scaling::Frequency) return FormatFrequency(value);
    return FormatQuantity(value, e.ladder);
}

}  // namespace

const char* UnitOf(QuantityKind kind) {
    static const char* const units[] = {"V", "V", "A", "W", "var", "VA", "", "Hz", "Wh", "varh"};
    return units[static_cast<int>(kind)];
}

const QuantityInfo (&Quantities())[kQuantityCount] {
    return kQuantities;
}

int QuantityIndex(const std::string& key) {
    for (int k = 0; k < kQuantityCount; ++k)
        if (key == kQuantities[k].key) return k;
    return -1;
}

MeasurementValues DecodeMeasurementValues(const uint8_t* data, const Scales& scales) {
    MeasurementValues v{};
    for (size_t k = 0; k < std::size(kMap); ++k)
        v[k] = Scaled(Raw(data, kMap[k]), kMap[k].scaling, scales);
    // The mean line voltage: the three line voltages summed raw, then scaled.
    const double lineSum = double(Reg(data, 0x01)) + Reg(data, 0x09) + Reg(data, 0x11);
    v[kQuantityCount - 1] = lineSum * scales.pt / 100 / 3;
    return v;
}

std::vector<FieldText> MeasurementTexts(const MeasurementValues& values) {
    std::vector<FieldText> out;
    out.reserve(kQuantityCount);
    for (size_t k = 0; k < std::size(kMap); ++k)
        out.push_back({kQuantities[k].control, Text(values[k], kMap[k])});
    out.push_back({kQuantities[kQuantityCount - 1].control,
                   FormatQuantity(values[kQuantityCount - 1], Ladder::Voltage)});
    return out;
}

std::vector<FieldText> DecodeMeasurementTexts(const uint8_t* data, const Scales& scales) {
    return MeasurementTexts(DecodeMeasurementValues(data, scales));
}
