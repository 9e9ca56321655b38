#include "modbus/MeterSettings.h"

#include <iterator>

#include "modbus/Frame.h"

const BaudRate* BaudRateOf(int32_t baud) {
    for (const BaudRate& r : kBaudRates)
        if (r.baud == baud) return &r;
    return nullptr;
}

const char* WiringName(uint16_t code) {
    return code < std::size(kWiringNames) ? kWiringNames[code] : "unknown";
}

ByteBlock RatioWriteFrame(uint8_t address, uint16_t reg, uint32_t ratio) {
    ByteBlock frame(13);
    frame.resize(BuildWriteRegs(frame.data(), address, reg, RatioRegisters(ratio).data(), 2));
    return frame;
}

ByteBlock SettingWriteFrame(uint8_t address, uint16_t reg, uint16_t value) {
    ByteBlock frame(8);
    frame.resize(BuildWriteReg(frame.data(), address, reg, value));
    return frame;
}
