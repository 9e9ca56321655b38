// The meter's parameter block (registers 0x0300 to 0x0312) and setting block A
// (0x0328 to 0x032B), as the poll cycle uses them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

constexpr uint16_t kParamBlockStart = 0x0300, kParamBlockCount = 19;
constexpr uint16_t kSettingBlockAStart = 0x0328, kSettingBlockACount = 4;
constexpr uint16_t kSettingBlockBStart = 0x0322, kSettingBlockBCount = 1;
constexpr uint16_t kMeasurementStart = 0x0000, kMeasurementCount = 45;
constexpr int kParamBlockDataBytes = 2 * kParamBlockCount;  // 38

constexpr int32_t POWERS_OF_TEN[7] = {1, 10, 100, 1000, 10000, 100000, 1000000};

struct ParamBlock {
    uint8_t slaveAddr;
    uint32_t pt;
    uint32_t ct;
    std::optional<int32_t> energyScale;  // none for an exponent beyond the table
    uint8_t classFlag;
    uint8_t wiring;
    int32_t urgFactor;
};

// d: the 38 data bytes of a parameter-block response.
ParamBlock DecodeParamBlock(const uint8_t* d);

// The raw registers of setting block A from its 8 data bytes, and their scaled values:
// the first two are voltages (× PT / 100), the last two currents (× CT / 10000).
std::array<uint16_t, 4> SettingBlockARaw(const uint8_t* d);
std::array<double, 4> ScaleSettingBlockA(const std::array<uint16_t, 4>& raw, uint32_t pt,
                                         uint32_t ct);
