// The dashboard's routes into the history: the store's rows, demand intervals and the
// trends beyond the last hour.
#include <httplib.h>

#include <QDateTime>
#include <QJsonArray>
#include <cmath>

#include "poll/history/Export.h"
#include "poll/history/Store.h"
#include "poll/out/OutputText.h"
#include "poll/out/ReadingJson.h"
#include "poll/web/Dashboard.h"
#include "poll/web/Respond.h"

// Longer trends from the store, at a step that keeps them to a few thousand points: minutes
// for a day, quarter hours for a week, hours beyond.
std::vector<std::pair<int64_t, double>> Dashboard::StoredTrend(uint8_t address, int quantity,
                                                               long seconds) const {
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    const int32_t step = seconds <= 86400 ? 60 : seconds <= 7 * 86400 ? 900 : 3600;
    std::vector<std::pair<int64_t, double>> out;
    for (const MinuteRow& r : m_store->Rows({address, now - seconds * 1000, now + 1, step}))
        if (std::isfinite(r.mean[quantity])) out.push_back({r.startMs, r.mean[quantity]});
    return out;
}

// The store's rows of one meter: ?address=N&from=ISO&to=ISO&step=1m|15m|1h|1d[&format=csv].
void Dashboard::History(const httplib::Request& req, httplib::Response& res) {
    if (!m_store) return Json(res, 404, ErrorJson("no history: kx880-poll runs without --history"));
    uint8_t address;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        address = MeterOf(req.get_param_value("address"), res);
    }
    if (!address) return;
    const auto from = ParseIsoUtc(req.get_param_value("from"));
    const auto to = ParseIsoUtc(req.get_param_value("to"));
    const auto step = StepNamed(req.has_param("step") ? req.get_param_value("step") : "1m");
    const std::string format = req.has_param("format") ? req.get_param_value("format") : "json";
    if (!from || !to || *to <= *from)
        return Json(res, 400, ErrorJson("from, to: ISO 8601 times in UTC, from before to"));
    if (!step) return Json(res, 400, ErrorJson("step: 1m, 15m, 1h or 1d"));
    if (format != "json" && format != "csv")
        return Json(res, 400, ErrorJson("format: json or csv"));
    const auto rows = m_store->Rows({address, *from, *to, *step});
    res.set_header("Cache-Control", "no-store");
    if (format == "csv")
        res.set_content(HistoryCsv(rows), "text/csv; charset=utf-8; header=present");
    else
        res.set_content(HistoryJson(address, *step, rows), "application/json");
}

// A meter's demand intervals ?from=ISO&to=ISO (default: since the local midnight) and its
// demand as it stands.
void Dashboard::Demand(const httplib::Request& req, httplib::Response& res) {
    std::optional<DemandNow> now;
    uint8_t address;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        address = MeterOf(req.matches[1], res);
        if (!address) return;
        if (const auto& r = Find(address)->view.reading) now = r->demand;
    }
    const int64_t nowMs = QDateTime::currentMSecsSinceEpoch();
    const auto from =
        req.has_param("from")
            ? ParseIsoUtc(req.get_param_value("from"))
            : std::optional<int64_t>(
                  QDateTime::currentDateTime().date().startOfDay().toMSecsSinceEpoch());
    const auto to = req.has_param("to") ? ParseIsoUtc(req.get_param_value("to"))
                                        : std::optional<int64_t>(nowMs + 1);
    if (!from || !to || *to <= *from)
        return Json(res, 400, ErrorJson("from, to: ISO 8601 times in UTC, from before to"));
    QJsonArray intervals;
    if (m_store)
        for (const DemandInterval& d : m_store->Demands(address, *from, *to))
            intervals.append(QJsonObject{{"start", QString::fromStdString(IsoUtc(d.startMs))},
                                         {"minutes", d.minutes},
                                         {"active_w", JsonNumber(d.activeW)},
                                         {"apparent_va", JsonNumber(d.apparentVA)},
                                         {"method", QString::fromStdString(d.activeMethod)},
                                         {"complete", d.complete}});
    Json(res, 200,
         CompactJson({{"address", address},
                      {"intervals", intervals},
                      {"demand", now ? QJsonValue(DemandJson(*now)) : QJsonValue()}}));
}
