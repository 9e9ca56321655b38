// The CRC-16 of Modbus RTU frames.
#pragma once

#include <cstdint>

// High byte: the CRC byte sent first; low byte: the one sent second.
uint16_t ModbusCrc16(const uint8_t* bytes, uint16_t length);
