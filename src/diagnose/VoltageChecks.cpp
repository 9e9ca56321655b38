// Voltage taps: a missing or reversed one, line voltages that do not follow from the phase
// voltages, unbalance, and the voltage against its nominal.
#include <algorithm>
#include <cmath>

#include "diagnose/CheckContext.h"

namespace {

using Evidence = std::vector<std::pair<std::string, double>>;

// The lines through each phase, and the line the phase is not on.
constexpr int kLinesOf[3][2] = {{0, 2}, {0, 1}, {1, 2}};  // a: ab, ca; b: ab, bc; c: bc, ca
constexpr int kLineWithout[3] = {1, 2, 0};                // a: bc; b: ca; c: ab
constexpr int kEnds[3][2] = {{0, 1}, {1, 2}, {2, 0}};     // ab, bc, ca

// |Vx - Vy| for two phasors 120 degrees apart, and for one of them turned round (60 degrees).
double LineOf(double x, double y) {
    return std::sqrt(x * x + y * y + x * y);
}
double LineWithOneReversed(double x, double y) {
    return std::sqrt(x * x + y * y - x * y);
}
bool Near(double value, double expected, double tolerance) {
    return expected > 0 && std::fabs(value / expected - 1) <= tolerance;
}

std::string VoltageKey(const Picture& pic, int k) {
    return pic.VoltagesAreLines() ? std::string("line_voltage_") + LineName(k)
                                  : std::string("voltage_") + PhaseName(k);
}
std::string Where(const Picture& pic, int k) {
    return pic.VoltagesAreLines() ? LineName(k) : PhaseName(k);
}

// Four-wire and split phase: a phase far below the others has lost its tap.
void CheckMissing(CheckContext& c) {
    const std::vector<int> phases = c.pic.PowerPhases();
    if (phases.size() < 2) return;
    for (int x : phases) {
        std::vector<double> others;
        for (int y : phases)
            if (y != x) others.push_back(c.pic.phase[y].v);
        std::sort(others.begin(), others.end());
        const size_t n = others.size();
        const double median = n % 2 ? others[n / 2] : (others[n / 2 - 1] + others[n / 2]) / 2;
        if (median / c.pic.pt < kLiveSecondaryV || !(c.pic.phase[x].v < 0.2 * median)) continue;
        c.voltageMissing[x] = true;
        const std::string p = PhaseName(x);
        c.Add("voltage-missing", Severity::Fault, {p},
              {{"voltage_" + p, c.pic.phase[x].v}, {"others_median", median}},
              "No voltage reaches the meter on phase " + p +
                  ": check its voltage tap, fuse or PT and the meter's voltage terminal.");
    }
}

// Four-wire: a phase voltage connected the wrong way round makes both lines through it
// read about one phase voltage instead of the square root of three times it.
void CheckReversed(CheckContext& c) {
    if (c.Found("voltage-missing")) return;
    const PhaseValues* ph = c.pic.phase;
    // Line l seen from phase x: the voltage at its other end.
    auto far = [&](int l, int x) { return ph[kEnds[l][0] == x ? kEnds[l][1] : kEnds[l][0]].v; };
    for (int x = 0; x < 3; ++x) {
        const int l1 = kLinesOf[x][0], l2 = kLinesOf[x][1], other = kLineWithout[x];
        const bool throughX = Near(c.pic.line[l1], LineWithOneReversed(ph[x].v, far(l1, x)), 0.1) &&
                              Near(c.pic.line[l2], LineWithOneReversed(ph[x].v, far(l2, x)), 0.1);
        const bool rest =
            Near(c.pic.line[other], LineOf(ph[kEnds[other][0]].v, ph[kEnds[other][1]].v), 0.1);
        if (!throughX || !rest) continue;
        c.voltageReversed[x] = true;
        const std::string p = PhaseName(x);
        c.Add("pt-reversed", Severity::Fault, {p},
              {{"voltage_" + p, ph[x].v},
               {std::string("line_voltage_") + LineName(l1), c.pic.line[l1]},
               {std::string("line_voltage_") + LineName(l2), c.pic.line[l2]},
               {std::string("line_voltage_") + LineName(other), c.pic.line[other]}},
              "The voltage of phase " + p +
                  " reaches the meter the wrong way round: swap the two leads of its PT "
                  "secondary, or check its tap and the neutral at the meter's terminals.");
    }
}

void CheckLineVoltages(CheckContext& c) {
    if (c.Found("voltage-missing") || c.Found("pt-reversed")) return;
    std::vector<std::string> lines;
    Evidence evidence;
    for (int l = 0; l < 3; ++l) {
        const double expected = LineOf(c.pic.phase[kEnds[l][0]].v, c.pic.phase[kEnds[l][1]].v);
        if (expected / c.pic.pt < kLiveSecondaryV || Near(c.pic.line[l], expected, 0.05)) continue;
        lines.push_back(LineName(l));
        evidence.push_back({std::string("line_voltage_") + LineName(l), c.pic.line[l]});
        evidence.push_back({std::string("expected_") + LineName(l), expected});
    }
    if (lines.empty()) return;
    c.Add("line-voltage-mismatch", Severity::Warning, std::move(lines), std::move(evidence),
          "The line voltages do not follow from the phase voltages: check the neutral "
          "connection and the order of the voltage taps (phase sequence).");
}

void CheckUnbalance(CheckContext& c) {
    const std::vector<int> idx = c.pic.VoltageIndices();
    if (idx.size() < 2 || c.Found("voltage-missing")) return;
    std::vector<double> volts;
    Evidence evidence;
    for (int k : idx) {
        volts.push_back(c.pic.Voltage(k));
        evidence.push_back({VoltageKey(c.pic, k), c.pic.Voltage(k)});
    }
    double mean = 0;
    for (double v : volts) mean += v / volts.size();
    const double u = UnbalancePercent(volts);
    if (mean / c.pic.pt < kLiveSecondaryV || !(u > 2)) return;
    evidence.push_back({"unbalance_percent", u});
    c.Add("voltage-unbalance", u > 5 ? Severity::Fault : Severity::Warning, {}, std::move(evidence),
          "The " + std::string(c.pic.VoltagesAreLines() ? "line" : "phase") +
              " voltages differ by " + Fixed(u, 1) +
              " % from their mean: check the voltage connections and fuses, then the supply.");
}

// The standard secondary voltages a nominal is taken from when none is given: phase
// voltages, and in three-wire modes the line voltages they make.
double NearestStandard(double secondary, bool lines) {
    static const double phase[] = {57.7, 63.5, 100, 110, 120, 127, 220, 230, 240, 277};
    double best = phase[0];
    for (double p : phase)
        for (double v : lines ? std::vector<double>{p, p * std::sqrt(3.0)} : std::vector<double>{p})
            if (std::fabs(v - secondary) < std::fabs(best - secondary)) best = v;
    return best;
}

void CheckRange(CheckContext& c) {
    std::vector<int> idx;
    std::vector<double> secondary;
    for (int k : c.pic.VoltageIndices())
        if (c.pic.VoltagesAreLines() || !c.voltageMissing[k])
            idx.push_back(k), secondary.push_back(c.pic.SecondaryVoltage(k));
    if (idx.empty()) return;
    std::sort(secondary.begin(), secondary.end());
    const double nominal =
        c.settings.nominalVoltage
            ? *c.settings.nominalVoltage
            : NearestStandard(secondary[secondary.size() / 2], c.pic.VoltagesAreLines()) * c.pic.pt;
    for (int k : idx) {
        const double v = c.pic.Voltage(k), dev = (v / nominal - 1) * 100;
        const Severity sev = dev > 10 || dev < -15 ? Severity::Fault
                             : dev < -10           ? Severity::Warning
                                                   : Severity::Info;
        if (sev == Severity::Info) continue;
        c.Add("voltage-range", sev, {Where(c.pic, k)},
              {{VoltageKey(c.pic, k), v}, {"nominal_voltage", nominal}, {"deviation_percent", dev}},
              "The voltage " + Where(c.pic, k) + " reads " + Fixed(v, 1) + " V against a nominal " +
                  Fixed(nominal, 1) + " V: check the PT ratio set in the meter (PT " +
                  std::to_string(c.pic.pt) + "), then the supply.");
    }
}

}  // namespace

void CheckVoltages(CheckContext& c) {
    if (c.pic.layout == Layout::FourWire || c.pic.layout == Layout::SplitPhase) CheckMissing(c);
    if (c.pic.layout == Layout::FourWire) {
        CheckReversed(c);
        CheckLineVoltages(c);
    }
    CheckUnbalance(c);
    CheckRange(c);
}
