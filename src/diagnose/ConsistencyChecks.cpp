// The meter's values against each other: what no wiring can cause, only a meter or a
// decoding fault. Apparent power may exceed sqrt(P² + Q²) (harmonics), never fall below it.
#include <cmath>

#include "diagnose/CheckContext.h"

namespace {

constexpr double kRelative = 0.02;  // 2 % of the apparent power involved
constexpr double kPowerFactorSlack = 0.02;

struct Disagreement {
    std::vector<std::string> phases;
    std::vector<std::pair<std::string, double>> evidence;
    std::vector<std::string> what;
};

// Apparent power against P and Q, and the power factor against |P| / S; steps: a count of
// each register, the resolution the meter's values carry.
void CheckTriangle(Disagreement& d, const std::string& where, const PhaseValues& v, double pStep,
                   double sStep) {
    const double vector = std::hypot(v.p, v.q);
    const double slack = 2 * (pStep + sStep);
    bool wrong = false;
    if (v.s < (1 - kRelative) * vector - slack) {
        d.what.push_back("apparent power " + where + " below sqrt(P² + Q²)");
        wrong = true;
    }
    if (v.s >= 50 * sStep) {
        const double expected = std::fabs(v.p) / v.s;
        const double tolerance = kPowerFactorSlack + 2 * (pStep + sStep) / v.s;
        if (std::fabs(std::fabs(v.pf) - expected) > tolerance) {
            d.what.push_back("power factor " + where + " not |P| / S");
            wrong = true;
        }
    }
    if (!wrong) return;
    if (where != "total") d.phases.push_back(where);
    d.evidence.push_back({"active_power_" + where, v.p});
    d.evidence.push_back({"reactive_power_" + where, v.q});
    d.evidence.push_back({"apparent_power_" + where, v.s});
    d.evidence.push_back({"power_factor_" + where, v.pf});
}

// A three-wire meter's total is its two elements'; what it shows in phase b's group, if
// anything, need not add to it.
bool SumsTo(const Picture& pic, double total, double PhaseValues::*part, double tolerance) {
    double all = 0, measured = 0;
    for (int k = 0; k < 3; ++k) all += pic.phase[k].*part;
    for (int k : pic.PowerPhases()) measured += pic.phase[k].*part;
    return std::fabs(total - all) <= tolerance ||
           (pic.layout == Layout::ThreeWire && std::fabs(total - measured) <= tolerance);
}

void CheckTotals(Disagreement& d, const Picture& pic) {
    double sumP = 0, sumQ = 0, sumS = 0;
    for (const PhaseValues& v : pic.phase) sumP += v.p, sumQ += v.q, sumS += v.s;
    const double slackP = 6 * pic.PowerStep(), slackS = 6 * pic.ApparentStep();
    const double tolerance = kRelative * sumS + slackP;
    auto add = [&](const std::string& what, const char* key, double total, double sum) {
        d.what.push_back(what);
        d.evidence.push_back({key, total});
        d.evidence.push_back({std::string(key) + "_sum_of_phases", sum});
    };
    if (!SumsTo(pic, pic.pTotal, &PhaseValues::p, tolerance))
        add("total active power not the sum of the phases", "active_power_total", pic.pTotal, sumP);
    if (!SumsTo(pic, pic.qTotal, &PhaseValues::q, tolerance))
        add("total reactive power not the sum of the phases", "reactive_power_total", pic.qTotal,
            sumQ);
    // A meter sums apparent power arithmetically or as a vector: between the two it is sound.
    if (pic.sTotal > (1 + kRelative) * sumS + slackS)
        add("total apparent power above the sum of the phases", "apparent_power_total", pic.sTotal,
            sumS);
}

}  // namespace

void CheckConsistency(CheckContext& c) {
    Disagreement d;
    for (int k : c.pic.PowerPhases())
        CheckTriangle(d, PhaseName(k), c.pic.phase[k], c.pic.PowerStep(), c.pic.ApparentStep());
    CheckTriangle(d, "total", {0, 0, c.pic.pTotal, c.pic.qTotal, c.pic.sTotal, c.pic.pfTotal},
                  3 * c.pic.PowerStep(), 3 * c.pic.ApparentStep());
    CheckTotals(d, c.pic);
    if (d.what.empty()) return;
    std::string said;
    for (const std::string& w : d.what) said += (said.empty() ? "" : "; ") + w;
    c.Add("power-inconsistent", Severity::Fault, std::move(d.phases), std::move(d.evidence),
          "The meter's own values disagree (" + said +
              "): no wiring does that; check the meter and the Urg setting, not the wiring.");
}
