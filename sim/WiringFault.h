// Connection errors between an installation and a meter's inputs, as an installer makes
// them: what the meter's inputs get instead of the installation's voltages and currents.
#pragma once

#include <array>
#include <complex>
#include <optional>
#include <string>
#include <vector>

using Phasor = std::complex<double>;

// What the meter's voltage and current inputs of phases A, B and C get, phase to neutral.
struct MeterInputs {
    std::array<Phasor, 3> v, i;
};

struct WiringFault {
    enum class Kind { CtReversed, CtCrossed, VoltageMissing, PtReversed };
    Kind kind;
    int phase;      // 0 A, 1 B, 2 C
    int other = 0;  // ct-crossed: the phase whose current input is swapped with phase's
};

// ct-reversed:X, ct-crossed:X,Y, voltage-missing:X or pt-reversed:X, with X and Y one of
// A, B, C (either case); nothing, and the reason in error, for anything else.
std::optional<WiringFault> ParseWiringFault(const std::string& text, std::string& error);

// The faults one after another, in the order given.
void ApplyWiringFaults(MeterInputs& in, const std::vector<WiringFault>& faults);
