// The checks against readings written by hand from the physics: each phase as the meter
// sees it (voltage, current and the angle of the current behind the voltage), the line
// voltages as the meter measures them, and the findings an electrician expects.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "diagnose/Checks.h"

namespace {

struct Seen {
    double v, i, angleDeg;  // angle: atan2(Q, P) of the phase (or element)
};

struct Row {
    const char* name;
    uint16_t wiring;
    Seen phase[3];
    double line[3];                  // ab, bc, ca
    std::set<std::string> expected;  // "code:phases:severity"
    double frequency = 50;
    uint32_t pt = 1, ct = 1;
    std::optional<double> nominal = std::nullopt;
};

// A power factor of 0.95 lagging: 18.19 degrees; 0.4 lagging: 66.42 degrees.
constexpr double kPf95 = 18.19, kPf40 = 66.42;
// 230 V phases 120 degrees apart: 230 x sqrt(3) = 398.37 V between them.
constexpr double kLine = 398.37;

void Put(MeasurementValues& m, const std::string& key, double value) {
    m[QuantityIndex(key)] = value;
}

// The registers' values: P = V I cos, Q = V I sin, S = V I, PF = P / S; totals the sums,
// apparent power summed arithmetically. In three-wire the meter's total S is the vector's.
MeterSnapshot Snapshot(const Row& r) {
    MeterSnapshot m;
    m.values.fill(NAN);
    m.wiring = r.wiring, m.pt = r.pt, m.ct = r.ct;
    const char* names[] = {"a", "b", "c"};
    const char* lines[] = {"ab", "bc", "ca"};
    double p = 0, q = 0, s = 0;
    for (int k = 0; k < 3; ++k) {
        const Seen& x = r.phase[k];
        const double rad = x.angleDeg * M_PI / 180, va = x.v * x.i;
        const std::string n = names[k];
        Put(m.values, "voltage_" + n, r.wiring == 2 || r.wiring == 3 ? 0 : x.v);
        Put(m.values, "current_" + n, x.i);
        Put(m.values, "active_power_" + n, va * std::cos(rad));
        Put(m.values, "reactive_power_" + n, va * std::sin(rad));
        Put(m.values, "apparent_power_" + n, va);
        Put(m.values, "power_factor_" + n, va > 0 ? std::cos(rad) : 0);
        Put(m.values, std::string("line_voltage_") + lines[k], r.line[k]);
        p += va * std::cos(rad), q += va * std::sin(rad), s += va;
    }
    if (r.wiring == 2 || r.wiring == 3) s = std::hypot(p, q);
    Put(m.values, "active_power_total", p);
    Put(m.values, "reactive_power_total", q);
    Put(m.values, "apparent_power_total", s);
    Put(m.values, "power_factor_total", s > 0 ? p / s : 0);
    Put(m.values, "frequency", r.frequency);
    return m;
}

std::set<std::string> Found(const MeterSnapshot& m, const DiagnoseSettings& s) {
    std::set<std::string> out;
    for (const Finding& f : CheckReading(m, s))
        out.insert(f.code + ":" + PhaseList(f) + ":" + SeverityName(f.severity));
    return out;
}

// Three-wire elements: a (Uab with Ia) at 30 degrees more than the load's angle, c (Ucb
// with Ic) at 30 degrees less; a 400 V line.
const Row kRows[] = {
    {"healthy, balanced",
     0,
     {{230, 2, kPf95}, {230, 2, kPf95}, {230, 2, kPf95}},
     {kLine, kLine, kLine},
     {}},
    // Mean 2.0 A, largest deviation 0.3 A: 15 %, under the 20 % of a warning.
    {"healthy, unbalanced within limits",
     0,
     {{230, 2.0, kPf95}, {230, 1.7, 25.84}, {230, 2.3, 14.07}},
     {kLine, kLine, kLine},
     {}},
    {"no load",
     0,
     {{230, 0, 0}, {230, 0, 0}, {230, 0, 0}},
     {kLine, kLine, kLine},
     {"no-load::info"}},
    // 1.5 A through CTs of 100: 0.015 A on the secondary, under 0.02 A.
    {"no load behind large CTs",
     0,
     {{230, 1.5, kPf95}, {230, 1.5, kPf95}, {230, 1.5, 200}},
     {kLine, kLine, kLine},
     {"no-load::info"},
     50,
     1,
     100},
    {"CT of b reversed",
     0,
     {{230, 2, kPf95}, {230, 2, kPf95 + 180}, {230, 2, kPf95}},
     {kLine, kLine, kLine},
     {"ct-reversed:b:fault"}},
    {"every CT reversed (or generation)",
     0,
     {{230, 2, kPf95 + 180}, {230, 2, kPf95 + 180}, {230, 2, kPf95 + 180}},
     {kLine, kLine, kLine},
     {"all-reversed::warning"}},
    // Input a carries Ib: 120 degrees further behind Ua; input b carries Ia: 120 less.
    {"CTs of a and b crossed",
     0,
     {{230, 2, kPf95 + 120}, {230, 2, kPf95 - 120}, {230, 2, kPf95}},
     {kLine, kLine, kLine},
     {"ct-crossed:a,b:fault"}},
    {"CTs of b and c crossed at unity power factor",
     0,
     {{230, 2, 0}, {230, 2, 120}, {230, 2, -120}},
     {kLine, kLine, kLine},
     {"ct-crossed:b,c:fault"}},
    // Uc = 0: Ubc and Uca are Ub and Ua alone.
    {"voltage of c missing",
     0,
     {{230, 2, kPf95}, {230, 2, kPf95}, {0, 2, 0}},
     {kLine, 230, 230},
     {"voltage-missing:c:fault"}},
    // -Ua is 60 degrees from Ub and Uc: Uab = Uca = 230 V; Ubc stays 398.37 V.
    {"voltage of a reversed",
     0,
     {{230, 2, kPf95 + 180}, {230, 2, kPf95}, {230, 2, kPf95}},
     {230, kLine, 230},
     {"pt-reversed:a:fault"}},
    {"one line voltage 9.6 % low",
     0,
     {{230, 2, kPf95}, {230, 2, kPf95}, {230, 2, kPf95}},
     {kLine, kLine, 360},
     {"line-voltage-mismatch:ca:warning"}},
    // 230, 230, 222 V: mean 227.33, deviation 5.33 V = 2.35 %. Ubc = Uca = sqrt(230² +
    // 222² + 230 x 222) = 391.46 V.
    {"voltage unbalance 2.35 %",
     0,
     {{230, 2, kPf95}, {230, 2, kPf95}, {222, 2, kPf95}},
     {kLine, 391.46, 391.46},
     {"voltage-unbalance::warning"}},
    // 230, 230, 210 V: mean 223.33, deviation 13.33 V = 5.97 %; Ubc = Uca = 381.18 V.
    {"voltage unbalance 5.97 %",
     0,
     {{230, 2, kPf95}, {230, 2, kPf95}, {210, 2, kPf95}},
     {kLine, 381.18, 381.18},
     {"voltage-unbalance::fault"}},
    // 2, 2, 1 A: mean 1.667 A, deviation 0.667 A = 40 %.
    {"current unbalance 40 %",
     0,
     {{230, 2, kPf95}, {230, 2, kPf95}, {230, 1, kPf95}},
     {kLine, kLine, kLine},
     {"current-unbalance::warning"}},
    // 205 V against 230 V: -10.9 %, between -10 % and -15 %; 205 x sqrt(3) = 355.07 V.
    {"undervoltage against a given nominal",
     0,
     {{205, 2, kPf95}, {205, 2, kPf95}, {205, 2, kPf95}},
     {355.07, 355.07, 355.07},
     {"voltage-range:a:warning", "voltage-range:b:warning", "voltage-range:c:warning"},
     50,
     1,
     1,
     230.0},
    // 256 V against 230 V: +11.3 %.
    {"overvoltage against a given nominal",
     0,
     {{256, 2, kPf95}, {256, 2, kPf95}, {256, 2, kPf95}},
     {443.40, 443.40, 443.40},
     {"voltage-range:a:fault", "voltage-range:b:fault", "voltage-range:c:fault"},
     50,
     1,
     1,
     230.0},
    // 6350 V through PTs of 100: 63.5 V secondary, itself a standard voltage.
    {"medium voltage behind PTs",
     0,
     {{6350, 2, kPf95}, {6350, 2, kPf95}, {6350, 2, kPf95}},
     {10998.5, 10998.5, 10998.5},
     {},
     50,
     100,
     1},
    {"frequency 1.4 % high",
     0,
     {{230, 2, kPf95}, {230, 2, kPf95}, {230, 2, kPf95}},
     {kLine, kLine, kLine},
     {"frequency::warning"},
     50.7},
    {"frequency 7 % low",
     0,
     {{230, 2, kPf95}, {230, 2, kPf95}, {230, 2, kPf95}},
     {kLine, kLine, kLine},
     {"frequency::fault"},
     46.5},
    {"a 60 Hz grid",
     0,
     {{230, 2, kPf95}, {230, 2, kPf95}, {230, 2, kPf95}},
     {kLine, kLine, kLine},
     {},
     59.6},
    // Three-wire at 0.95: elements at 48.19 and -11.81 degrees.
    {"three-wire, healthy",
     2,
     {{400, 2, kPf95 + 30}, {0, 0, 0}, {400, 2, kPf95 - 30}},
     {400, 400, 400},
     {}},
    // At 0.4: element a at 96.42 degrees reads negative, element c at 36.42 positive.
    {"three-wire below a power factor of 0.5",
     3,
     {{400, 2, kPf40 + 30}, {0, 0, 0}, {400, 2, kPf40 - 30}},
     {400, 400, 400},
     {"two-wattmeter:a:info"}},
    {"three-wire, CT of c reversed",
     2,
     {{400, 2, kPf95 + 30}, {0, 0, 0}, {400, 2, kPf95 - 30 + 180}},
     {400, 400, 400},
     {"ct-reversed:c:fault"}},
    {"three-wire, CT of a reversed",
     2,
     {{400, 2, kPf95 + 30 + 180}, {0, 0, 0}, {400, 2, kPf95 - 30}},
     {400, 400, 400},
     {"ct-reversed:a:fault"}},
    {"three-wire, voltage 15 % high against a 400 V nominal",
     2,
     {{460, 2, kPf95 + 30}, {0, 0, 0}, {460, 2, kPf95 - 30}},
     {460, 460, 460},
     {"voltage-range:ab:fault", "voltage-range:bc:fault", "voltage-range:ca:fault"},
     50,
     1,
     1,
     400.0},
    {"single phase, healthy", 1, {{230, 4, kPf95}, {0, 0, 0}, {0, 0, 0}}, {0, 0, 0}, {}},
    {"single phase, power flowing back",
     1,
     {{230, 4, kPf95 + 180}, {0, 0, 0}, {0, 0, 0}},
     {0, 0, 0},
     {"all-reversed::warning"}},
    // Split phase: 120 V halves, 240 V between them in the register of line ab.
    {"split phase, CT of b reversed",
     4,
     {{120, 4, kPf95}, {120, 4, kPf95 + 180}, {0, 0, 0}},
     {240, 0, 0},
     {"ct-reversed:b:fault"}},
    {"split phase, voltage of b missing",
     4,
     {{120, 4, kPf95}, {0, 4, 0}, {0, 0, 0}},
     {120, 0, 0},
     {"voltage-missing:b:fault"}},
};

TEST(Checks, FindWhatTheWiringShowsAndNothingElse) {
    for (const Row& r : kRows) {
        DiagnoseSettings s;
        s.nominalVoltage = r.nominal;
        EXPECT_EQ(Found(Snapshot(r), s), r.expected) << r.name;
    }
}

// Values no wiring can give: the meter or the decoding is at fault.
TEST(Checks, ValuesThatContradictEachOtherArePowerInconsistent) {
    const Row healthy = kRows[0];
    struct Case {
        const char* name;
        const char* key;
        double factor;
        std::string expected;
    } cases[] = {
        {"apparent power under sqrt(P² + Q²)", "apparent_power_a", 0.9,
         "power-inconsistent:a:fault"},
        {"power factor not |P| / S", "power_factor_b", 0.8, "power-inconsistent:b:fault"},
        {"total active power twice the phases'", "active_power_total", 2,
         "power-inconsistent::fault"},
        {"total apparent power above the phases' sum", "apparent_power_total", 1.1,
         "power-inconsistent::fault"},
        // Harmonics: apparent power above sqrt(P² + Q²), the power factor P / S with it.
        {"apparent power 10 % above the vector's", "apparent_power_c", 1.1, ""},
    };
    for (const Case& c : cases) {
        MeterSnapshot m = Snapshot(healthy);
        m.values[QuantityIndex(c.key)] *= c.factor;
        // The total follows a phase's apparent power, as a meter that sums them would.
        if (std::string(c.key) == "apparent_power_c") {
            m.values[QuantityIndex("power_factor_c")] /= 1.1;
            m.values[QuantityIndex("apparent_power_total")] += 0.1 * 460;
            m.values[QuantityIndex("power_factor_total")] *= 1380 / 1426.0;
        }
        const std::set<std::string> want =
            c.expected.empty() ? std::set<std::string>{} : std::set<std::string>{c.expected};
        EXPECT_EQ(Found(m, {}), want) << c.name;
    }
}

TEST(Checks, ACounterThatWentDownIsEnergyBackwards) {
    MeasurementValues before{}, now{};
    before.fill(NAN), now.fill(NAN);
    const int forward = QuantityIndex("active_energy_forward");
    const int reverse = QuantityIndex("reactive_energy_reverse");
    before[forward] = 1000, now[forward] = 999.9;
    before[reverse] = 50, now[reverse] = 50;
    const auto found = EnergyBackwards(before, now);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].code, "energy-backwards");
    EXPECT_EQ(found[0].evidence[0].second, 1000);
    EXPECT_EQ(found[0].evidence[1].second, 999.9);
}

}  // namespace
