#include "poll/history/Export.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <cmath>

#include "poll/out/OutputText.h"
#include "poll/out/ReadingJson.h"

std::optional<int32_t> StepNamed(const std::string& text) {
    static const std::pair<const char*, int32_t> steps[] = {
        {"1m", 60}, {"15m", 900}, {"1h", 3600}, {"1d", 86400}};
    for (const auto& [name, seconds] : steps)
        if (text == name) return seconds;
    return std::nullopt;
}

std::optional<int64_t> ParseIsoUtc(const std::string& text) {
    QString t = QString::fromStdString(text);
    if (t.size() == 10) t += "T00:00:00";
    if (!t.endsWith('Z')) t += 'Z';
    const QDateTime when = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!when.isValid() || text.size() < 10) return std::nullopt;
    return when.toMSecsSinceEpoch();
}

namespace {

// Counters are read at the end of a step; the other quantities by their spread.
bool IsCounter(const QuantityInfo& q) {
    return InfoOf(q.kind).counter();
}

}  // namespace

std::string HistoryCsv(const std::vector<MinuteRow>& rows) {
    std::string out = "time,address,step_s,readings";
    for (const QuantityInfo& q : Quantities()) {
        const std::string unit = InfoOf(q.kind).unit;
        const std::string u = unit.empty() ? "" : " [" + unit + "]";
        for (const char* part : {"_min", "_mean", "_max"})
            out += "," + CsvField(q.key + std::string(part) + u);
        if (IsCounter(q)) out += "," + CsvField(q.key + std::string("_last") + u);
    }
    out += "\r\n";
    for (const MinuteRow& r : rows) {
        out += IsoUtc(r.startMs) + "," + std::to_string(r.address) + "," + std::to_string(r.stepS) +
               "," + std::to_string(r.count);
        for (int k = 0; k < kQuantityCount; ++k) {
            out += "," + NumberText(r.min[k]) + "," + NumberText(r.mean[k]) + "," +
                   NumberText(r.max[k]);
            if (IsCounter(Quantities()[k])) out += "," + NumberText(r.last[k]);
        }
        out += "\r\n";
    }
    return out;
}

std::string HistoryJson(uint8_t address, int32_t stepS, const std::vector<MinuteRow>& rows) {
    QJsonArray list;
    for (const MinuteRow& r : rows) {
        QJsonObject values;
        for (int k = 0; k < kQuantityCount; ++k) {
            QJsonObject v{{"min", JsonNumber(r.min[k])},
                          {"mean", JsonNumber(r.mean[k])},
                          {"max", JsonNumber(r.max[k])}};
            if (IsCounter(Quantities()[k])) v["last"] = JsonNumber(r.last[k]);
            values[Quantities()[k].key] = v;
        }
        list.append(QJsonObject{{"time", QString::fromStdString(IsoUtc(r.startMs))},
                                {"step_s", r.stepS},
                                {"readings", r.count},
                                {"values", values}});
    }
    return CompactJson({{"address", address}, {"step_s", stepS}, {"rows", list}});
}
