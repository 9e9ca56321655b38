#include "diagnose/Checks.h"

#include <charconv>
#include <cmath>

#include "diagnose/CheckContext.h"

namespace {

void CheckLoad(CheckContext& c) {
    std::vector<std::pair<std::string, double>> evidence;
    bool any = false;
    for (int k : c.pic.PowerPhases()) {
        evidence.push_back({std::string("current_") + PhaseName(k), c.pic.phase[k].i});
        any = any || c.pic.SecondaryCurrent(k) >= kLoadSecondaryA;
    }
    if (any) return;
    c.noLoad = true;
    c.Add("no-load", Severity::Info, {}, std::move(evidence),
          "All currents are near zero: the polarity and current checks need load and were not "
          "made; repeat the check with load on the feeder.");
}

void CheckCurrentUnbalance(CheckContext& c) {
    if (c.noLoad || c.pic.layout == Layout::SinglePhase) return;
    std::vector<int> phases = c.pic.PowerPhases();
    // A three-wire meter derives phase b's current; it counts when it shows one.
    if (c.pic.layout == Layout::ThreeWire && c.pic.phase[1].i > 0) phases = {0, 1, 2};
    std::vector<double> currents;
    std::vector<std::pair<std::string, double>> evidence;
    for (int k : phases) {
        currents.push_back(c.pic.phase[k].i);
        evidence.push_back({std::string("current_") + PhaseName(k), c.pic.phase[k].i});
    }
    const double u = UnbalancePercent(currents);
    if (!(u > 20)) return;
    evidence.push_back({"unbalance_percent", u});
    c.Add("current-unbalance", Severity::Warning, {}, std::move(evidence),
          "The currents differ by " + Fixed(u, 1) +
              " % from their mean: check how the load is spread over the phases, and the CT "
              "and its connections on the phase that stands out.");
}

void CheckFrequency(CheckContext& c) {
    bool live = false;
    for (int k : c.pic.VoltageIndices())
        live = live || c.pic.SecondaryVoltage(k) >= kLiveSecondaryV;
    const double f = c.pic.frequency;
    if (!live || std::isnan(f)) return;  // nothing to measure the frequency of
    const double nominal = c.settings.frequency ? *c.settings.frequency
                                                : (std::fabs(f - 60) < std::fabs(f - 50) ? 60 : 50);
    const double dev = (f / nominal - 1) * 100;
    const Severity sev = dev > 4 || dev < -6  ? Severity::Fault
                         : std::fabs(dev) > 1 ? Severity::Warning
                                              : Severity::Info;
    if (sev == Severity::Info) return;
    c.Add("frequency", sev, {},
          {{"frequency", f}, {"nominal_frequency", nominal}, {"deviation_percent", dev}},
          "The frequency reads " + Fixed(f, 2) + " Hz against " + Fixed(nominal, 0) +
              " Hz: on a public grid this is the supply's matter; on a generator, check its "
              "governor.");
}

}  // namespace

std::vector<Finding> CheckReading(const MeterSnapshot& meter, const DiagnoseSettings& settings) {
    const Picture pic = PictureOf(meter);
    CheckContext c{pic, settings, {}};
    CheckLoad(c);
    CheckVoltages(c);
    if (!c.noLoad) CheckPolarity(c);
    CheckCurrentUnbalance(c);
    CheckFrequency(c);
    CheckConsistency(c);
    return std::move(c.found);
}

Finding EnergyBackwardsFinding(const QuantityInfo& counter, double before, double now) {
    return {"energy-backwards",
            Severity::Fault,
            {},
            {{std::string(counter.key) + "_before", before}, {counter.key, now}},
            std::string("The counter ") + counter.key + " went down from " + Fixed(before, 0) +
                " to " + Fixed(now, 0) +
                ": a counter only rises, so the meter was reset or replaced, or its energy "
                "settings changed; check the meter and its records.",
            0};
}

std::vector<Finding> EnergyBackwards(const MeasurementValues& before,
                                     const MeasurementValues& now) {
    std::vector<Finding> out;
    for (int k = 0; k < kQuantityCount; ++k)
        if (InfoOf(Quantities()[k].kind).counter() && now[k] < before[k])
            out.push_back(EnergyBackwardsFinding(Quantities()[k], before[k], now[k]));
    return out;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    const auto r =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return std::string(text, r.ptr);
}

double UnbalancePercent(const std::vector<double>& values) {
    if (values.empty()) return 0;
    double mean = 0;
    for (double v : values) mean += v / values.size();
    if (!(mean > 0)) return 0;
    double worst = 0;
    for (double v : values) worst = std::fmax(worst, std::fabs(v - mean));
    return worst / mean * 100;
}
