#include "sim/MeterModel.h"

#include <algorithm>
#include <cmath>

#include "modbus/Crc.h"
#include "modbus/Frame.h"

namespace {

constexpr int kBauds[] = {1200, 2400, 4800, 9600, 19200};

uint16_t Word(const ByteBlock& b, size_t at) {
    return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

void PutWord(ByteBlock& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v & 0xFF));
}

void PutCrc(ByteBlock& b) {
    uint16_t crc = ModbusCrc16(b.data(), static_cast<uint16_t>(b.size()));
    PutWord(b, crc);
}

}  // namespace

MeterModel::MeterModel() {
    m_param[0x00] = 1;      // address
    m_param[0x03] = 3;      // 9600 bit/s
    m_param[0x07] = 1;      // PT
    m_param[0x09] = 1;      // CT
    m_settingA[0] = 26400;  // voltage limits, 264.00 V and 176.00 V
    m_settingA[1] = 17600;
    m_settingA[2] = 60000;  // current limits, 6.0000 A and 0.1000 A
    m_settingA[3] = 1000;
    ComputeMeasurements(0);
}

int MeterModel::Baud() const {
    return m_param[0x03] < 5 ? kBauds[m_param[0x03]] : 9600;
}

void MeterModel::SetBaud(int baud) {
    for (uint16_t code = 0; code < 5; ++code)
        if (kBauds[code] == baud) m_param[0x03] = code;
}

LineSettings MeterModel::Line() const {
    LineSettings s;
    s.baud = Baud();
    s.parity = ParityCode() == 1   ? LineSettings::Parity::Odd
               : ParityCode() == 2 ? LineSettings::Parity::Even
                                   : LineSettings::Parity::None;
    s.stopBits = ParityCode() == 0 ? LineSettings::StopBits::Two : LineSettings::StopBits::One;
    return s;
}

int MeterModel::UrgFactor() const {
    return (m_param[0x05] & 0xFF) == 1 ? 4 : 1;
}

double MeterModel::EnergyDivisor() const {
    const int e = m_param[0x06] & 0xFF;
    return double(m_param[0x07]) * m_param[0x09] * (e < 7 ? std::pow(10.0, e) : 1.0);
}

void MeterModel::AdvanceTo(uint64_t ms) {
    if (m_frozen) return;
    const double hours = (ms > m_lastMs ? ms - m_lastMs : 0) / 3600000.0;
    m_lastMs = ms;
    ComputeMeasurements(ms / 1000.0);
    // The counters run in primary units: what the console shows as active and reactive
    // power (PT x CT x Urg factor applied) integrates into what it shows as energy.
    const double ratio = double(m_param[0x07]) * m_param[0x09];
    const double p = m_secondaryP * ratio, q = m_secondaryQ * ratio;
    m_energy[0] += std::fmax(p, 0) * hours;
    m_energy[1] += std::fmax(-p, 0) * hours;
    m_energy[2] += std::fmax(q, 0) * hours;
    m_energy[3] += std::fmax(-q, 0) * hours;
    WriteEnergyRegisters();
}

// The registers hold the primary counters divided by PT, CT and the energy exponent, as
// the console multiplies them back.
void MeterModel::WriteEnergyRegisters() {
    for (int k = 0; k < 4; ++k) {
        const double primary = 123456.0 + 1000 * k + m_energy[k];
        const auto raw = static_cast<uint32_t>(std::fmin(primary / EnergyDivisor(), 4294967295.0));
        m_meas[0x21 + 2 * k] = static_cast<uint16_t>(raw & 0xFFFF);
        m_meas[0x22 + 2 * k] = static_cast<uint16_t>(raw >> 16);
    }
}

// About 220 V phase, 380 V line, 4 A, power factor about 0.95, 50 Hz on the secondary side,
// changing slowly, unless SetLoad and SetCurrent fix the load or take it away.
Installation MeterModel::InstallationAt(double t) const {
    Installation in;
    in.wiring = m_param[0x01];
    in.faults = m_wiringFaults;
    for (int ph = 0; ph < 3; ++ph) {
        PhaseLoad& p = in.phases[ph];
        p.volts = 220.0 + 2.5 * m_variant + 0.8 * std::sin(t / 7.0 + ph);
        p.amps =
            m_current == 0 ? 0 : m_current + 0.5 * m_variant + 0.3 * std::sin(t / 5.0 + 2 * ph);
        p.powerFactor = m_loadPowerFactor.value_or(0.95 + 0.02 * std::sin(t / 11.0 + ph));
    }
    UnbalanceCurrents(in, m_unbalancePercent / 100);
    return in;
}

// Raw values as the meter sends them before the console's PT and CT scaling; the totals the
// meter sees also run the energy counters.
void MeterModel::ComputeMeasurements(double t) {
    const MeterReading r = Measure(InstallationAt(t));
    const auto registers = MeasurementRegisters(r, 50.0 + 0.01 * std::sin(t / 3.0), UrgFactor());
    std::copy(registers.begin(), registers.end(), m_meas);
    m_secondaryP = r.power.real(), m_secondaryQ = r.power.imag();
}

std::optional<uint16_t> MeterModel::Readable(uint16_t reg) const {
    if (reg < 45) return m_meas[reg];
    if (reg >= 0x0300 && reg < 0x0313) return m_param[reg - 0x0300];
    if (reg >= 0x0328 && reg < 0x032C) return m_settingA[reg - 0x0328];
    if (reg == 0x0322) return m_settingB;
    return std::nullopt;
}

uint16_t MeterModel::Register(uint16_t reg) const {
    return Readable(reg).value_or(0);
}

uint8_t MeterModel::WriteRegister(uint16_t reg, uint16_t value) {
    if (reg >= 0x2C) return 0x02;
    switch (reg) {
        case 0x0000:
            if (value > 255) return 0x03;
            break;  // the address changes after the reply
        case 0x0002:
            if (value > 5) return 0x03;
            m_param[0x01] = value;
            break;
        case 0x0006:
            if (value > 2) return 0x03;
            break;
        case 0x0008:
            if (value > 4) return 0x03;
            break;
        case 0x000E:
            if (value == 0) return 0x03;
            m_param[0x07] = value;
            break;
        case 0x0012:
            if (value == 0) return 0x03;
            m_param[0x09] = value;
            break;
        case 0x0022:
            m_param[0x10] = value;
            break;
        case 0x0028:
        case 0x0029:
        case 0x002A:
        case 0x002B:
            m_settingA[reg - 0x0028] = value;
            break;
        default:
            break;
    }
    m_writeSpace[reg] = value;
    lastWritten[reg] = value;
    ++writesSeen;
    return 0;
}

ByteBlock MeterModel::Exception(uint8_t function, uint8_t code) const {
    const uint8_t me = answersAt >= 0 ? static_cast<uint8_t>(answersAt) : Address();
    ByteBlock b = {me, static_cast<uint8_t>(function | 0x80), code};
    PutCrc(b);
    return b;
}

std::optional<ByteBlock> MeterModel::Handle(const ByteBlock& req) {
    if (req.size() < 4) return std::nullopt;
    const uint8_t addr = req[0], fn = req[1];
    const uint8_t me = answersAt >= 0 ? static_cast<uint8_t>(answersAt) : Address();
    if (addr != me && addr != 0) return std::nullopt;
    ByteBlock reply = {me, fn};
    // Settings that move the line (address, baud rate, parity) take effect after the reply.
    std::optional<uint16_t> newAddress, newBaudCode, newParity;
    auto note = [&](uint16_t reg, uint16_t v) {
        if (reg == 0x0000) newAddress = v;
        if (reg == 0x0008) newBaudCode = v;
        if (reg == 0x0006) newParity = v;
    };
    if (fn == kFnReadRegs && req.size() == 8) {
        uint16_t start = Word(req, 2), count = Word(req, 4);
        if (count == 0 || count > 125) return Exception(fn, 0x03);
        reply.push_back(static_cast<uint8_t>(2 * count));
        for (uint16_t k = 0; k < count; ++k) {
            auto v = Readable(static_cast<uint16_t>(start + k));
            if (!v) return Exception(fn, 0x02);
            PutWord(reply, *v);
        }
    } else if (fn == kFnWriteReg && req.size() == 8) {
        uint16_t reg = Word(req, 2), v = Word(req, 4);
        if (uint8_t e = WriteRegister(reg, v)) return Exception(fn, e);
        note(reg, v);
        reply.assign(req.begin(), req.begin() + 6);
    } else if (fn == kFnWriteRegs && req.size() >= 9 && req.size() == 9u + req[6]) {
        uint16_t start = Word(req, 2), count = Word(req, 4);
        if (req[6] != 2 * count) return Exception(fn, 0x03);
        for (uint16_t k = 0; k < count; ++k) {
            uint16_t reg = static_cast<uint16_t>(start + k), v = Word(req, 7 + 2 * k);
            if (uint8_t e = WriteRegister(reg, v)) return Exception(fn, e);
            note(reg, v);
        }
        reply.assign(req.begin(), req.begin() + 6);
    } else {
        return Exception(fn, 0x01);
    }
    PutCrc(reply);
    if (newAddress) m_param[0x00] = *newAddress;
    if (newBaudCode) m_param[0x03] = *newBaudCode;
    if (newParity) m_param[0x02] = *newParity;
    if (addr == 0 && me != 0) return std::nullopt;  // a broadcast, unless 0 is the meter's own
    return reply;
}
