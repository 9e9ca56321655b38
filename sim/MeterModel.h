// A KX880 as a Modbus RTU slave: its measurement block, parameter block, setting blocks and
// the registers its configuration writes go to. Register map: sim/README.md.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "serial/SerialDevice.h"
#include "sim/Phasors.h"

class MeterModel {
  public:
    MeterModel();

    // The meter's own settings.
    uint8_t Address() const { return static_cast<uint8_t>(m_param[0x00] & 0xFF); }
    int Baud() const;                                 // from the baud-rate code
    int ParityCode() const { return m_param[0x02]; }  // 0 none, 1 odd, 2 even
    LineSettings Line() const;                        // what the meter's UART runs with
    void SetAddress(uint8_t a) { m_param[0x00] = a; }
    void SetBaud(int baud);
    void SetParityCode(int code) { m_param[0x02] = static_cast<uint16_t>(code); }
    void SetPt(uint16_t pt) { m_param[0x07] = pt; }
    void SetCt(uint16_t ct) { m_param[0x09] = ct; }
    void SetWiring(uint16_t w) { m_param[0x01] = w; }
    void SetClass(uint16_t c) { m_param[0x10] = c; }
    void SetUrgFlag(uint16_t f) { m_param[0x05] = m_param[0x0A] = f; }
    void SetEnergyExponent(uint16_t e) { m_param[0x06] = e; }
    int UrgFactor() const;         // 4 when the Urg flag is 1
    double EnergyDivisor() const;  // PT x CT x 10^exponent: primary Wh per register count
    void SetSettingA(int k, uint16_t v) { m_settingA[k] = v; }

    // Measurements follow the time (slowly changing three-phase values) unless frozen; the
    // settings above take effect on them at the next AdvanceTo.
    void AdvanceTo(uint64_t ms);
    void Freeze(bool frozen) { m_frozen = frozen; }
    // Meters on one bus differ: variant k shifts voltages by 2.5 V and currents by 0.5 A per k.
    void SetVariant(int k) { m_variant = k, ComputeMeasurements(m_lastMs / 1000.0); }
    // The installation measured, also at the next AdvanceTo: the load's power factor
    // (positive lagging, negative leading; none: about 0.95 lagging, varying), the current
    // unbalance in percent (NEMA), the current per phase before its variation (0: no load),
    // and the wiring faults between installation and meter, applied in the order added.
    void SetLoad(std::optional<double> powerFactor) { m_loadPowerFactor = powerFactor; }
    void SetUnbalancePercent(double percent) { m_unbalancePercent = percent; }
    void SetCurrent(double amps) { m_current = amps; }
    void AddWiringFault(const WiringFault& f) { m_wiringFaults.push_back(f); }
    void SetMeasurement(int reg, uint16_t value) { m_meas[reg] = value; }
    uint16_t Measurement(int reg) const { return m_meas[reg]; }
    // The two limit-status bytes the meter sends behind a measurement response.
    uint8_t voltageStatus = 0, currentStatus = 0;
    uint16_t Register(uint16_t reg) const;  // any readable register; 0 for others

    // The reply to one request frame whose CRC is correct, or nothing when it is not for
    // this meter (another address; 0 is a broadcast: acted on, never answered).
    std::optional<ByteBlock> Handle(const ByteBlock& request);

    // The address the meter answers at when its register 0x0300 says something else (a
    // meter whose parameter block disagrees with its line address); -1: the register's.
    int answersAt = -1;

    // Writes seen, in order, for tests: register and value.
    std::map<uint16_t, uint16_t> lastWritten;
    int writesSeen = 0;

  private:
    std::optional<uint16_t> Readable(uint16_t reg) const;
    uint8_t WriteRegister(uint16_t reg, uint16_t value);  // 0, or an exception code
    ByteBlock Exception(uint8_t function, uint8_t code) const;
    Installation InstallationAt(double seconds) const;
    void ComputeMeasurements(double seconds);
    void WriteEnergyRegisters();

    uint16_t m_meas[45] = {};
    uint16_t m_param[19] = {};
    uint16_t m_settingA[4] = {};
    uint16_t m_settingB = 0;
    uint16_t m_writeSpace[0x2C] = {};  // what the configuration writes went to
    bool m_frozen = false;
    int m_variant = 0;
    std::optional<double> m_loadPowerFactor;
    double m_unbalancePercent = 0;
    double m_current = 4;
    std::vector<WiringFault> m_wiringFaults;
    double m_energy[4] = {};                    // primary Wh, varh since the start
    double m_secondaryP = 0, m_secondaryQ = 0;  // total W, var before any scaling
    uint64_t m_lastMs = 0;
};
