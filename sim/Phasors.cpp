#include "sim/Phasors.h"

#include <cmath>
#include <numbers>

namespace {

constexpr double kDegree = std::numbers::pi / 180;
enum Wiring {
    kSinglePhase = 1,  // 2-wire: phase A alone
    kThreeWireUnbalanced = 2,
    kThreeWireBalanced = 3,
    kSplitPhase = 4,  // single-phase 3-wire: the two halves of a centre-tapped supply
};

int PhaseCount(int wiring) {
    return wiring == kSinglePhase ? 1 : wiring == kSplitPhase ? 2 : 3;
}

// How far a current lags its voltage: acos(PF), negative for a leading load.
double Lag(double powerFactor) {
    const double pf = std::fmin(std::fabs(powerFactor), 1.0);
    return powerFactor < 0 ? -std::acos(pf) : std::acos(pf);
}

GroupReading Element(Phasor v, Phasor i) {
    return {0, 0, std::abs(i), v * std::conj(i)};
}

GroupReading Phase(const MeterInputs& m, int ph) {
    GroupReading g = Element(m.v[ph], m.i[ph]);
    g.volts = std::abs(m.v[ph]);
    return g;
}

// Totals, means and the neutral's current over the first `phases` phase groups.
void SumPhases(MeterReading& r, const MeterInputs& m, int phases) {
    Phasor neutral;
    for (int ph = 0; ph < phases; ++ph) {
        const GroupReading& g = r.groups[ph];
        r.power += g.power, r.apparent += std::abs(g.power);
        r.meanVolts += g.volts / phases, r.meanAmps += g.amps / phases;
        neutral += m.i[ph];
    }
    r.zeroSequenceAmps = std::abs(neutral);
}

MeterReading FourWire(const MeterInputs& m) {
    MeterReading r;
    // The A group holds V_ca, B V_ab, C V_bc.
    for (int ph = 0; ph < 3; ++ph) {
        r.groups[ph] = Phase(m, ph);
        r.groups[ph].lineVolts = std::abs(m.v[(ph + 2) % 3] - m.v[ph]);
    }
    SumPhases(r, m, 3);
    return r;
}

// Two elements with phase B as reference: V_ab with I_a, V_cb with I_c; no neutral, so no
// phase voltages, and the meter takes I_b as -(I_a + I_c).
MeterReading ThreeWire(const MeterInputs& m) {
    MeterReading r;
    r.groups[0] = Element(m.v[0] - m.v[1], m.i[0]);
    r.groups[1].amps = std::abs(m.i[0] + m.i[2]);
    r.groups[2] = Element(m.v[2] - m.v[1], m.i[2]);
    for (int ph = 0; ph < 3; ++ph) {
        r.groups[ph].lineVolts = std::abs(m.v[(ph + 2) % 3] - m.v[ph]);
        r.meanAmps += r.groups[ph].amps / 3;
    }
    r.power = r.groups[0].power + r.groups[2].power;
    r.apparent = std::abs(r.power);
    return r;
}

MeterReading SinglePhase(const MeterInputs& m) {
    MeterReading r;
    r.groups[0] = Phase(m, 0);
    SumPhases(r, m, 1);
    return r;
}

MeterReading SplitPhase(const MeterInputs& m) {
    MeterReading r;
    r.groups[0] = Phase(m, 0);
    r.groups[1] = Phase(m, 1);
    r.groups[1].lineVolts = std::abs(m.v[0] - m.v[1]);  // end to end, twice a half
    SumPhases(r, m, 2);
    return r;
}

uint16_t Clamp16(double v) {
    return static_cast<uint16_t>(std::lround(std::fmin(std::fmax(v, 0), 65535)));
}
uint16_t Signed16(double v) {
    return static_cast<uint16_t>(
        static_cast<int16_t>(std::lround(std::fmin(std::fmax(v, -32768), 32767))));
}

// P, PF, Q, S: the layout of a phase group's +4..+7 and of the totals at 0x1C..0x1F.
void PutPowers(Phasor power, double apparent, int urgFactor, uint16_t* out) {
    out[0] = Signed16(power.real() * 10 / urgFactor);
    out[1] = Signed16(apparent > 0 ? power.real() / apparent * 10000 : 0);
    out[2] = Signed16(power.imag() * 10 / urgFactor);
    out[3] = Clamp16(apparent * 5);
}

}  // namespace

void UnbalanceCurrents(Installation& in, double u) {
    in.phases[0].amps *= 1 + u;
    in.phases[2].amps *= 1 - u;
}

MeterInputs TrueInputs(const Installation& in) {
    const bool split = in.wiring == kSplitPhase;
    const double angles[3] = {0, split ? 180 * kDegree : -120 * kDegree, 120 * kDegree};
    MeterInputs m;
    for (int ph = 0; ph < PhaseCount(in.wiring); ++ph) {
        const PhaseLoad& p = in.phases[ph];
        m.v[ph] = std::polar(std::fmax(p.volts, 0.0), angles[ph]);
        m.i[ph] = std::polar(std::fmax(p.amps, 0.0), angles[ph] - Lag(p.powerFactor));
    }
    return m;
}

MeterReading Measure(const Installation& in) {
    MeterInputs m = TrueInputs(in);
    ApplyWiringFaults(m, in.faults);
    switch (in.wiring) {
        case kSinglePhase:
            return SinglePhase(m);
        case kThreeWireUnbalanced:
        case kThreeWireBalanced:
            return ThreeWire(m);
        case kSplitPhase:
            return SplitPhase(m);
        default:
            return FourWire(m);
    }
}

std::array<uint16_t, kMeasuredRegisters> MeasurementRegisters(const MeterReading& r, double hertz,
                                                              int urgFactor) {
    std::array<uint16_t, kMeasuredRegisters> out{};
    for (int ph = 0; ph < 3; ++ph) {
        const GroupReading& g = r.groups[ph];
        uint16_t* group = out.data() + 8 * ph;
        group[0] = Clamp16(g.volts * 100);
        group[1] = Clamp16(g.lineVolts * 100);
        group[2] = Clamp16(g.amps * 10000);
        PutPowers(g.power, std::abs(g.power), urgFactor, group + 4);
    }
    out[0x18] = Clamp16(r.zeroSequenceAmps * 10000);
    out[0x19] = Clamp16(r.meanVolts * 100);
    out[0x1A] = Clamp16(r.meanAmps * 10000);
    out[0x1B] = Clamp16(hertz / 0.00106813);
    PutPowers(r.power, r.apparent, urgFactor, out.data() + 0x1C);
    return out;
}
