// The dashboard: the page of the bus and of each meter, its JSON API and its live stream,
// on the poller's HTTP server. Read only: no request reaches a meter or the poller.
#pragma once

#include <mutex>

#include "poll/web/ApiJson.h"
#include "poll/web/EventHub.h"
#include "poll/web/Trend.h"

class HistoryStore;
namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

class Dashboard : public IReadingSink {
  public:
    static constexpr size_t kMaxClients = 64;        // live pages at once
    static constexpr size_t kClientQueue = 256;      // events a page may fall behind by
    static constexpr int64_t kHealthEveryMs = 1000;  // health events at most this often

    // store: the history behind /api/history, or none.
    Dashboard(std::string bus, const std::vector<uint8_t>& addresses, const HistoryStore* store);
    void Install(httplib::Server& server);
    void Close() { m_hub.Close(); }  // ends the live streams, so that the server can stop

    void OnReading(const Reading& r) override;
    void OnRoundEnd(const std::vector<MeterHealth>& health) override;

  private:
    struct Meter {
        MeterView view;
        Trend trend;
        std::string findings;  // what stands, to tell a change
    };
    Meter* Find(uint8_t address);  // m_mutex held
    // The address of a path's meter: 0 and the response made when it is none of ours.
    uint8_t MeterOf(const std::string& text, httplib::Response& res);
    void Stream(httplib::Response& res);
    void History(const httplib::Request& req, httplib::Response& res);
    void Demand(const httplib::Request& req, httplib::Response& res);
    std::vector<std::pair<int64_t, double>> StoredTrend(uint8_t address, int quantity,
                                                        long seconds) const;

    std::string m_bus;
    const HistoryStore* m_store;
    std::mutex m_mutex;
    std::vector<Meter> m_meters;
    int64_t m_lastHealthMs = 0;
    EventHub m_hub{kMaxClients, kClientQueue};
};
