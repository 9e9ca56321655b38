// diagnose: every meter read in turn for the window asked for; a finding is reported when
// every reading of the window showed it, a counter's step back whenever it came.
#include <set>

#include "ctl/Commands.h"
#include "diagnose/Checks.h"
#include "modbus/MeterSettings.h"
#include "poll/MeterDevice.h"

namespace {

struct Watched {
    explicit Watched(uint8_t address) : device(address) {}
    MeterDevice device;
    int readings = 0;
    std::string lastError;
    std::optional<Reading> last;
    std::vector<Finding> lastSeen;  // the latest reading's findings
    std::set<std::string> held;     // keys of the findings every reading showed
    std::vector<Finding> steps;     // energy counters that went down
};

void Take(Watched& w, const Reading& r, const DiagnoseSettings& settings) {
    const MeterSnapshot snapshot{r.values, r.params.wiring, r.params.pt, r.params.ct,
                                 r.params.urgFactor};
    std::vector<Finding> seen = CheckReading(snapshot, settings);
    if (w.last)
        for (Finding& f : EnergyBackwards(w.last->values, r.values)) w.steps.push_back(f);
    std::set<std::string> keys;
    for (const Finding& f : seen) keys.insert(FindingKey(f));
    if (w.readings == 0) w.held = keys;
    std::erase_if(w.held, [&](const std::string& k) { return !keys.count(k); });
    w.lastSeen = std::move(seen);
    w.last = r;
    ++w.readings;
}

// The parameter block first, then the measurements: one reading, or why not.
void ReadOnce(Bus& bus, Watched& w, const DiagnoseSettings& settings) {
    for (int reads = 0; reads < 2; ++reads) {
        const ExchangeResult x = bus.Read(w.device.Address(), w.device.Next());
        if (x.outcome != Outcome::Ok) {
            w.lastError = x.detail;
            return;
        }
        if (auto reading = w.device.Take(x.frame, 0)) return Take(w, *reading, settings);
    }
}

// What the meter showed; true when it was read and nothing of it is a fault.
bool Conclude(Bus& bus, const Watched& w, double seconds) {
    const int address = w.device.Address();
    if (!w.readings) {
        bus.report.Status(address, "does not answer", w.lastError);
        return false;
    }
    std::vector<Finding> found;
    for (const Finding& f : w.lastSeen)
        if (w.held.count(FindingKey(f))) found.push_back(f);
    found.insert(found.end(), w.steps.begin(), w.steps.end());
    const ParamBlock& p = w.last->params;
    bus.report.Diagnosed(address, WiringName(p.wiring), p.pt, p.ct, w.readings, seconds, found);
    for (const Finding& f : found)
        if (f.severity == Severity::Fault) return false;
    return true;
}

}  // namespace

int RunDiagnose(Bus& bus, const CtlOptions& o) {
    std::vector<Watched> meters;
    for (uint8_t a : o.addresses) meters.emplace_back(a);
    const double start = bus.NowMs(), end = start + o.seconds * 1000.0;
    do {
        for (Watched& w : meters)
            if (!bus.stop) ReadOnce(bus, w, o.diagnose);
    } while (!bus.stop && bus.NowMs() < end);
    if (bus.stop) {
        std::fprintf(stderr, "kx880-ctl: stopped before the window was over; nothing concluded\n");
        return 1;
    }
    const double seconds = (bus.NowMs() - start) / 1000;
    bool sound = true;
    for (const Watched& w : meters) sound = Conclude(bus, w, seconds) && sound;
    return sound ? 0 : 1;
}
