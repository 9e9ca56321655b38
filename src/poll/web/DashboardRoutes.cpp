// The dashboard's routes: the page (one document for the bus and every meter), its files,
// the JSON API and the live stream.
#include <httplib.h>

#include <QDateTime>
#include <QJsonArray>
#include <chrono>
#include <cmath>
#include <thread>

#include "base/Parse.h"
#include "poll/history/Export.h"
#include "poll/history/Store.h"
#include "poll/out/OutputText.h"
#include "poll/out/ReadingJson.h"
#include "poll/web/Assets.h"
#include "poll/web/Dashboard.h"
#include "poll/web/Respond.h"

namespace {

constexpr int kKeepAliveMs = 15000;  // a comment line keeps proxies from closing a quiet stream
constexpr int kBatchMs = 250;        // a page is written at most this often: live, and cheap
constexpr long kLongestTrendS = 31 * 86400;  // a month, from the history

const Asset* AssetAt(const std::string& url) {
    size_t n = 0;
    const Asset* all = Assets(n);
    for (size_t k = 0; k < n; ++k)
        if (url == all[k].url) return &all[k];
    return nullptr;
}

void Serve(const Asset& a, httplib::Response& res) {
    res.set_header("Cache-Control", "no-cache");
    res.set_content(reinterpret_cast<const char*>(a.data), a.size,
                    std::string(a.type) + "; charset=utf-8");
}

}  // namespace

uint8_t Dashboard::MeterOf(const std::string& text, httplib::Response& res) {
    std::string why;
    const auto address = ParseNumber(text, 1, 255, why);
    if (!address) {
        Json(res, 400, ErrorJson("address: " + why));
        return 0;
    }
    if (!Find(uint8_t(*address))) {
        Json(res, 404, ErrorJson("no meter " + text + " on bus " + m_bus));
        return 0;
    }
    return uint8_t(*address);
}

void Dashboard::Install(httplib::Server& server) {
    const Asset* page = AssetAt("/index.html");
    auto document = [page](const httplib::Request&, httplib::Response& res) { Serve(*page, res); };
    server.Get("/", document);
    server.Get(R"(/meter/(\d{1,3}))", document);
    size_t n = 0;
    const Asset* all = Assets(n);
    for (size_t k = 0; k < n; ++k)
        server.Get(all[k].url, [a = &all[k]](const httplib::Request&, httplib::Response& res) {
            Serve(*a, res);
        });
    server.Get("/api/meters", [this](const httplib::Request&, httplib::Response& res) {
        QJsonArray meters;
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Meter& m : m_meters) meters.append(MeterJson(m.view, m_bus));
        Json(res, 200,
             CompactJson({{"bus", QString::fromStdString(m_bus)},
                          {"history", m_store != nullptr},
                          {"meters", meters}}));
    });
    server.Get(R"(/api/meters/([^/]*))",
               [this](const httplib::Request& req, httplib::Response& res) {
                   std::lock_guard<std::mutex> lock(m_mutex);
                   if (const uint8_t a = MeterOf(req.matches[1], res))
                       Json(res, 200, CompactJson(MeterJson(Find(a)->view, m_bus)));
               });
    server.Get(R"(/api/meters/([^/]*)/trend)", [this](const httplib::Request& req,
                                                      httplib::Response& res) {
        const std::string key = req.get_param_value("quantity");
        const int q = QuantityIndex(key);
        std::string why;
        const auto seconds = req.has_param("seconds") ? ParseNumber(req.get_param_value("seconds"),
                                                                    1, kLongestTrendS, why)
                                                      : std::optional<long>(3600);
        std::lock_guard<std::mutex> lock(m_mutex);
        const uint8_t a = MeterOf(req.matches[1], res);
        if (!a) return;
        if (q < 0)
            return Json(res, 400, ErrorJson("quantity: \"" + key + "\" is not one of the 34"));
        if (!seconds) return Json(res, 400, ErrorJson("seconds: " + why));
        if (*seconds <= 3600)
            return Json(res, 200,
                        CompactJson(TrendJson(a, q, Find(a)->trend.Samples(q, *seconds))));
        if (!m_store) return Json(res, 400, ErrorJson("seconds: beyond an hour needs --history"));
        Json(res, 200, CompactJson(TrendJson(a, q, StoredTrend(a, q, *seconds))));
    });
    server.Get(R"(/api/meters/([^/]*)/demand)",
               [this](const httplib::Request& req, httplib::Response& res) { Demand(req, res); });
    server.Get("/api/history",
               [this](const httplib::Request& req, httplib::Response& res) { History(req, res); });
    server.Get("/api/events",
               [this](const httplib::Request&, httplib::Response& res) { Stream(res); });
}

// Server-Sent Events: each client's provider waits for its own queue in the server's worker
// thread; the poller only appends to the queues.
void Dashboard::Stream(httplib::Response& res) {
    auto client = m_hub.Join();
    if (!client)
        return Json(res, 503,
                    ErrorJson(m_hub.Closed() ? "the poller is stopping"
                                             : "too many live pages; try again later"));
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, client, first = true](size_t, httplib::DataSink& sink) mutable {
            std::string text;
            if (std::exchange(first, false)) {
                text = "retry: 2000\n\n";  // how soon the browser reconnects
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(kBatchMs));
                // Dropped or closed: the stream ends as a stream should, with its last chunk.
                if (!m_hub.Next(*client, text, kKeepAliveMs)) {
                    sink.done();
                    return true;
                }
            }
            if (text.empty()) text = ": keep-alive\n\n";
            return sink.write(text.data(), text.size());
        },
        [this, client](bool) { m_hub.Leave(client); });
}
