// One phasor model of an installation's voltages and currents, and what a meter wired to it
// measures: its measurement registers 0x00-0x1F, on the secondary side.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/WiringFault.h"

// One phase on the meter's secondary side. powerFactor: positive for a lagging (inductive)
// load, negative for a leading (capacitive) one.
struct PhaseLoad {
    double volts = 0, amps = 0, powerFactor = 1;
};

struct Installation {
    std::array<PhaseLoad, 3> phases;
    int wiring = 0;                   // the meter's wiring-mode code, 0-5 (register 0x0301)
    std::vector<WiringFault> faults;  // between the installation and the meter's inputs
};

// Multiplies the phase currents by 1+u, 1 and 1-u: a current unbalance of u (0-1) by the
// NEMA definition, the largest deviation from the mean over the mean.
void UnbalanceCurrents(Installation& in, double u);

// The inputs' phasors before any fault: V_a at 0°, positive sequence (split phase: V_b at
// 180°), each current lagging its voltage by acos(PF).
MeterInputs TrueInputs(const Installation& in);

// One phase group in physical units: for a measuring element the power of its voltage and
// current.
struct GroupReading {
    double volts = 0, lineVolts = 0, amps = 0;
    Phasor power;  // P + jQ = V conj(I); its magnitude is the apparent power |V||I|
};

struct MeterReading {
    std::array<GroupReading, 3> groups;
    double zeroSequenceAmps = 0, meanVolts = 0, meanAmps = 0;
    Phasor power;         // total P + jQ
    double apparent = 0;  // total S
};

// What the meter measures from what its inputs get, faults applied, in its wiring mode.
MeterReading Measure(const Installation& in);

// Registers 0x00-0x1F as the meter holds them, active and reactive power divided by
// urgFactor; a power factor is P/S, 0 where S is 0.
constexpr int kMeasuredRegisters = 0x20;
std::array<uint16_t, kMeasuredRegisters> MeasurementRegisters(const MeterReading& r, double hertz,
                                                              int urgFactor);
