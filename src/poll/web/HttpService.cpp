#include "poll/web/HttpService.h"

#include <httplib.h>

#include <QDateTime>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "base/Parse.h"
#include "poll/out/Prometheus.h"
#include "poll/web/Dashboard.h"

namespace {

constexpr size_t kMaxRequestBody = 64 * 1024;  // a read-only server takes no uploads

// Equal texts, in a time that does not tell how much of a guess was right.
bool SameSecret(const std::string& a, const std::string& b) {
    unsigned diff = a.size() != b.size();
    for (size_t k = 0; k < a.size() && k < b.size(); ++k) diff |= uint8_t(a[k]) ^ uint8_t(b[k]);
    return diff == 0;
}

class HttpService : public IHttpService {
  public:
    HttpService(const HttpOptions& o, std::string bus, const std::vector<uint8_t>& addresses,
                const HistoryStore* store)
        : m_bus(bus), m_dashboard(std::move(bus), addresses, store), m_options(o) {
        if (!o.user.empty())
            m_expected = httplib::make_basic_authentication_header(o.user, o.password).second;
        // Every live page holds a worker thread for its stream; the rest serve requests.
        m_server.new_task_queue = [] {
            return new httplib::ThreadPool(Dashboard::kMaxClients + 16);
        };
        m_server.set_payload_max_length(kMaxRequestBody);
        // An idle browser connection holds a worker until it times out; at a stop, not long.
        m_server.set_keep_alive_timeout(1);
        m_server.set_pre_routing_handler(
            [this](const httplib::Request& req, httplib::Response& res) {
                return Guard(req, res);
            });
        m_server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
            if (!res.body.empty()) return;  // the route said why already
            if (req.path.rfind("/api/", 0) == 0)
                res.set_content("{\"error\":\"no such resource\"}", "application/json");
            else
                res.set_content("not found\n", "text/plain");
        });
        m_server.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(Render(), "text/plain; version=0.0.4; charset=utf-8");
        });
        m_server.Get("/healthz", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("ok\n", "text/plain");
        });
        m_dashboard.Install(m_server);
    }

    ~HttpService() override {
        // stop() does nothing until the server loop runs: a stop that came too early would
        // leave the loop running and the join waiting for ever. It closes the listening
        // socket first, so that a page finds the poller gone rather than refusing it.
        while (m_thread.joinable() && !m_finished) {
            if (m_server.is_running()) {
                m_server.stop();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        m_dashboard.Close();  // the live streams end, so that the workers can be joined
        if (m_thread.joinable()) m_thread.join();
    }

    bool Listen(const std::string& host, int port) {
        if (!m_server.bind_to_port(host.c_str(), port)) return false;
        m_thread = std::thread([this] {
            m_server.listen_after_bind();
            m_finished = true;
        });
        return true;
    }

    void OnReading(const Reading& r) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_last[r.address] = r;
        }
        m_dashboard.OnReading(r);
    }
    void OnRoundEnd(const std::vector<MeterHealth>& health) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_health = health;
        }
        m_dashboard.OnRoundEnd(health);
    }
    void SetDroppedSource(std::function<uint64_t()> dropped) override {
        std::lock_guard<std::mutex> lock(m_mutex);  // a scrape may be under way
        m_dropped = std::move(dropped);
    }

  private:
    httplib::Server::HandlerResponse Guard(const httplib::Request& req, httplib::Response& res) {
        const bool metrics = req.path == "/metrics" || req.path == "/healthz";
        if (m_expected.empty() || (metrics && !m_options.authMetrics) ||
            SameSecret(req.get_header_value("Authorization"), m_expected))
            return httplib::Server::HandlerResponse::Unhandled;
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"kx880-poll\", charset=\"UTF-8\"");
        res.set_content("{\"error\":\"authentication required\"}", "application/json");
        return httplib::Server::HandlerResponse::Handled;
    }

    std::string Render() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Reading> last;
        for (const MeterHealth& h : m_health) {
            auto it = m_last.find(h.address);
            if (it != m_last.end() && h.answering) last.push_back(it->second);
        }
        std::optional<uint64_t> dropped;
        if (m_dropped) dropped = m_dropped();
        return MetricsText(m_bus, last, m_health, QDateTime::currentMSecsSinceEpoch(), dropped);
    }

    std::string m_bus;
    Dashboard m_dashboard;
    HttpOptions m_options;
    std::string m_expected;  // the Authorization header that lets a request in
    httplib::Server m_server;
    std::thread m_thread;
    std::atomic<bool> m_finished{false};
    std::mutex m_mutex;
    std::map<uint8_t, Reading> m_last;
    std::vector<MeterHealth> m_health;
    std::function<uint64_t()> m_dropped;
};

}  // namespace

std::unique_ptr<IHttpService> MakeHttpService(const HttpOptions& options, const std::string& bus,
                                              const std::vector<uint8_t>& addresses,
                                              const HistoryStore* store, std::string& error) {
    std::string why;
    const auto where = ParseHostPort(options.listen, {std::nullopt, true}, why);
    if (!where) {
        error = "--http: " + why;
        return nullptr;
    }
    auto service = std::make_unique<HttpService>(options, bus, addresses, store);
    errno = 0;
    if (!service->Listen(where->host.empty() ? "0.0.0.0" : where->host, where->port)) {
        // The library does not say why; errno does when the bind itself failed.
        const bool bindFailed =
            errno == EADDRINUSE || errno == EADDRNOTAVAIL || errno == EACCES || errno == EPERM;
        error = "--http: cannot listen on " + options.listen + " (" +
                (bindFailed ? std::strerror(errno) : "in use, or not an address of this machine") +
                ")";
        return nullptr;
    }
    return service;
}
