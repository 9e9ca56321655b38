// apply: the meters of a site plan brought to their settings; the others on the bus named.
#include <algorithm>

#include "ctl/Commands.h"

namespace {

// Only what differs from the meter's settings now is written.
Target Differences(const PlanRow& row, const MeterSettingsRead& s, const Bus& bus) {
    Target t;
    if (s.pt != row.pt) t.pt = row.pt;
    if (s.ct != row.ct) t.ct = row.ct;
    if (s.wiring != row.wiring) t.wiring = row.wiring;
    if (row.baud && *row.baud != bus.Baud()) t.baud = row.baud;
    if (row.parityCode && *row.parityCode != bus.ParityCode()) t.parityCode = row.parityCode;
    return t;
}

// Meters answering at the bus's settings that the plan does not name, among candidates.
void ReportUnplanned(Bus& bus, const std::vector<PlanRow>& plan,
                     const std::vector<uint8_t>& candidates) {
    for (uint8_t a : candidates) {
        if (bus.stop) return;
        if (std::any_of(plan.begin(), plan.end(), [&](const PlanRow& r) { return r.address == a; }))
            continue;
        std::string lost;
        if (bus.Probe(a, lost)) bus.report.Status(a, "answers but is not in the plan");
    }
}

}  // namespace

int RunApply(Bus& bus, const CtlOptions& o, const std::vector<PlanRow>& plan) {
    const int baud = bus.Baud(), parity = bus.ParityCode();
    bool all = true;
    for (const PlanRow& row : plan) {
        if (bus.stop) break;
        std::string why;
        const auto s = bus.ReadSettings(row.address, why);
        if (!s) {
            bus.report.Status(row.address, "does not answer", why), all = false;
            continue;
        }
        const Target t = Differences(row, *s, bus);
        if (t.Empty()) {
            bus.report.Status(row.address, "as planned");
            continue;
        }
        all = Change(bus, row.address, *s, t, o.yes) && all;
        if (bus.Baud() != baud || bus.ParityCode() != parity) bus.MoveTo(baud, parity);
    }
    ReportUnplanned(bus, plan, o.addresses);
    return all && !bus.stop ? 0 : 1;
}
