// The meter's writable settings, said once for the console's handlers and the command-line
// tools: the registers they live in, the codes they take, and the frames that write them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "base/Bytes.h"

constexpr uint16_t kRegAddress = 0x0000, kRegWiring = 0x0002, kRegParity = 0x0006,
                   kRegBaud = 0x0008, kRegPt = 0x000E, kRegCt = 0x0012;

// The five rates the meter takes: its code for each, and the console's poll period there.
struct BaudRate {
    int32_t baud;
    uint16_t code;
    int32_t pollMs;
};
constexpr BaudRate kBaudRates[] = {
    {1200, 0, 2000}, {2400, 1, 1500}, {4800, 2, 1000}, {9600, 3, 500}, {19200, 4, 500},
};
const BaudRate* BaudRateOf(int32_t baud);  // nullptr: not a rate of the meter

// Parity codes: 0 none (with 2 stop bits), 1 odd, 2 even (with 1).
constexpr uint16_t kParityCodes = 3;

// Wiring-mode codes 0 to 5, with the names a report gives them.
constexpr const char* kWiringNames[] = {
    "3-phase 4-wire (unbalanced)", "single-phase 2-wire", "3-phase 3-wire (unbalanced)",
    "3-phase 3-wire (balanced)",   "single-phase 3-wire", "3-phase 4-wire (balanced)",
};
const char* WiringName(uint16_t code);  // "unknown" outside the table

// PT and CT ratios as the console's dialog takes them.
constexpr uint32_t kMinRatio = 1, kMaxRatio = 64000;

// The frames of the console's writes: a ratio goes into its register with the one after it
// set to 0 (function 16); the other settings are single registers (function 6).
constexpr std::array<uint16_t, 2> RatioRegisters(uint32_t ratio) {
    return {static_cast<uint16_t>(ratio), 0};
}
ByteBlock RatioWriteFrame(uint8_t address, uint16_t reg, uint32_t ratio);
ByteBlock SettingWriteFrame(uint8_t address, uint16_t reg, uint16_t value);
