// Measured values as text: the unit ladders and the fixed formats. The output never
// depends on the user's locale: a full stop always, no digit grouping.
#pragma once

#include <string>

enum class Ladder {
    Voltage,
    Current,
    ActivePower,
    ReactivePower,
    ApparentPower,
    ForwardActiveEnergy,
    ReverseActiveEnergy,
    ForwardReactiveEnergy,
    ReverseReactiveEnergy,
};

// The largest step (mega, kilo, base) whose threshold the value strictly exceeds.
std::string FormatQuantity(double value, Ladder ladder);

// printf-style formatting of one double with a format holding exactly one "%.Nf"
// conversion; everything else in the format is copied as it stands ("%%" gives "%").
std::string FormatDouble(const char* format, double value);

std::string FormatPowerFactor(double value);  // "%.4f"
std::string FormatFrequency(double value);    // "%.3f Hz"
