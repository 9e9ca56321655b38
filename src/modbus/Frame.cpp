#include "modbus/Frame.h"

#include "modbus/Crc.h"

namespace {

uint8_t High(uint16_t v) {
    return static_cast<uint8_t>(v >> 8);
}
uint8_t Low(uint16_t v) {
    return static_cast<uint8_t>(v & 0xFF);
}

// Address, function code and one 16-bit pair: the head every request of the console has.
void Head(uint8_t* buf, uint8_t address, uint8_t function, uint16_t first, uint16_t second) {
    buf[0] = address;
    buf[1] = function;
    buf[2] = High(first);
    buf[3] = Low(first);
    buf[4] = High(second);
    buf[5] = Low(second);
}

}  // namespace

void AppendCrc(uint8_t* buf, uint16_t length) {
    uint16_t crc = ModbusCrc16(buf, length);
    buf[length] = High(crc);
    buf[length + 1] = Low(crc);
}

uint16_t BuildReadRegs(uint8_t* buf, uint8_t address, uint16_t start, uint16_t count) {
    Head(buf, address, kFnReadRegs, start, count);
    AppendCrc(buf, 6);
    return 8;
}

uint16_t BuildWriteReg(uint8_t* buf, uint8_t address, uint16_t reg, uint16_t value) {
    Head(buf, address, kFnWriteReg, reg, value);
    AppendCrc(buf, 6);
    return 8;
}

uint16_t BuildWriteRegs(uint8_t* buf, uint8_t address, uint16_t start, const uint16_t* values,
                        uint16_t count) {
    Head(buf, address, kFnWriteRegs, start, count);
    buf[6] = static_cast<uint8_t>(2 * count);
    for (uint16_t k = 0; k < count; ++k) {
        buf[7 + 2 * k] = High(values[k]);
        buf[8 + 2 * k] = Low(values[k]);
    }
    uint16_t body = static_cast<uint16_t>(7 + 2 * count);
    AppendCrc(buf, body);
    return static_cast<uint16_t>(body + 2);
}

int16_t FindResponseFrame(const uint8_t* buffer, int16_t length, int functionCode, int address,
                          int frameLength) {
    if (frameLength < 4 || length < frameLength) return -1;
    const uint8_t fn = static_cast<uint8_t>(functionCode), addr = static_cast<uint8_t>(address);
    for (int i = 0; i <= length - frameLength; ++i) {
        if (buffer[i] != addr || buffer[i + 1] != fn) continue;
        uint16_t crc = ModbusCrc16(buffer + i, static_cast<uint16_t>(frameLength - 2));
        if (buffer[i + frameLength - 2] == High(crc) && buffer[i + frameLength - 1] == Low(crc))
            return static_cast<int16_t>(i);
    }
    return -1;
}

std::string HexEcho(const uint8_t* bytes, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(length * 4);
    for (size_t i = 0; i < length; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
        out += "\r ";
    }
    return out;
}

// Only a frame from the candidate with a correct CRC is a meter: its answer to the probe,
// or its exception reply. Noise, another slave, or the echo of our own probe by a
// half-duplex adapter is not. For candidates 47 and 239 the echoed probe holds a
// CRC-valid 7-byte frame, so an answer must also carry the byte count of one register.
bool IsProbeAnswer(const uint8_t* buf, int16_t n, uint8_t candidate) {
    constexpr int kReplyLength = ReadRegsReplyLength(1);
    for (int16_t from = 0; from < n;) {
        const int16_t idx =
            FindResponseFrame(buf + from, n - from, kFnReadRegs, candidate, kReplyLength);
        if (idx < 0) break;
        if (buf[from + idx + 2] == 2) return true;
        from = static_cast<int16_t>(from + idx + 1);
    }
    return FindResponseFrame(buf, n, kFnReadRegs | 0x80, candidate, 5) >= 0;
}
