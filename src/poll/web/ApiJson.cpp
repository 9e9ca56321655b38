#include "poll/web/ApiJson.h"

#include <QJsonArray>
#include <cmath>

#include "modbus/MeterSettings.h"
#include "poll/out/OutputText.h"
#include "poll/out/ReadingJson.h"

const char* StateOf(const MeterView& m) {
    if (!m.health.answering) return "silent";
    return m.reading ? "answering" : "waiting";
}

QJsonObject HealthJson(const MeterHealth& h) {
    auto n = [](uint64_t v) { return QJsonValue(static_cast<qint64>(v)); };
    return {{"ok", n(h.ok)},
            {"timeouts", n(h.timeouts)},
            {"bad_frames", n(h.badFrames)},
            {"exceptions", n(h.exceptions)},
            {"stale", n(h.staleReplies)},
            {"energy_held", n(h.energyHeld)},
            {"energy_resets", n(h.energyResets)},
            {"last_error", QString::fromStdString(h.lastError)},
            {"last_good", h.lastGoodUnixMs
                              ? QJsonValue(QString::fromStdString(IsoUtc(h.lastGoodUnixMs)))
                              : QJsonValue()}};
}

QJsonObject TextsJson(const Reading& r) {
    QJsonObject texts;
    for (int k = 0; k < kQuantityCount; ++k) {
        const QuantityInfo& q = Quantities()[k];
        texts[q.key] = std::isnan(r.values[k])
                           ? QString("-")
                           : QString::fromStdString(QuantityText(q, r.values[k]));
    }
    return texts;
}

namespace {

QJsonObject ReadingWithName(const Reading& r, const std::string& bus) {
    QJsonObject o = ReadingJson(r, bus);
    o.remove("findings");  // the meter's own field
    o["wiring_name"] = WiringName(r.params.wiring);
    return o;
}

QJsonObject StateJson(const MeterView& m) {
    const bool silent = !m.health.answering;
    return {
        {"address", m.address},
        {"state", StateOf(m)},
        {"silent_since", silent && m.health.lastGoodUnixMs
                             ? QJsonValue(QString::fromStdString(IsoUtc(m.health.lastGoodUnixMs)))
                             : QJsonValue()},
        {"health", HealthJson(m.health)}};
}

}  // namespace

QJsonObject MeterJson(const MeterView& m, const std::string& bus) {
    QJsonObject o = StateJson(m);
    o["reading"] = m.reading ? QJsonValue(ReadingWithName(*m.reading, bus)) : QJsonValue();
    o["texts"] = m.reading ? QJsonValue(TextsJson(*m.reading)) : QJsonValue();
    o["findings"] =
        m.reading && m.reading->findings ? FindingsJson(*m.reading->findings) : QJsonArray();
    return o;
}

QJsonObject ReadingEventJson(const Reading& r, const std::string& bus) {
    return {{"address", r.address}, {"reading", ReadingWithName(r, bus)}, {"texts", TextsJson(r)}};
}

QJsonObject HealthEventJson(const std::vector<MeterView>& meters) {
    QJsonArray list;
    for (const MeterView& m : meters) list.append(StateJson(m));
    return {{"meters", list}};
}

QJsonObject TrendJson(uint8_t address, int quantity,
                      const std::vector<std::pair<int64_t, double>>& samples) {
    QJsonArray points;
    for (const auto& [ms, v] : samples) points.append(QJsonArray{static_cast<qint64>(ms), v});
    const QuantityInfo& q = Quantities()[quantity];
    return {{"address", address},
            {"quantity", q.key},
            {"unit", InfoOf(q.kind).unit},
            {"samples", points}};
}

std::string ErrorJson(const std::string& text) {
    return CompactJson({{"error", QString::fromStdString(text)}});
}
