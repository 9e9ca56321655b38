#include "measure/MeasurementBlock.h"

#include "measure/Format.h"

namespace {

enum class Kind { U16, S16, U32 };
enum class Scaling { Voltage, Current, Power, Apparent, PowerFactor, Frequency, Energy };

struct Entry {
    int reg;
    Kind kind;
    Scaling scaling;
    int control;
    Ladder ladder;  // for the ranged quantities
};

// The shown registers in address order; the others are read but not shown.
constexpr Entry kMap[] = {
    // Phase A, B and C share one layout of eight registers.
    {0x00, Kind::U16, Scaling::Voltage, 1001, Ladder::Voltage},
    {0x01, Kind::U16, Scaling::Voltage, 1026, Ladder::Voltage},
    {0x02, Kind::U16, Scaling::Current, 1030, Ladder::Current},
    {0x04, Kind::S16, Scaling::Power, 1034, Ladder::ActivePower},
    {0x05, Kind::S16, Scaling::PowerFactor, 1046, Ladder::Voltage},
    {0x06, Kind::S16, Scaling::Power, 1038, Ladder::ReactivePower},
    {0x07, Kind::U16, Scaling::Apparent, 1042, Ladder::ApparentPower},
    {0x08, Kind::U16, Scaling::Voltage, 1002, Ladder::Voltage},
    {0x09, Kind::U16, Scaling::Voltage, 1027, Ladder::Voltage},
    {0x0A, Kind::U16, Scaling::Current, 1031, Ladder::Current},
    {0x0C, Kind::S16, Scaling::Power, 1035, Ladder::ActivePower},
    {0x0D, Kind::S16, Scaling::PowerFactor, 1047, Ladder::Voltage},
    {0x0E, Kind::S16, Scaling::Power, 1039, Ladder::ReactivePower},
    {0x0F, Kind::U16, Scaling::Apparent, 1043, Ladder::ApparentPower},
    {0x10, Kind::U16, Scaling::Voltage, 1003, Ladder::Voltage},
    {0x11, Kind::U16, Scaling::Voltage, 1028, Ladder::Voltage},
    {0x12, Kind::U16, Scaling::Current, 1032, Ladder::Current},
    {0x14, Kind::S16, Scaling::Power, 1036, Ladder::ActivePower},
    {0x15, Kind::S16, Scaling::PowerFactor, 1048, Ladder::Voltage},
    {0x16, Kind::S16, Scaling::Power, 1040, Ladder::ReactivePower},
    {0x17, Kind::U16, Scaling::Apparent, 1044, Ladder::ApparentPower},
    // Totals.
    {0x18, Kind::U16, Scaling::Current, 1050, Ladder::Current},
    {0x19, Kind::U16, Scaling::Voltage, 1000, Ladder::Voltage},
    {0x1A, Kind::U16, Scaling::Current, 1029, Ladder::Current},
    {0x1B, Kind::U16, Scaling::Frequency, 1049, Ladder::Voltage},
    {0x1C, Kind::S16, Scaling::Power, 1033, Ladder::ActivePower},
    {0x1D, Kind::S16, Scaling::PowerFactor, 1045, Ladder::Voltage},
    {0x1E, Kind::S16, Scaling::Power, 1037, Ladder::ReactivePower},
    {0x1F, Kind::U16, Scaling::Apparent, 1041, Ladder::ApparentPower},
    // Energy counters: low word first.
    {0x21, Kind::U32, Scaling::Energy, 1053, Ladder::ForwardActiveEnergy},
    {0x23, Kind::U32, Scaling::Energy, 1054, Ladder::ReverseActiveEnergy},
    {0x25, Kind::U32, Scaling::Energy, 1055, Ladder::ForwardReactiveEnergy},
    {0x27, Kind::U32, Scaling::Energy, 1056, Ladder::ReverseReactiveEnergy},
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

std::vector<FieldText> DecodeMeasurementTexts(const uint8_t* data, const Scales& scales) {
    std::vector<FieldText> out;
    out.reserve(std::size(kMap) + 1);
    for (const Entry& e : kMap)
        out.push_back({e.control, Text(Scaled(Raw(data, e), e.scaling, scales), e)});
    // The combined line voltage: the mean of the three line voltages, summed raw.
    double lineSum = double(Reg(data, 0x01)) + Reg(data, 0x09) + Reg(data, 0x11);
    out.push_back({1025, FormatQuantity(lineSum * scales.pt / 100 / 3, Ladder::Voltage)});
    return out;
}
