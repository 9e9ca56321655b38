// Modbus RTU requests of the console, the search for a valid response among received
// bytes, and the hexadecimal echo of frames. Pure functions over byte arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint8_t kFnReadRegs = 0x03;
constexpr uint8_t kFnWriteReg = 0x06;
constexpr uint8_t kFnWriteRegs = 0x10;

// Total length of the response to a read of count registers.
constexpr int ReadRegsReplyLength(int count) {
    return 5 + 2 * count;
}
constexpr int kWriteReplyLength = 8;

// Stores the CRC of buf[0..length) at buf[length] (the byte sent first) and buf[length + 1].
void AppendCrc(uint8_t* buf, uint16_t length);

// Each builds a whole request from buf[0], CRC included, and returns its length.
uint16_t BuildReadRegs(uint8_t* buf, uint8_t address, uint16_t start, uint16_t count);
uint16_t BuildWriteReg(uint8_t* buf, uint8_t address, uint16_t reg, uint16_t value);
uint16_t BuildWriteRegs(uint8_t* buf, uint8_t address, uint16_t start, const uint16_t* values,
                        uint16_t count);

// Index of the first frameLength-byte frame in buffer[0..length) that starts with address
// and functionCode (low 8 bits of each) and ends with its correct CRC; -1 when none does.
int16_t FindResponseFrame(const uint8_t* buffer, int16_t length, int functionCode, int address,
                          int frameLength);

// Each byte as two upper-case hex digits, a carriage return and a space.
std::string HexEcho(const uint8_t* bytes, size_t length);

// Whether buf holds a meter's answer to the probe of the address scan (a read of one
// register at 0x0300 from candidate): the reply, or an exception reply from it.
bool IsProbeAnswer(const uint8_t* buf, int16_t n, uint8_t candidate);
