#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>

#include "poll/out/OutputText.h"
#include "poll/out/Writers.h"

namespace {

// The columns of the live table: a quantity each, ranged as the console ranges it.
struct Column {
    const char* title;
    const char* key;
};
constexpr Column kColumns[] = {
    {"U mean", "voltage_mean"},          {"U line", "line_voltage_mean"},
    {"I mean", "current_mean"},          {"P total", "active_power_total"},
    {"Q total", "reactive_power_total"}, {"S total", "apparent_power_total"},
    {"PF", "power_factor_total"},        {"f", "frequency"},
    {"Ep+", "active_energy_forward"},    {"Eq+", "reactive_energy_forward"},
};

std::string Cell(const Reading& r, int q) {
    return std::isnan(r.values[q]) ? "-" : QuantityText(Quantities()[q], r.values[q]);
}

// Counters held back or taken as reset, when there were any.
std::string Energy(const MeterHealth& h) {
    if (!h.energyHeld && !h.energyResets) return "";
    return ", energy held " + std::to_string(h.energyHeld) + "x, reset " +
           std::to_string(h.energyResets) + "x";
}

// How long a silent meter has had no good reply.
std::string Age(const MeterHealth& h) {
    if (h.answering || !h.lastGoodUnixMs) return "";
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    return "; last good reading " + std::to_string((now - h.lastGoodUnixMs) / 1000) + " s ago";
}

std::string Pad(const std::string& s, size_t width) {
    return s.size() >= width ? s + " " : s + std::string(width - s.size(), ' ');
}

// The worst of a meter's standing findings, as its marker in the table.
std::string Marker(const std::vector<Finding>& findings) {
    Severity worst = Severity::Info;
    for (const Finding& f : findings) worst = std::max(worst, f.severity);
    if (findings.empty()) return "ok";
    return worst == Severity::Fault ? "FAULT" : worst == Severity::Warning ? "warning" : "info";
}

std::string FindingLines(uint8_t address, const std::vector<Finding>& findings) {
    std::string s;
    for (const Finding& f : findings) {
        std::string severity = SeverityName(f.severity);
        if (f.severity == Severity::Fault) severity = "FAULT";
        s += "meter " + std::to_string(address) + ": " + severity + " " + f.code +
             (f.phases.empty() ? "" : " " + PhaseList(f)) + ": " + f.advice + "\n";
    }
    return s;
}

class TableWriter : public IReadingSink {
  public:
    TableWriter(std::FILE* out, std::string bus, bool diagnose)
        : m_out(out), m_bus(std::move(bus)), m_diagnose(diagnose) {}
    void OnReading(const Reading& r) override { m_last[r.address] = r; }

    void OnRoundEnd(const std::vector<MeterHealth>& health) override {
        std::string s = "\x1b[H\x1b[2J" + m_bus + "\n" + Pad("addr", 6) + Pad("state", 10) +
                        (m_diagnose ? Pad("check", 9) : "");
        for (const Column& c : kColumns) s += Pad(c.title, 16);
        s += "\n";
        for (const MeterHealth& h : health) {
            s += Pad(std::to_string(h.address), 6) + Pad(h.answering ? "ok" : "silent", 10);
            // A silent meter's last values are no longer true: blank, with their age below.
            auto it = h.answering ? m_last.find(h.address) : m_last.end();
            if (m_diagnose)
                s += Pad(
                    it == m_last.end() || !it->second.findings ? "-" : Marker(*it->second.findings),
                    9);
            for (const Column& c : kColumns)
                s += Pad(it == m_last.end() ? "-" : Cell(it->second, QuantityIndex(c.key)), 16);
            s += "\n";
        }
        for (const MeterHealth& h : health)
            s += "meter " + std::to_string(h.address) + ": " + std::to_string(h.ok) + " ok, " +
                 std::to_string(h.timeouts) + " timeouts, " + std::to_string(h.badFrames) +
                 " bad frames, " + std::to_string(h.exceptions) + " exceptions, " +
                 std::to_string(h.staleReplies) + " stale" + Energy(h) +
                 (h.lastError.empty() ? "" : "; last: " + h.lastError) + Age(h) + "\n";
        for (const MeterHealth& h : health) {
            auto it = h.answering ? m_last.find(h.address) : m_last.end();
            if (it != m_last.end() && it->second.findings)
                s += FindingLines(h.address, *it->second.findings);
        }
        std::fputs(s.c_str(), m_out);
        std::fflush(m_out);
    }

  private:
    std::FILE* m_out;
    std::string m_bus;
    bool m_diagnose;
    std::map<uint8_t, Reading> m_last;
};

}  // namespace

std::unique_ptr<IReadingSink> MakeTableWriter(std::FILE* out, std::string bus, bool diagnose) {
    return std::make_unique<TableWriter>(out, std::move(bus), diagnose);
}
