#include "diagnose/Picture.h"

#include <cmath>

namespace {

// The quantity table's index of each value the checks read, found once.
struct Keys {
    int v[3], i[3], p[3], q[3], s[3], pf[3], line[3];
    int pTotal, qTotal, sTotal, pfTotal, frequency;
};

const Keys& KeyIndex() {
    static const Keys keys = [] {
        Keys k{};
        for (int n = 0; n < 3; ++n) {
            const std::string x = PhaseName(n);
            k.v[n] = QuantityIndex("voltage_" + x);
            k.i[n] = QuantityIndex("current_" + x);
            k.p[n] = QuantityIndex("active_power_" + x);
            k.q[n] = QuantityIndex("reactive_power_" + x);
            k.s[n] = QuantityIndex("apparent_power_" + x);
            k.pf[n] = QuantityIndex("power_factor_" + x);
            k.line[n] = QuantityIndex(std::string("line_voltage_") + LineName(n));
        }
        k.pTotal = QuantityIndex("active_power_total");
        k.qTotal = QuantityIndex("reactive_power_total");
        k.sTotal = QuantityIndex("apparent_power_total");
        k.pfTotal = QuantityIndex("power_factor_total");
        k.frequency = QuantityIndex("frequency");
        return k;
    }();
    return keys;
}

}  // namespace

Layout LayoutOf(uint16_t wiring) {
    switch (wiring) {
        case 1:
            return Layout::SinglePhase;
        case 2:
        case 3:
            return Layout::ThreeWire;
        case 4:
            return Layout::SplitPhase;
        default:
            return Layout::FourWire;
    }
}

std::vector<int> Picture::PowerPhases() const {
    switch (layout) {
        case Layout::ThreeWire:
            return {0, 2};
        case Layout::SinglePhase:
            return {0};
        case Layout::SplitPhase:
            return {0, 1};
        default:
            return {0, 1, 2};
    }
}

std::vector<int> Picture::VoltageIndices() const {
    return layout == Layout::ThreeWire ? std::vector<int>{0, 1, 2} : PowerPhases();
}

Picture PictureOf(const MeterSnapshot& m) {
    const Keys& k = KeyIndex();
    const MeasurementValues& x = m.values;
    Picture pic{};
    pic.layout = LayoutOf(m.wiring);
    for (int n = 0; n < 3; ++n) {
        pic.phase[n] = {x[k.v[n]], x[k.i[n]], x[k.p[n]], x[k.q[n]], x[k.s[n]], x[k.pf[n]]};
        pic.line[n] = x[k.line[n]];
    }
    pic.pTotal = x[k.pTotal], pic.qTotal = x[k.qTotal], pic.sTotal = x[k.sTotal];
    pic.pfTotal = x[k.pfTotal], pic.frequency = x[k.frequency];
    pic.pt = m.pt ? m.pt : 1, pic.ct = m.ct ? m.ct : 1, pic.urg = m.urgFactor ? m.urgFactor : 1;
    return pic;
}

const char* PhaseName(int k) {
    static const char* const names[] = {"a", "b", "c"};
    return names[k];
}

const char* LineName(int k) {
    static const char* const names[] = {"ab", "bc", "ca"};
    return names[k];
}

double AngleDeg(const PhaseValues& ph) {
    return WrapDeg(std::atan2(ph.q, ph.p) * 180 / M_PI);
}

double WrapDeg(double deg) {
    double d = std::fmod(deg, 360.0);
    if (d <= -180) d += 360;
    if (d > 180) d -= 360;
    return d;
}
