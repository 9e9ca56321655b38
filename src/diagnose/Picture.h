// A meter's reading as the checks see it: per phase, per line and in total, with what its
// wiring mode makes of the phase groups and the registers' resolution at its settings.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "measure/MeasurementBlock.h"

// What the checks need besides the values: the meter's wiring mode and ratios.
struct MeterSnapshot {
    MeasurementValues values{};
    uint16_t wiring = 0;
    uint32_t pt = 1, ct = 1;
    int32_t urgFactor = 1;
};

struct DiagnoseSettings {
    std::optional<double> nominalVoltage;  // primary; the line voltage in three-wire modes
    std::optional<int> frequency;          // 50 or 60; nearest of the two when not given
};

// From the texts of --nominal-voltage and --frequency (empty: not given); false and the
// option's own words in error when one is no such value.
bool ParseDiagnoseSettings(const std::string& nominal, const std::string& frequency,
                           DiagnoseSettings& out, std::string& error);

// How the meter measures in its wiring mode.
enum class Layout {
    FourWire,     // codes 0 and 5: three phase voltages against the neutral
    ThreeWire,    // codes 2 and 3: two elements with phase b as reference, line voltages only
    SinglePhase,  // code 1: phase a alone
    SplitPhase,   // code 4: phases a and b of a centre-tapped supply
};
Layout LayoutOf(uint16_t wiring);  // four-wire for a code outside the table

struct PhaseValues {
    double v, i, p, q, s, pf;
};

struct Picture {
    Layout layout;
    PhaseValues phase[3];
    double line[3];  // ab, bc, ca
    double pTotal, qTotal, sTotal, pfTotal, frequency;
    uint32_t pt, ct;
    int32_t urg;

    // The phase groups the meter fills in its mode: its phases, or its two elements.
    std::vector<int> PowerPhases() const;
    // The voltages the voltage checks compare: phase voltages, or line voltages in
    // three-wire; as indices into phase[] or line[] (VoltagesAreLines()).
    std::vector<int> VoltageIndices() const;
    bool VoltagesAreLines() const { return layout == Layout::ThreeWire; }
    double Voltage(int k) const { return VoltagesAreLines() ? line[k] : phase[k].v; }

    double SecondaryCurrent(int k) const { return phase[k].i / ct; }
    double SecondaryVoltage(int k) const { return Voltage(k) / pt; }
    // One count of the power registers, and of the apparent-power registers, in W and VA.
    double PowerStep() const { return double(pt) * ct * urg / 10; }
    double ApparentStep() const { return double(pt) * ct / 5; }
};

Picture PictureOf(const MeterSnapshot& m);

const char* PhaseName(int k);  // "a", "b", "c"
const char* LineName(int k);   // "ab", "bc", "ca"
// The phase angle atan2(Q, P) of a phase group, in degrees (-180, 180].
double AngleDeg(const PhaseValues& ph);
double WrapDeg(double deg);  // into (-180, 180]
