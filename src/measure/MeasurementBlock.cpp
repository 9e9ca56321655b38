#include "measure/MeasurementBlock.h"

#include "measure/Format.h"

namespace {

uint16_t Reg(const uint8_t* data, int n) {
    return static_cast<uint16_t>(data[2 * n] << 8 | data[2 * n + 1]);
}

double Raw(const uint8_t* data, const QuantityInfo& q) {
    switch (q.registerKind) {
        case RegisterKind::S16:
            return static_cast<int16_t>(Reg(data, q.reg));
        case RegisterKind::U32LowFirst:
            return Reg(data, q.reg + 1) * 65536.0 + Reg(data, q.reg);
        case RegisterKind::SumOfLineVoltages:
            return double(Reg(data, 0x01)) + Reg(data, 0x09) + Reg(data, 0x11);
        case RegisterKind::U16:
            break;
    }
    return Reg(data, q.reg);
}

// Every product in double precision: ratios of 64000 would overflow 32-bit integers.
double Scaled(double raw, Scaling s, const Scales& k) {
    const double pt = k.pt, ct = k.ct;
    switch (s) {
        case Scaling::Voltage:
            return raw * pt / 100;
        case Scaling::MeanOfThree:
            return raw * pt / 100 / 3;
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

}  // namespace

MeasurementValues DecodeMeasurementValues(const uint8_t* data, const Scales& scales) {
    MeasurementValues v{};
    for (int k = 0; k < kQuantityCount; ++k)
        v[k] = Scaled(Raw(data, Quantities()[k]), Quantities()[k].scaling, scales);
    return v;
}

std::vector<FieldText> MeasurementTexts(const MeasurementValues& values) {
    std::vector<FieldText> out;
    out.reserve(kQuantityCount);
    for (int k = 0; k < kQuantityCount; ++k)
        out.push_back({Quantities()[k].control, QuantityText(Quantities()[k], values[k])});
    return out;
}

std::vector<FieldText> DecodeMeasurementTexts(const uint8_t* data, const Scales& scales) {
    return MeasurementTexts(DecodeMeasurementValues(data, scales));
}
