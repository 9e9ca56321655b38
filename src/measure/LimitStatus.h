// The eight limit-status flags: four voltage fields and four current fields, two bits each,
// highest bits first. 1 is under the limit, 2 over it, 0 and 3 normal.
#pragma once

#include <array>
#include <cstdint>
#include <string>

enum class Limit { Normal, Under, Over };

// Field 0..3 of a limit-status byte, highest bits first.
constexpr Limit LimitField(uint8_t byte, int field) {
    const int v = (byte >> (6 - 2 * field)) & 0x03;
    return v == 1 ? Limit::Under : v == 2 ? Limit::Over : Limit::Normal;
}

struct LimitStatus {
    std::array<uint8_t, 8> flags;      // 1: under or over the limit
    std::array<std::string, 8> texts;  // "欠压", "过压", "欠流", "过流" or "正常"
};

LimitStatus DecodeLimitStatus(uint8_t voltageByte, uint8_t currentByte);

// The control that shows flag k's text (0: none) and the control its colour applies to.
constexpr int kLimitTextControl[8] = {0, 1065, 1072, 1073, 1074, 1075, 1076, 1077};
constexpr int kLimitColourControl[8] = {1064, 1065, 1072, 1073, 1074, 1075, 1076, 1077};
