#include "poll/out/Prometheus.h"

#include <cmath>
#include <map>
#include <utility>

#include "poll/out/OutputText.h"

namespace {

std::string Labels(const std::string& bus, uint8_t address, const std::string& extra = "") {
    return "{bus=\"" + bus + "\",address=\"" + std::to_string(address) + "\"" + extra + "}";
}

void Header(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

// Block demand: the last interval, the one under way and the peaks, as gauges.
void DemandSeries(std::string& out, const std::string& bus, const std::vector<Reading>& last) {
    bool any = false;
    for (const Reading& r : last) any = any || r.demand.has_value();
    if (!any) return;
    struct Family {
        const char* name;
        const char* help;
        bool apparent;
    } families[] = {{"kx880_demand_watts", "Block demand of total active power.", false},
                    {"kx880_demand_volt_amperes", "Block demand of total apparent power.", true}};
    for (const Family& f : families) {
        Header(out, f.name, "gauge", f.help);
        for (const Reading& r : last) {
            if (!r.demand) continue;
            const DemandNow& d = *r.demand;
            const double lastValue =
                d.last ? (f.apparent ? d.last->apparentVA : d.last->activeW) : NAN;
            const std::pair<const char*, double> kinds[] = {
                {"last", lastValue},
                {"running", f.apparent ? d.runningVA : d.runningW},
                {"predicted", f.apparent ? d.predictedVA : d.predictedW},
                {"day_max", f.apparent ? d.dayMaxVA.valueW : d.dayMax.valueW},
                {"month_max", f.apparent ? d.monthMaxVA.valueW : d.monthMax.valueW}};
            for (const auto& [kind, value] : kinds)
                if (std::isfinite(value))
                    out += std::string(f.name) +
                           Labels(bus, r.address, std::string(",kind=\"") + kind + "\"") + " " +
                           NumberText(value) + "\n";
        }
    }
}

// With the wiring checks: a series per standing finding, gone when it clears.
void FindingSeries(std::string& out, const std::string& bus, const std::vector<Reading>& last) {
    bool any = false;
    for (const Reading& r : last) any = any || r.findings.has_value();
    if (!any) return;
    Header(out, "kx880_finding", "gauge", "1 while a finding of the wiring checks stands.");
    for (const Reading& r : last)
        for (const Finding& f : r.findings.value_or(std::vector<Finding>{}))
            out +=
                "kx880_finding" +
                Labels(bus, r.address, ",code=\"" + f.code + "\",phase=\"" + PhaseList(f) + "\"") +
                " 1\n";
}

}  // namespace

std::string MetricsText(const std::string& bus, const std::vector<Reading>& last,
                        const std::vector<MeterHealth>& health, int64_t nowUnixMs,
                        std::optional<uint64_t> mqttDropped) {
    std::string out;
    // One family at a time, every meter's series under it, as the format wants them grouped.
    std::map<std::string, bool> done;
    for (const QuantityInfo& q : Quantities()) {
        const KindInfo& f = InfoOf(q.kind);
        if (std::exchange(done[f.family], true)) continue;
        Header(out, f.family, f.familyType, f.familyHelp);
        for (const Reading& r : last)
            for (int k = 0; k < kQuantityCount; ++k) {
                const QuantityInfo& s = Quantities()[k];
                if (InfoOf(s.kind).family != f.family || std::isnan(r.values[k])) continue;
                const std::string extra =
                    *f.familyLabel ? std::string(",") + f.familyLabel + "=\"" + s.where + "\"" : "";
                out += std::string(f.family) + Labels(bus, r.address, extra) + " " +
                       NumberText(r.values[k] * f.familyFactor) + "\n";
            }
    }
    Header(out, "kx880_replies_total", "counter", "Replies to the poller's requests by result.");
    for (const MeterHealth& h : health)
        for (auto [result, n] : {std::pair<const char*, uint64_t>{"ok", h.ok},
                                 {"timeout", h.timeouts},
                                 {"bad_frame", h.badFrames},
                                 {"exception", h.exceptions},
                                 {"stale", h.staleReplies}})
            out += "kx880_replies_total" +
                   Labels(bus, h.address, std::string(",result=\"") + result + "\"") + " " +
                   std::to_string(n) + "\n";
    Header(out, "kx880_up", "gauge", "1 while the meter answers, 0 while it is silent.");
    for (const MeterHealth& h : health)
        out += "kx880_up" + Labels(bus, h.address) + (h.answering ? " 1\n" : " 0\n");
    Header(out, "kx880_last_reading_age_seconds", "gauge",
           "Seconds since the meter's last good reply.");
    for (const MeterHealth& h : health)
        if (h.lastGoodUnixMs)
            out += "kx880_last_reading_age_seconds" + Labels(bus, h.address) + " " +
                   NumberText((nowUnixMs - h.lastGoodUnixMs) / 1000.0) + "\n";
    Header(out, "kx880_energy_held_total", "counter",
           "Readings in which an energy counter stepped back and was held at its last value.");
    for (const MeterHealth& h : health)
        out += "kx880_energy_held_total" + Labels(bus, h.address) + " " +
               std::to_string(h.energyHeld) + "\n";
    Header(out, "kx880_energy_resets_total", "counter",
           "Energy counters that stayed lower for three readings and were taken as reset.");
    for (const MeterHealth& h : health)
        out += "kx880_energy_resets_total" + Labels(bus, h.address) + " " +
               std::to_string(h.energyResets) + "\n";
    FindingSeries(out, bus, last);
    DemandSeries(out, bus, last);
    if (mqttDropped) {
        Header(out, "kx880_mqtt_dropped_messages_total", "counter",
               "MQTT messages dropped from the full queue while the broker was away.");
        out += "kx880_mqtt_dropped_messages_total{bus=\"" + bus + "\"} " +
               std::to_string(*mqttDropped) + "\n";
    }
    return out;
}
