#include "modbus/ParamBlock.h"

ParamBlock DecodeParamBlock(const uint8_t* d) {
    ParamBlock p;
    p.slaveAddr = d[1];
    p.pt = static_cast<uint32_t>(d[14] << 8 | d[15]);
    p.ct = static_cast<uint32_t>(d[18] << 8 | d[19]);
    if (d[13] < std::size(POWERS_OF_TEN)) p.energyScale = POWERS_OF_TEN[d[13]];
    p.classFlag = d[33];
    p.wiring = d[3];
    p.urgFactor = d[11] == 1 ? 4 : 1;
    return p;
}

std::array<uint16_t, 4> SettingBlockARaw(const uint8_t* d) {
    std::array<uint16_t, 4> raw;
    for (int k = 0; k < 4; ++k) raw[k] = static_cast<uint16_t>(d[2 * k] << 8 | d[2 * k + 1]);
    return raw;
}

std::array<double, 4> ScaleSettingBlockA(const std::array<uint16_t, 4>& raw, uint32_t pt,
                                         uint32_t ct) {
    const double p = pt, c = ct;
    return {p * raw[0] / 100, p * raw[1] / 100, c * raw[2] / 10000, c * raw[3] / 10000};
}
