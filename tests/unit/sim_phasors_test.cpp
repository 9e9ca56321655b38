// The simulated meter's phasor model: what a meter wired in each mode, and with each wiring
// fault, holds in its measurement registers. Every expected value is worked out by hand.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>

#include "sim/MeterModel.h"
#include "sim/Phasors.h"

namespace {

// "reg=value ..." with reg in hexadecimal and value signed where the register is s16.
using Expected = const char*;

bool IsSigned(int reg) {
    return reg < 0x18 ? reg % 8 >= 4 && reg % 8 <= 6 : reg >= 0x1C && reg <= 0x1E;
}

int Value(const std::array<uint16_t, kMeasuredRegisters>& regs, int reg) {
    return IsSigned(reg) ? static_cast<int16_t>(regs[reg]) : regs[reg];
}

void ExpectRegisters(const Installation& in, int urgFactor, Expected want, const char* what) {
    const auto regs = MeasurementRegisters(Measure(in), 50, urgFactor);
    std::istringstream items(want);
    for (std::string item; items >> item;) {
        const size_t eq = item.find('=');
        const int reg = std::stoi(item.substr(0, eq), nullptr, 16);
        EXPECT_EQ(Value(regs, reg), std::stoi(item.substr(eq + 1))) << what << " " << item;
    }
}

Installation Balanced(double volts, double amps, double pf, int wiring = 0) {
    Installation in;
    in.phases.fill({volts, amps, pf});
    in.wiring = wiring;
    return in;
}

Installation WithFault(Installation in, WiringFault f) {
    in.faults.push_back(f);
    return in;
}

using K = WiringFault::Kind;

}  // namespace

TEST(SimPhasors, RegistersOfEachWiringModeAndFault) {
    struct Case {
        const char* what;
        Installation in;
        int urgFactor;
        Expected want;
    } cases[] = {
        // 230 V, 4 A, PF 1: S = P = 920 (x10 9200, x5 4600); V_L = 230 sqrt(3) = 398.37 V;
        // totals 2760 W; the currents cancel in the neutral; 50 Hz / 0.00106813 = 46811.
        {"balanced four-wire", Balanced(230, 4, 1), 1,
         "00=23000 01=39837 02=40000 04=9200 05=10000 06=0 07=4600 09=39837 11=39837 18=0 "
         "19=23000 1A=40000 1B=46811 1C=27600 1D=10000 1E=0 1F=13800"},
        // 230 V, 5 A, PF 0.8 lagging: S 1150, P 920, Q 690 per phase; P and Q x10 / 4.
        {"Urg factor 4", Balanced(230, 5, 0.8), 4,
         "04=2300 05=8000 06=1725 07=5750 1C=6900 1D=8000 1E=5175 1F=17250"},
        // PF 0.8 leading: Q = -920 x 0.6 = -552; PF keeps the sign of P.
        {"leading load", Balanced(230, 4, -0.8), 1, "0C=7360 0D=8000 0E=-5520 1C=22080 1E=-16560"},
        // 3 A: B's P = -690; total 690 + 690 - 690 = 690 of S 2070, PF 1/3; the neutral sees
        // I_a + I_c - I_b = -2 I_b, 6 A.
        {"ct-reversed:B", WithFault(Balanced(230, 3, 1), {K::CtReversed, 1}), 1,
         "04=6900 0A=30000 0C=-6900 0D=-10000 0E=0 0F=3450 18=60000 1C=6900 1D=3333 1F=10350"},
        // A's input gets I_b at -120°, 120° behind V_a: P = 920 cos 120° = -460,
        // Q = 920 sin 120° = 796.74; B's gets I_a, 120° ahead of V_b: P -460, Q -796.74.
        {"ct-crossed:A,B", WithFault(Balanced(230, 4, 1), {K::CtCrossed, 0, 1}), 1,
         "04=-4600 05=-5000 06=7967 0C=-4600 0D=-5000 0E=-7967 14=9200 18=0 1C=0 1D=0 1F=13800"},
        // V_c = 0: V_bc = |V_b| = V_ca = 230 V, V_ab stays 398.37; C's current still flows;
        // mean voltage 460 / 3 = 153.33; totals over A and B.
        {"voltage-missing:C", WithFault(Balanced(230, 4, 1), {K::VoltageMissing, 2}), 1,
         "01=23000 09=39837 10=0 11=23000 12=40000 14=0 15=0 17=0 19=15333 1C=18400 1D=10000 "
         "1F=9200"},
        // -V_a: V_ab = |V_a + V_b| = |-V_c| = 230, V_ca = |V_c + V_a| = 230, V_bc 398.37;
        // P_a = -920, total 920 of 2760.
        {"pt-reversed:A", WithFault(Balanced(230, 4, 1), {K::PtReversed, 0}), 1,
         "00=23000 01=23000 04=-9200 05=-10000 09=23000 11=39837 1C=9200 1D=3333"},
        // Two elements, 398.37 V x 4 A = 1593.49 VA each (x5 7967), phi = acos 0.4 = 66.42°,
        // sin phi = 0.91652. V_ab at 30°, I_a at -66.42°: cos(30° + phi) = 0.866 x 0.4 - 0.5 x
        // 0.91652 = -0.11185, P1 = -178.23, sin(30° + phi) = 0.2 + 0.866 x 0.91652 = 0.99373,
        // Q1 = 1583.49. V_cb at 90°, I_c at 53.58°: cos(phi - 30°) = 0.34641 + 0.45826 =
        // 0.80467, P2 = 1282.23, sin(phi - 30°) = 0.79373 - 0.2 = 0.59373, Q2 = 946.09.
        // Totals: P = 3 x 230 x 4 x 0.4 = 1104, Q = 2760 x 0.91652 = 2529.58, S = 2760.
        // I_b as the meter takes it: |I_a + I_c| = |-I_b| = 4 A.
        {"three-wire at PF 0.4", Balanced(230, 4, 0.4, 3), 1,
         "00=0 01=39837 04=-1782 05=-1118 06=15835 07=7967 08=0 09=39837 0A=40000 0C=0 0D=0 "
         "0F=0 10=0 11=39837 14=12822 15=8047 16=9461 17=7967 19=0 1C=11040 1D=4000 1E=25296 "
         "1F=13800"},
        // Phase A alone: S 920, P 736, Q 552; the neutral carries the line's 4 A.
        {"single-phase 2-wire", Balanced(230, 4, 0.8, 1), 1,
         "00=23000 01=0 04=7360 05=8000 06=5520 07=4600 08=0 0A=0 0C=0 10=0 12=0 18=40000 "
         "19=23000 1A=40000 1C=7360 1D=8000 1E=5520 1F=4600"},
        // 120 V halves at 0° and 180°: 240 V end to end; 480 W each; the neutral's currents
        // cancel.
        {"single-phase 3-wire", Balanced(120, 4, 1, 4), 1,
         "00=12000 01=0 04=4800 08=12000 09=24000 0C=4800 0D=10000 10=0 11=0 12=0 14=0 18=0 "
         "19=12000 1C=9600 1F=4800"},
    };
    for (const Case& c : cases) ExpectRegisters(c.in, c.urgFactor, c.want, c.what);
}

// 20 % of 2.5 A: 3, 2.5 and 2 A; the neutral gets 0.5 A at 0° less 0.5 A at 120°,
// 0.5 x |1 - 1∠120°| = 0.5 x sqrt(3) = 0.866 A.
TEST(SimPhasors, UnbalanceScalesTheOuterPhasesAndShowsInTheNeutral) {
    Installation in = Balanced(230, 2.5, 1);
    UnbalanceCurrents(in, 0.2);
    ExpectRegisters(in, 1, "02=30000 0A=25000 12=20000 18=8660 1A=25000 04=6900 1C=17250",
                    "20 % unbalance");
}

TEST(SimPhasors, WiringFaultNames) {
    struct Case {
        const char* text;
        K kind;
        int phase, other;
    } cases[] = {{"ct-reversed:b", K::CtReversed, 1, 0},
                 {"ct-crossed:A,c", K::CtCrossed, 0, 2},
                 {"voltage-missing:C", K::VoltageMissing, 2, 0},
                 {"pt-reversed:a", K::PtReversed, 0, 0}};
    std::string error;
    for (const Case& c : cases) {
        const auto f = ParseWiringFault(c.text, error);
        ASSERT_TRUE(f) << c.text;
        EXPECT_EQ(std::tuple(f->kind, f->phase, f->other), std::tuple(c.kind, c.phase, c.other))
            << c.text;
    }
    for (const char* text : {"ct-reversed", "ct-reversed:D", "ct-crossed:A", "ct-crossed:A,a",
                             "pt-reversed:A,B", "swapped:A"}) {
        error.clear();
        EXPECT_FALSE(ParseWiringFault(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

// The settings reach the running meter: PF -0.5 leading has S = 2 P whatever the magnitudes'
// variation, so PF reads 0.5 (A's reversed CT: -0.5) and Q is negative (A's: positive); a
// meter with no current has no power.
TEST(SimPhasors, TheMeterTakesLoadFaultsAndCurrentAtTheNextAdvance) {
    MeterModel m;
    m.SetLoad(-0.5);
    m.AddWiringFault({K::CtReversed, 0});
    m.AdvanceTo(1000);
    EXPECT_EQ(static_cast<int16_t>(m.Measurement(0x05)), -5000);
    EXPECT_EQ(static_cast<int16_t>(m.Measurement(0x0D)), 5000);
    EXPECT_GT(static_cast<int16_t>(m.Measurement(0x06)), 0);
    EXPECT_LT(static_cast<int16_t>(m.Measurement(0x0E)), 0);
    m.SetCurrent(0);
    m.AdvanceTo(2000);
    for (int reg : {0x02, 0x04, 0x07, 0x0A, 0x12, 0x18, 0x1A, 0x1C, 0x1D, 0x1F})
        EXPECT_EQ(m.Measurement(reg), 0) << reg;
    EXPECT_GT(m.Measurement(0x00), 21000);  // the voltage stays
}
