#include "poll/ReadingFilter.h"

#include "diagnose/Checks.h"

ReadingFilter::Meter& ReadingFilter::MeterAt(uint8_t address) {
    auto it = m_meters.find(address);
    if (it == m_meters.end())
        it = m_meters.emplace(address, Meter{EnergyGuard(), FindingHold(m_options.windowMs)}).first;
    return it->second;
}

void ReadingFilter::OnReading(const Reading& in) {
    Meter& m = MeterAt(in.address);
    Reading r = in;
    EnergyGuard::Outcome energy = m.guard.Apply(r.values);
    for (const std::string& reset : energy.resets)
        m_notice("meter " + std::to_string(r.address) + ": " + reset);
    if (m_options.diagnose) {
        const MeterSnapshot snapshot{in.values, r.params.wiring, r.params.pt, r.params.ct,
                                     r.params.urgFactor};
        std::vector<Finding> seen = CheckReading(snapshot, m_options.settings);
        for (Finding& f : energy.backwards) seen.push_back(std::move(f));
        m.hold.Update(r.unixMs, seen);
        r.findings = m.hold.Standing();
    }
    for (IReadingSink* s : m_sinks) s->OnReading(r);
}

std::vector<MeterHealth> ReadingFilter::WithEnergy(std::vector<MeterHealth> health) const {
    for (MeterHealth& h : health)
        if (const auto it = m_meters.find(h.address); it != m_meters.end())
            h.energyHeld = it->second.guard.Held(), h.energyResets = it->second.guard.Resets();
    return health;
}

void ReadingFilter::OnRoundEnd(const std::vector<MeterHealth>& health) {
    const std::vector<MeterHealth> h = WithEnergy(health);
    for (IReadingSink* s : m_sinks) s->OnRoundEnd(h);
}
