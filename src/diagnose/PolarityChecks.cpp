// Current transformers: reversed, crossed, or all facing the wrong way, from the phase
// angles atan2(Q, P) under load. A load is taken to draw power at a power factor of 0.5 or
// more; a phase angle far from that is a wiring fault, not a load.
#include <cmath>

#include "diagnose/CheckContext.h"

namespace {

constexpr double kCrossedToleranceDeg = 35;  // around the 120 degrees of a crossed pair
constexpr double kReversedFromDeg = 145;     // at least this far from every sound phase
constexpr double kElementToleranceDeg = 30;  // around the 60 degrees between two elements
constexpr double kLikelyLoadDeg = 20;        // a power factor of 0.94 lagging

std::vector<std::pair<std::string, double>> AngleEvidence(const Picture& pic,
                                                          const std::vector<int>& phases) {
    std::vector<std::pair<std::string, double>> e;
    for (int k : phases) {
        const std::string p = PhaseName(k);
        e.push_back({"active_power_" + p, pic.phase[k].p});
        e.push_back({"angle_" + p + "_deg", AngleDeg(pic.phase[k])});
    }
    return e;
}

// Two CTs on each other's phases turn their phases' angles about +120 and -120 degrees
// from that of the third, sound, phase.
bool CheckCrossed(CheckContext& c, const std::vector<int>& usable) {
    if (usable.size() != 3) return false;
    // The sound phase: the one with a load's angle, the likeliest (lagging a little) when two
    // have one, as at a power factor of 0.5.
    int z = -1;
    for (int k : usable) {
        const double angle = AngleDeg(c.pic.phase[k]);
        if (std::fabs(angle) <= 60 &&
            (z < 0 || std::fabs(angle - kLikelyLoadDeg) <
                          std::fabs(AngleDeg(c.pic.phase[z]) - kLikelyLoadDeg)))
            z = k;
    }
    if (z < 0) return false;
    const double load = AngleDeg(c.pic.phase[z]);
    const int x = (z + 1) % 3, y = (z + 2) % 3;
    const double dx = WrapDeg(AngleDeg(c.pic.phase[x]) - load);
    const double dy = WrapDeg(AngleDeg(c.pic.phase[y]) - load);
    auto near = [](double d, double to) { return std::fabs(d - to) <= kCrossedToleranceDeg; };
    if (!(near(dx, 120) && near(dy, -120)) && !(near(dx, -120) && near(dy, 120))) return false;
    const std::string a = PhaseName(std::min(x, y)), b = PhaseName(std::max(x, y));
    c.Add("ct-crossed", Severity::Fault, {a, b}, AngleEvidence(c.pic, {0, 1, 2}),
          "The CTs of phases " + a + " and " + b +
              " are on each other's phases: trace each CT's secondary to the current "
              "terminals of the phase its primary is on.");
    return true;
}

// Phases measured against their own phase voltage (four-wire, split phase, single phase).
void CheckPhases(CheckContext& c, const std::vector<int>& usable) {
    std::vector<int> negative, positive;
    for (int k : usable) (c.pic.phase[k].p < 0 ? negative : positive).push_back(k);
    if (negative.empty()) return;
    if (positive.empty()) {
        c.Add("all-reversed", Severity::Warning, {}, AngleEvidence(c.pic, usable),
              "Every phase under load reads power flowing back: if the site does not generate, "
              "all CTs face the wrong way (P1 must face the supply); check their orientation.");
        return;
    }
    // One phase against the others: with two negative the signature is no longer one
    // reversed CT (a crossed pair at unequal power factors reads so too).
    if (negative.size() != 1) return;
    const int x = negative[0];
    for (int y : positive)
        if (std::fabs(WrapDeg(AngleDeg(c.pic.phase[x]) - AngleDeg(c.pic.phase[y]))) <
            kReversedFromDeg)
            return;
    const std::string p = PhaseName(x);
    c.Add("ct-reversed", Severity::Fault, {p}, AngleEvidence(c.pic, usable),
          "The CT of phase " + p +
              " is reversed: swap its S1 and S2 leads at the meter, or turn the CT so that "
              "P1 faces the supply (unless a generator feeds this phase alone).");
}

// Three-wire: element a (Uab, Ia) leads element c (Ucb, Ic) by 60 degrees, and the load's
// angle is element a's less 30 degrees, element c's plus 30. One element reads negative
// below a power factor of 0.5: that is the two-wattmeter method, not a fault.
void CheckElements(CheckContext& c) {
    const PhaseValues &a = c.pic.phase[0], &cc = c.pic.phase[2];
    if (!c.AngleCounts(0) || !c.AngleCounts(2)) return;
    const double ta = AngleDeg(a), tc = AngleDeg(cc), d = WrapDeg(ta - tc);
    if (std::fabs(d - 60) <= kElementToleranceDeg) {
        const double load =
            std::atan2(std::sin((ta - 30) * M_PI / 180) + std::sin((tc + 30) * M_PI / 180),
                       std::cos((ta - 30) * M_PI / 180) + std::cos((tc + 30) * M_PI / 180)) *
            180 / M_PI;
        if (std::fabs(load) > 90) {
            c.Add("all-reversed", Severity::Warning, {}, AngleEvidence(c.pic, {0, 2}),
                  "Both elements read power flowing back: if the site does not generate, both "
                  "CTs face the wrong way (P1 must face the supply); check their orientation.");
        } else if (a.p < 0 || cc.p < 0) {
            const int k = a.p < 0 ? 0 : 2;
            auto e = AngleEvidence(c.pic, {0, 2});
            e.push_back({"power_factor_total", c.pic.pfTotal});
            c.Add("two-wattmeter", Severity::Info, {PhaseName(k)}, std::move(e),
                  std::string("Element ") + PhaseName(k) +
                      " reads negative at a power factor below 0.5: in a three-wire "
                      "connection (two-wattmeter method) that is expected, no CT is reversed.");
        }
        return;
    }
    if (std::fabs(d + 120) > kElementToleranceDeg) return;
    // One of the two is reversed: the sound one gives a load angle a load can have.
    const int reversed = std::fabs(WrapDeg(ta - 30)) <= 90 ? 2 : 0;
    const std::string p = PhaseName(reversed);
    c.Add("ct-reversed", Severity::Fault, {p}, AngleEvidence(c.pic, {0, 2}),
          "The CT of phase " + p +
              " is reversed: swap its S1 and S2 leads at the meter, or turn the CT so that P1 "
              "faces the supply.");
}

}  // namespace

void CheckPolarity(CheckContext& c) {
    if (c.pic.layout == Layout::ThreeWire) return CheckElements(c);
    std::vector<int> usable;
    for (int k : c.pic.PowerPhases())
        if (c.AngleCounts(k)) usable.push_back(k);
    if (usable.empty() || CheckCrossed(c, usable)) return;
    CheckPhases(c, usable);
}
