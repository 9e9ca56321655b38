#include "poll/out/ReadingJson.h"

#include <QJsonDocument>
#include <cmath>

#include "poll/out/OutputText.h"

namespace {

QJsonArray LimitWords(uint8_t statusByte) {
    QJsonArray words;
    for (int field = 0; field < 4; ++field) words.append(LimitWord(statusByte, field));
    return words;
}

}  // namespace

QJsonObject ReadingJson(const Reading& r, const std::string& bus) {
    QJsonObject o;
    o["time"] = QString::fromStdString(IsoUtc(r.unixMs));
    o["bus"] = QString::fromStdString(bus);
    o["address"] = r.address;
    for (size_t k = 0; k < kQuantityCount; ++k)
        o[Quantities()[k].key] = std::isnan(r.values[k]) ? QJsonValue() : QJsonValue(r.values[k]);
    o["pt"] = static_cast<qint64>(r.params.pt);
    o["ct"] = static_cast<qint64>(r.params.ct);
    o["wiring"] = r.params.wiring;
    o["urg_factor"] = r.params.urgFactor;
    o["class"] = r.params.classFlag;
    o["energy_scale"] = r.energyScale ? QJsonValue(r.energyScale) : QJsonValue();
    if (r.voltageStatus && r.currentStatus)
        o["limits"] = QJsonObject{{"voltage", LimitWords(*r.voltageStatus)},
                                  {"current", LimitWords(*r.currentStatus)}};
    if (r.findings) o["findings"] = FindingsJson(*r.findings);
    if (r.demand) o["demand"] = DemandJson(*r.demand);
    return o;
}

namespace {

QJsonValue Peak(const DemandPeak& p) {
    if (!p.intervalStartMs) return QJsonValue();
    return QJsonObject{{"value", JsonNumber(p.valueW)},
                       {"start", QString::fromStdString(IsoUtc(p.intervalStartMs))}};
}

}  // namespace

QJsonObject DemandJson(const DemandNow& d) {
    QJsonObject o{{"minutes", d.minutes},
                  {"running_start", QString::fromStdString(IsoUtc(d.runningStartMs))},
                  {"running_w", JsonNumber(d.runningW)},
                  {"predicted_w", JsonNumber(d.predictedW)},
                  {"running_va", JsonNumber(d.runningVA)},
                  {"predicted_va", JsonNumber(d.predictedVA)},
                  {"day_max_w", Peak(d.dayMax)},
                  {"month_max_w", Peak(d.monthMax)},
                  {"day_max_va", Peak(d.dayMaxVA)},
                  {"month_max_va", Peak(d.monthMaxVA)}};
    if (d.last)
        o["last"] = QJsonObject{{"start", QString::fromStdString(IsoUtc(d.last->startMs))},
                                {"active_w", JsonNumber(d.last->activeW)},
                                {"apparent_va", JsonNumber(d.last->apparentVA)},
                                {"method", QString::fromStdString(d.last->activeMethod)},
                                {"complete", d.last->complete}};
    else
        o["last"] = QJsonValue();
    return o;
}

QJsonObject FindingJson(const Finding& f) {
    QJsonArray phases;
    for (const std::string& p : f.phases) phases.append(QString::fromStdString(p));
    QJsonObject evidence;
    for (const auto& [name, value] : f.evidence)
        evidence[QString::fromStdString(name)] = JsonNumber(value);
    QJsonObject o{{"code", QString::fromStdString(f.code)},
                  {"severity", SeverityName(f.severity)},
                  {"phases", phases},
                  {"evidence", evidence},
                  {"advice", QString::fromStdString(f.advice)}};
    if (f.sinceUnixMs) o["since"] = QString::fromStdString(IsoUtc(f.sinceUnixMs));
    return o;
}

QJsonArray FindingsJson(const std::vector<Finding>& findings) {
    QJsonArray out;
    for (const Finding& f : findings) out.append(FindingJson(f));
    return out;
}

QJsonValue JsonNumber(double v) {
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue();
}

std::string CompactJson(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}
