// The wiring and plausibility checks: pure functions of a meter's readings, its wiring mode
// and its settings. Rules and thresholds: docs/diagnostics.md.
#pragma once

#include <vector>

#include "diagnose/Finding.h"
#include "diagnose/Picture.h"

// What one reading shows.
std::vector<Finding> CheckReading(const MeterSnapshot& meter, const DiagnoseSettings& settings);

// A counter that went down from one reading to the next: energy-backwards, one finding per
// counter. Counters not known (NaN) on either side are not compared.
Finding EnergyBackwardsFinding(const QuantityInfo& counter, double before, double now);
std::vector<Finding> EnergyBackwards(const MeasurementValues& before, const MeasurementValues& now);

// A number for a sentence, the same in every locale.
std::string Fixed(double value, int decimals);
