#include "poll/out/Prometheus.h"

#include <httplib.h>

#include <QDateTime>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "poll/out/OutputText.h"
#include "serial/NetworkPort.h"

namespace {

struct Family {
    const char* name;
    const char* type;
    const char* help;
    const char* label;  // the label that tells the series of one meter apart
    double factor = 1;  // from the reading's unit to the family's
};

Family FamilyOf(QuantityKind kind) {
    switch (kind) {
        case QuantityKind::Voltage:
            return {"kx880_voltage_volts", "gauge", "Phase voltage, primary side.", "phase"};
        case QuantityKind::LineVoltage:
            return {"kx880_line_voltage_volts", "gauge", "Line voltage, primary side.", "line"};
        case QuantityKind::Current:
            return {"kx880_current_amperes", "gauge", "Current, primary side.", "phase"};
        case QuantityKind::ActivePower:
            return {"kx880_power_watts", "gauge", "Active power.", "phase"};
        case QuantityKind::ReactivePower:
            return {"kx880_reactive_power_vars", "gauge", "Reactive power.", "phase"};
        case QuantityKind::ApparentPower:
            return {"kx880_apparent_power_volt_amperes", "gauge", "Apparent power.", "phase"};
        case QuantityKind::PowerFactor:
            return {"kx880_power_factor", "gauge", "Power factor.", "phase"};
        case QuantityKind::Frequency:
            return {"kx880_frequency_hertz", "gauge", "Frequency.", ""};
        case QuantityKind::ActiveEnergy:
            // Prometheus counts in base units: joules, not watt-hours (promtool insists).
            return {"kx880_active_energy_joules_total", "counter",
                    "Active energy counter (Wh x 3600).", "direction", 3600};
        case QuantityKind::ReactiveEnergy:
            return {"kx880_reactive_energy_var_seconds_total", "counter",
                    "Reactive energy counter (varh x 3600).", "direction", 3600};
    }
    return {"", "", "", ""};
}

std::string Labels(const std::string& bus, uint8_t address, const std::string& extra = "") {
    return "{bus=\"" + bus + "\",address=\"" + std::to_string(address) + "\"" + extra + "}";
}

void Header(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

class MetricsExporter : public IMetricsExporter {
  public:
    explicit MetricsExporter(std::string bus) : m_bus(std::move(bus)) {
        m_server.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(Render(), "text/plain; version=0.0.4; charset=utf-8");
        });
        m_server.Get("/healthz", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("ok\n", "text/plain");
        });
    }
    ~MetricsExporter() override {
        // stop() does nothing until the server loop runs: a stop that came too early would
        // leave the loop running and the join waiting for ever.
        while (m_thread.joinable() && !m_finished) {
            if (m_server.is_running()) {
                m_server.stop();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
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
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last[r.address] = r;
    }
    void OnRoundEnd(const std::vector<MeterHealth>& health) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_health = health;
    }
    void SetDroppedSource(std::function<uint64_t()> dropped) override {
        std::lock_guard<std::mutex> lock(m_mutex);  // a scrape may be under way
        m_dropped = std::move(dropped);
    }

  private:
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
    httplib::Server m_server;
    std::thread m_thread;
    std::atomic<bool> m_finished{false};
    std::mutex m_mutex;
    std::map<uint8_t, Reading> m_last;
    std::vector<MeterHealth> m_health;
    std::function<uint64_t()> m_dropped;
};

}  // namespace

std::string MetricsText(const std::string& bus, const std::vector<Reading>& last,
                        const std::vector<MeterHealth>& health, int64_t nowUnixMs,
                        std::optional<uint64_t> mqttDropped) {
    std::string out;
    // One family at a time, every meter's series under it, as the format wants them grouped.
    std::map<std::string, bool> done;
    for (const QuantityInfo& q : Quantities()) {
        const Family f = FamilyOf(q.kind);
        if (done[f.name]) continue;
        done[f.name] = true;
        Header(out, f.name, f.type, f.help);
        for (const Reading& r : last)
            for (int k = 0; k < kQuantityCount; ++k) {
                const QuantityInfo& s = Quantities()[k];
                if (FamilyOf(s.kind).name != std::string(f.name) || std::isnan(r.values[k]))
                    continue;
                const std::string extra =
                    *f.label ? std::string(",") + f.label + "=\"" + s.where + "\"" : "";
                out += std::string(f.name) + Labels(bus, r.address, extra) + " " +
                       NumberText(r.values[k] * f.factor) + "\n";
            }
    }
    Header(out, "kx880_replies_total", "counter", "Replies to the poller's requests by result.");
    for (const MeterHealth& h : health)
        for (auto [result, n] : {std::pair<const char*, uint64_t>{"ok", h.ok},
                                 {"timeout", h.timeouts},
                                 {"crc", h.crcErrors},
                                 {"exception", h.exceptions},
                                 {"stale", h.staleReplies}})
            out += "kx880_replies_total" +
                   Labels(bus, h.address, std::string(",result=\"") + result + "\"") + " " +
                   std::to_string(n) + "\n";
    Header(out, "kx880_up", "gauge", "1 while the meter answers, 0 while it is silent.");
    for (const MeterHealth& h : health)
        out += "kx880_up" + Labels(bus, h.address) + (h.answering ? " 1\n" : " 0\n");
    Header(out, "kx880_last_reading_age_seconds", "gauge",
           "Seconds since the meter's last good reply.");
    for (const MeterHealth& h : health)
        if (h.lastGoodUnixMs)
            out += "kx880_last_reading_age_seconds" + Labels(bus, h.address) + " " +
                   NumberText((nowUnixMs - h.lastGoodUnixMs) / 1000.0) + "\n";
    if (mqttDropped) {
        Header(out, "kx880_mqtt_dropped_messages_total", "counter",
               "MQTT messages dropped from the full queue while the broker was away.");
        out += "kx880_mqtt_dropped_messages_total{bus=\"" + bus + "\"} " +
               std::to_string(*mqttDropped) + "\n";
    }
    return out;
}

std::unique_ptr<IMetricsExporter> MakeMetricsExporter(const std::string& listen,
                                                      const std::string& bus, std::string& error) {
    std::string why;
    const auto where = ParseHostPort(listen, {std::nullopt, true}, why);
    if (!where) {
        error = "--http: " + why;
        return nullptr;
    }
    auto exporter = std::make_unique<MetricsExporter>(bus);
    errno = 0;
    if (!exporter->Listen(where->host.empty() ? "0.0.0.0" : where->host, where->port)) {
        // The library does not say why; errno does when the bind itself failed.
        const bool bindFailed =
            errno == EADDRINUSE || errno == EADDRNOTAVAIL || errno == EACCES || errno == EPERM;
        error = "--http: cannot listen on " + listen + " (" +
                (bindFailed ? std::strerror(errno) : "in use, or not an address of this machine") +
                ")";
        return nullptr;
    }
    return exporter;
}
