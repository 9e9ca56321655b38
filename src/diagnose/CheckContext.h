// What the checks of one reading share: the picture, the settings, the findings so far and
// what they explain, so that one fault is reported once and not again by its side effects.
#pragma once

#include <string>
#include <vector>

#include "diagnose/Checks.h"

// A phase carries load when its secondary current reaches 2 % of a 1 A transformer's (0.4 %
// of a 5 A one's): below it the phase angle says nothing.
constexpr double kLoadSecondaryA = 0.02;
// Below this secondary voltage a meter has nothing to measure against.
constexpr double kLiveSecondaryV = 10;

struct CheckContext {
    const Picture& pic;
    const DiagnoseSettings& settings;
    std::vector<Finding> found;
    bool voltageMissing[3] = {}, voltageReversed[3] = {};
    bool noLoad = false;

    void Add(const char* code, Severity severity, std::vector<std::string> phases,
             std::vector<std::pair<std::string, double>> evidence, std::string advice) {
        found.push_back(
            {code, severity, std::move(phases), std::move(evidence), std::move(advice), 0});
    }
    bool Found(const std::string& code) const {
        for (const Finding& f : found)
            if (f.code == code) return true;
        return false;
    }
    // Under load, with a voltage of its own that is the right way round: its angle counts.
    bool AngleCounts(int k) const {
        return pic.SecondaryCurrent(k) >= kLoadSecondaryA && !voltageMissing[k] &&
               !voltageReversed[k] && pic.phase[k].s > 0;
    }
};

void CheckVoltages(CheckContext& c);
void CheckPolarity(CheckContext& c);
void CheckConsistency(CheckContext& c);

// Largest deviation from the mean over the mean, in percent (NEMA, IEEE 1159).
double UnbalancePercent(const std::vector<double>& values);
