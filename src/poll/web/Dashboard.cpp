#include "poll/web/Dashboard.h"

#include <QJsonArray>
#include <chrono>

#include "poll/history/Store.h"
#include "poll/out/ReadingJson.h"

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Dashboard::Dashboard(std::string bus, const std::vector<uint8_t>& addresses,
                     const HistoryStore* store)
    : m_bus(std::move(bus)), m_store(store) {
    for (uint8_t a : addresses) {
        Meter m;
        m.view.address = a, m.view.health.address = a;
        // The last hour's trend survives a restart: the store kept its raw readings.
        if (m_store)
            for (const auto& [ms, values] : m_store->Raw(a, NowMs() - Trend::kSpanMs))
                m.trend.Add(ms, values);
        m_meters.push_back(std::move(m));
    }
}

Dashboard::Meter* Dashboard::Find(uint8_t address) {
    for (Meter& m : m_meters)
        if (m.view.address == address) return &m;
    return nullptr;
}

void Dashboard::OnReading(const Reading& r) {
    bool findingsChanged = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Meter* m = Find(r.address);
        if (!m) return;
        m->view.reading = r;
        m->trend.Add(r.unixMs, r.values);
        const std::string now = FindingsSignature(r.findings.value_or(std::vector<Finding>{}));
        findingsChanged = r.findings && now != m->findings;
        m->findings = now;
    }
    if (!m_hub.Clients()) return;  // nobody watching: no JSON to make
    const std::string meter = std::to_string(r.address);
    m_hub.Publish("reading", CompactJson(ReadingEventJson(r, m_bus)), "reading " + meter);
    if (findingsChanged)
        m_hub.Publish(
            "finding",
            CompactJson({{"address", r.address}, {"findings", FindingsJson(*r.findings)}}),
            "finding " + meter);
}

void Dashboard::OnRoundEnd(const std::vector<MeterHealth>& health) {
    std::vector<MeterView> views;
    const int64_t now = NowMs();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bool changed = false;
        for (const MeterHealth& h : health)
            if (Meter* m = Find(h.address)) {
                changed = changed || m->view.health.answering != h.answering;
                m->view.health = h;
            }
        // A meter falling silent or back is told at once; the counters once a second.
        if (!changed && now - m_lastHealthMs < kHealthEveryMs) return;
        m_lastHealthMs = now;
        for (const Meter& m : m_meters) views.push_back(m.view);
    }
    if (m_hub.Clients()) m_hub.Publish("health", CompactJson(HealthEventJson(views)), "health");
}
