#include "poll/out/Mqtt.h"

#include <mosquitto.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "base/Parse.h"
#include "poll/out/ReadingJson.h"

namespace {

constexpr int kQos = 1;
constexpr int kKeepAliveS = 30;
constexpr auto kUnreachableAfter = std::chrono::seconds(5);
constexpr int kLoopWaitMs = 1000;  // a publish wakes the loop at once; this bounds a stop
constexpr int kRetryFirstS = 1, kRetryMaxS = 10;          // reconnecting after 1, 4, 9, then 10 s
constexpr auto kGoodbyeWithin = std::chrono::seconds(2);  // a hung broker holds up no exit
// At most this many messages wait in the library for the broker's acknowledgement at once:
// one below the library's own limit (20), so that the goodbye "offline" at exit always goes
// out before the disconnect, which would otherwise cancel the last will with it unsent.
constexpr size_t kMaxInFlight = 19;

// "active_power_total" -> "Active power total".
QString Title(const char* key) {
    QString s = QString(key).replace('_', ' ');
    s[0] = s[0].toUpper();
    return s;
}

std::string NodeId(const std::string& bus, uint8_t address) {
    return "kx880_" + bus + "_" + std::to_string(address);
}

struct Message {
    std::string topic, payload;
};

struct Published {
    std::string signature, payload;
};

class MqttPublisher : public IMqttPublisher {
  public:
    MqttPublisher(const MqttOptions& o, std::string bus, std::vector<uint8_t> addresses,
                  std::function<void(const std::string&)> notice)
        : m_o(o),
          m_bus(std::move(bus)),
          m_addresses(std::move(addresses)),
          m_notice(std::move(notice)),
          m_window(std::clamp<size_t>(o.queueLimit / 2, 1, kMaxInFlight)),
          m_started(std::chrono::steady_clock::now()),
          m_answering(m_addresses.size(), true) {}

    // Everything but connecting; false and the reason when the library refuses a setting.
    bool SetUp(std::string& error) {
        int rc = mosquitto_lib_init();
        if (rc != MOSQ_ERR_SUCCESS) return Failed(error, "MQTT: cannot start libmosquitto", rc);
        m_libReady = true;
        const std::string id = m_o.clientId.empty() ? "kx880-poll-" + m_bus : m_o.clientId;
        m_mosq = mosquitto_new(id.c_str(), true, this);
        if (!m_mosq) {
            // errno says little here: the library cleans up after the refusal.
            error = "MQTT client id \"" + id + "\": " +
                    (errno == ENOMEM ? "out of memory"
                                     : "refused by libmosquitto (UTF-8, at most 65535 bytes)");
            return false;
        }
        // Our own thread runs the loop: publishing from the polling thread must wake it.
        if ((rc = mosquitto_threaded_set(m_mosq, true)) != MOSQ_ERR_SUCCESS)
            return Failed(error, "MQTT: threads", rc);
        if (!m_o.user.empty() &&
            (rc = mosquitto_username_pw_set(
                 m_mosq, m_o.user.c_str(),
                 m_o.password.empty() ? nullptr : m_o.password.c_str())) != MOSQ_ERR_SUCCESS)
            return Failed(error, "--mqtt-user/--mqtt-password-file", rc);
        if (!m_o.tlsCaFile.empty() &&
            (rc = mosquitto_tls_set(m_mosq, m_o.tlsCaFile.c_str(), nullptr, nullptr, nullptr,
                                    nullptr)) != MOSQ_ERR_SUCCESS)
            return Failed(error, "--mqtt-tls-ca: " + m_o.tlsCaFile, rc);
        // A poller that dies without a word shows as offline.
        const std::string will = PollerAvailabilityTopic(m_o, m_bus);
        if ((rc = mosquitto_will_set(m_mosq, will.c_str(), 7, "offline", kQos, true)) !=
            MOSQ_ERR_SUCCESS)
            return Failed(error, "MQTT: the last will on " + will, rc);
        mosquitto_connect_callback_set(m_mosq, OnConnect);
        mosquitto_disconnect_callback_set(m_mosq, OnDisconnect);
        mosquitto_publish_callback_set(m_mosq, OnPublish);
        mosquitto_message_callback_set(m_mosq, OnMessage);
        mosquitto_log_callback_set(m_mosq, OnLog);
        try {
            m_thread = std::thread([this] { Loop(); });
        } catch (const std::system_error& e) {
            error = std::string("MQTT: cannot start its thread: ") + e.what();
            return false;
        }
        return true;
    }

    ~MqttPublisher() override {
        if (m_thread.joinable()) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_connected) {
                    const std::string topic = PollerAvailabilityTopic(m_o, m_bus);
                    mosquitto_publish(m_mosq, nullptr, topic.c_str(), 7, "offline", kQos, true);
                }
            }
            {
                std::lock_guard<std::mutex> lock(m_wakeMutex);
                m_stopBy = std::chrono::steady_clock::now() + kGoodbyeWithin;
                m_stopping = true;
            }
            mosquitto_disconnect(m_mosq);
            m_wake.notify_all();
            m_thread.join();
        }
        if (m_mosq) mosquitto_destroy(m_mosq);
        if (m_libReady) mosquitto_lib_cleanup();
    }

    void Start() override {
        {
            std::lock_guard<std::mutex> lock(m_wakeMutex);
            m_go = true;
        }
        m_wake.notify_all();
    }

    void OnReading(const Reading& r) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        Enqueue({StateTopic(m_o, m_bus, r.address), StatePayload(r, m_bus)});
        if (r.findings) PublishFindings(r.address, *r.findings);
        Flush();
    }

    void OnRoundEnd(const std::vector<MeterHealth>& health) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (size_t k = 0; k < health.size() && k < m_answering.size(); ++k)
                if (health[k].answering != m_answering[k]) {
                    m_answering[k] = health[k].answering;
                    Enqueue({MeterAvailabilityTopic(m_o, m_bus, health[k].address),
                             m_answering[k] ? "online" : "offline"});
                }
            Flush();
        }
        if (!m_everConnected && !m_warned &&
            std::chrono::steady_clock::now() - m_started > kUnreachableAfter)
            Warn("no connection yet; polling goes on and publishing starts when it answers");
    }

    uint64_t Dropped() const override { return m_dropped; }

  private:
    // m_mutex held. Retained, and sent again only when what stands changes; the latest
    // goes out first on every connection, so that one lost to a full queue is not stale.
    void PublishFindings(uint8_t address, const std::vector<Finding>& findings) {
        const std::string signature = FindingsSignature(findings);
        const auto it = m_findings.find(address);
        if (it != m_findings.end() && it->second.signature == signature) return;
        const Published& now = m_findings[address] = {signature, FindingsPayload(findings)};
        Enqueue({FindingsTopic(m_o, m_bus, address), now.payload});
    }

    static void OnConnect(mosquitto*, void* self, int rc) {
        static_cast<MqttPublisher*>(self)->Connected(rc);
    }
    static void OnDisconnect(mosquitto*, void* self, int rc) {
        static_cast<MqttPublisher*>(self)->Disconnected(rc);
    }
    static void OnPublish(mosquitto*, void* self, int mid) {
        static_cast<MqttPublisher*>(self)->Acknowledged(mid);
    }
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
        static_cast<MqttPublisher*>(self)->Retained(m);
    }
    static void OnLog(mosquitto*, void* self, int level, const char* text) {
        static_cast<MqttPublisher*>(self)->Logged(level, text);
    }

    static std::string Reason(int rc) {
        return rc == MOSQ_ERR_ERRNO ? std::string(strerror(errno)) : mosquitto_strerror(rc);
    }

    static bool Failed(std::string& error, const std::string& what, int rc) {
        error = what + ": " + Reason(rc);
        return false;
    }

    std::string Where() const { return "MQTT broker " + m_o.host + ":" + std::to_string(m_o.port); }

    void Warn(const std::string& what) {
        if (m_warned.exchange(true)) return;
        m_notice(Where() + ": " + what);
    }

    // The library's own loop gives up for good after a failed TLS handshake and after a first
    // connection that failed; this one retries whatever went wrong, with back-off.
    void Loop() {
        {
            std::unique_lock<std::mutex> lock(m_wakeMutex);
            m_wake.wait(lock, [this] { return m_go || m_stopping; });
        }
        if (m_stopping) return;
        int rc = mosquitto_connect_async(m_mosq, m_o.host.c_str(), m_o.port, kKeepAliveS);
        if (rc != MOSQ_ERR_SUCCESS) Warn("cannot reach it (" + Reason(rc) + ")");
        for (;;) {
            if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop(m_mosq, kLoopWaitMs, 1);
            if (m_stopping) {
                // Until the "offline" and the goodbye are out, if the broker takes them.
                if (rc != MOSQ_ERR_SUCCESS || std::chrono::steady_clock::now() > m_stopBy) return;
            } else if (rc != MOSQ_ERR_SUCCESS) {
                const int delay =
                    std::min(kRetryFirstS * (m_retries + 1) * (m_retries + 1), kRetryMaxS);
                m_retries = std::min(m_retries + 1, kRetryMaxS);  // the delay is capped anyway
                std::unique_lock<std::mutex> lock(m_wakeMutex);
                if (m_wake.wait_for(lock, std::chrono::seconds(delay),
                                    [this] { return m_stopping.load(); }))
                    return;
                lock.unlock();
                rc = mosquitto_reconnect_async(m_mosq);
            }
        }
    }

    void Connected(int rc) {
        if (rc != 0) {
            if (!m_refusedTold.exchange(true))
                m_notice(Where() + " refused the connection: " + mosquitto_connack_string(rc) +
                         "; polling goes on");
            return;
        }
        m_retries = 0;
        if (m_everConnected.exchange(true) || m_warned) m_notice(Where() + ": connected");
        m_refusedTold = false;
        m_tlsTold = false;
        std::vector<bool> answering;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            answering = m_answering;
        }
        // Birth, discovery and the meters' availability go out before what waited.
        std::deque<Message> first = {{PollerAvailabilityTopic(m_o, m_bus), "online"}};
        for (size_t k = 0; k < m_addresses.size(); ++k) {
            if (m_o.haDiscovery)
                for (auto& d : DiscoveryConfigs(m_o, m_bus, m_addresses[k]))
                    first.push_back({d.topic, d.payload});
            first.push_back({MeterAvailabilityTopic(m_o, m_bus, m_addresses[k]),
                             answering[k] ? "online" : "offline"});
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const auto& [address, last] : m_findings)
                first.push_back({FindingsTopic(m_o, m_bus, address), last.payload});
        }
        if (m_o.haCleanup) {
            for (const char* component : {"/sensor/+/+/config", "/binary_sensor/+/+/config"}) {
                const std::string pattern = m_o.haPrefix + component;
                mosquitto_subscribe(m_mosq, nullptr, pattern.c_str(), kQos);
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_first = std::move(first);
        m_connected = true;
        // The library sends again, after this callback, what the last connection left
        // unacknowledged: anything newer waits for those, or it would be overwritten by them.
        m_resending = !m_held.empty();
        Flush();
    }

    void Disconnected(int rc) {
        bool was;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            was = m_connected;
            m_connected = false;
            m_first.clear();  // made anew for the next connection
        }
        if (rc != 0 && was) m_notice(Where() + ": connection lost; reconnecting, polling goes on");
    }

    void Acknowledged(int mid) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held.erase(mid);
        if (m_held.empty()) m_resending = false;
        Flush();
    }

    // OpenSSL's reason for a failed handshake reaches us only through the library's log.
    void Logged(int level, const char* text) {
        if (!(level & MOSQ_LOG_ERR) || std::strncmp(text, "OpenSSL Error", 13) != 0) return;
        if (m_tlsTold.exchange(true)) return;
        m_warned = true;
        const char* reason = std::strrchr(text, ':');
        m_notice(Where() + ": TLS failed (" + (reason ? reason + 1 : text) +
                 "); retrying, never without TLS; polling goes on");
    }

    // With --ha-cleanup: a retained discovery config of this bus for a meter no longer
    // polled is deleted, with its state and availability.
    void Retained(const mosquitto_message* m) {
        if (!m->payloadlen) return;
        const std::string topic = m->topic;
        const std::string node = NodeId(m_bus, 0);
        const std::string tail = "/" + node.substr(0, node.size() - 1);  // "/kx880_<bus>_"
        std::string ours;  // "<prefix>/sensor/kx880_<bus>_" or the binary sensor's
        for (const char* component : {"/sensor", "/binary_sensor"})
            if (topic.rfind(m_o.haPrefix + component + tail, 0) == 0)
                ours = m_o.haPrefix + component + tail;
        const size_t slash = ours.empty() ? std::string::npos : topic.find('/', ours.size());
        if (slash == std::string::npos) return;
        std::string why;
        const auto address =
            ParseNumber(topic.substr(ours.size(), slash - ours.size()), 0, 255, why);
        if (!address) return;  // another bus whose name starts like ours
        for (uint8_t a : m_addresses)
            if (a == *address) return;
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const std::string& t : {topic, StateTopic(m_o, m_bus, uint8_t(*address)),
                                     MeterAvailabilityTopic(m_o, m_bus, uint8_t(*address)),
                                     FindingsTopic(m_o, m_bus, uint8_t(*address))})
            m_first.push_back({t, ""});
        Flush();
    }

    // m_mutex held. What the library holds counts against the bound too; only what is still
    // ours can give way.
    void Enqueue(Message m) {
        m_queue.push_back(std::move(m));
        while (!m_queue.empty() && m_queue.size() + m_held.size() > m_o.queueLimit)
            m_queue.pop_front(), ++m_dropped;
    }

    // m_mutex held. A few messages at a time go to the library, so that while the broker
    // hangs the rest wait here, where the oldest give way to fresh ones.
    void Flush() {
        while (m_connected && !m_resending && m_held.size() < m_window) {
            std::deque<Message>& from = m_first.empty() ? m_queue : m_first;
            if (from.empty()) return;
            const Message& m = from.front();
            int mid = 0;
            const int rc = mosquitto_publish(m_mosq, &mid, m.topic.c_str(), int(m.payload.size()),
                                             m.payload.data(), kQos, true);
            from.pop_front();
            // Without a connection the library keeps it all the same and sends it on the next.
            if (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN)
                m_held.insert(mid);
            else
                ++m_dropped;  // a message the library refuses can never go
            if (rc == MOSQ_ERR_NO_CONN) return;
        }
    }

    const MqttOptions m_o;
    const std::string m_bus;
    const std::vector<uint8_t> m_addresses;
    const std::function<void(const std::string&)> m_notice;
    const size_t m_window;  // messages the library may hold unacknowledged
    const std::chrono::steady_clock::time_point m_started;
    mosquitto* m_mosq = nullptr;
    bool m_libReady = false;
    std::thread m_thread;
    int m_retries = 0;  // the loop thread's: attempts since the last accepted connection

    std::mutex m_mutex;  // what the polling thread and the loop thread share, below
    std::vector<bool> m_answering;
    // What this connection owes first: birth, discovery, cleanup. Made anew for each
    // connection, so bounded by the meters; outside the queue's bound, never dropped.
    std::deque<Message> m_first;
    std::deque<Message> m_queue;  // readings and availability changes, bounded
    std::set<int> m_held;         // mids the library holds until the broker acknowledges them
    bool m_connected = false;
    bool m_resending = false;

    // Start and stop; taken alone, never with m_mutex.
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_go = false;
    std::atomic<bool> m_stopping{false};
    std::chrono::steady_clock::time_point m_stopBy;

    std::map<uint8_t, Published> m_findings;  // per meter, the findings last handed on
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<bool> m_everConnected{false}, m_warned{false}, m_refusedTold{false},
        m_tlsTold{false};
};

}  // namespace

std::string StateTopic(const MqttOptions& o, const std::string& bus, uint8_t address) {
    return o.prefix + "/" + bus + "/" + std::to_string(address) + "/state";
}

std::string MeterAvailabilityTopic(const MqttOptions& o, const std::string& bus, uint8_t address) {
    return o.prefix + "/" + bus + "/" + std::to_string(address) + "/availability";
}

std::string FindingsTopic(const MqttOptions& o, const std::string& bus, uint8_t address) {
    return o.prefix + "/" + bus + "/" + std::to_string(address) + "/findings";
}

std::string FindingsPayload(const std::vector<Finding>& findings) {
    bool problem = false;
    for (const Finding& f : findings) problem = problem || f.severity != Severity::Info;
    return CompactJson({{"problem", problem}, {"findings", FindingsJson(findings)}});
}

std::string PollerAvailabilityTopic(const MqttOptions& o, const std::string& bus) {
    return o.prefix + "/" + bus + "/availability";
}

std::string StatePayload(const Reading& r, const std::string& bus) {
    return CompactJson(ReadingJson(r, bus));
}

namespace {

// Block demand in the state message: the last interval, the one under way and the peaks.
void AddDemandConfigs(const MqttOptions& o, const std::string& bus, uint8_t address,
                      const QJsonObject& device, const QJsonArray& availability,
                      std::vector<DiscoveryMessage>& out) {
    struct Sensor {
        const char* key;
        const char* name;
        const char* field;  // in value_json.demand
        bool apparent;
    } sensors[] = {
        {"demand_w", "Demand", "last.active_w", false},
        {"demand_running_w", "Demand running", "running_w", false},
        {"demand_predicted_w", "Demand predicted", "predicted_w", false},
        {"demand_day_max_w", "Maximum demand today", "day_max_w.value", false},
        {"demand_month_max_w", "Maximum demand this month", "month_max_w.value", false},
        {"demand_va", "Apparent demand", "last.apparent_va", true},
        {"demand_month_max_va", "Maximum apparent demand this month", "month_max_va.value", true},
    };
    const std::string node = NodeId(bus, address);
    for (const Sensor& s : sensors) {
        // A part not there yet (no interval closed, no peak today) is unknown, not an error.
        const std::string path = std::string("value_json.demand.") + s.field;
        const std::string head = path.substr(0, path.rfind('.'));
        const QJsonObject c{
            {"name", s.name},
            {"unique_id", QString::fromStdString(node + "_" + s.key)},
            {"object_id", QString::fromStdString(node + "_" + s.key)},
            {"state_topic", QString::fromStdString(StateTopic(o, bus, address))},
            {"value_template",
             QString::fromStdString("{{ " + path + " if value_json.demand is defined and " + head +
                                    " is not none else none }}")},
            {"device_class", s.apparent ? "apparent_power" : "power"},
            {"unit_of_measurement", s.apparent ? "VA" : "W"},
            {"state_class", "measurement"},
            {"availability", availability},
            {"availability_mode", "all"},
            {"device", device},
        };
        out.push_back({o.haPrefix + "/sensor/" + node + "/" + s.key + "/config", CompactJson(c)});
    }
}

}  // namespace

std::vector<DiscoveryMessage> DiscoveryConfigs(const MqttOptions& o, const std::string& bus,
                                               uint8_t address) {
    const std::string node = NodeId(bus, address);
    const QJsonObject device{
        {"identifiers", QJsonArray{QString::fromStdString(node)}},
        {"name", QString::fromStdString("KX880 " + bus + " #" + std::to_string(address))},
        {"model", "KX880"},
    };
    const QJsonArray availability{
        QJsonObject{{"topic", QString::fromStdString(PollerAvailabilityTopic(o, bus))}},
        QJsonObject{{"topic", QString::fromStdString(MeterAvailabilityTopic(o, bus, address))}},
    };
    std::vector<DiscoveryMessage> out;
    for (const QuantityInfo& q : Quantities()) {
        const KindInfo& ha = InfoOf(q.kind);
        QJsonObject c{
            {"name", Title(q.key)},
            {"unique_id", QString::fromStdString(node + "_" + q.key)},
            {"object_id", QString::fromStdString(node + "_" + q.key)},
            {"state_topic", QString::fromStdString(StateTopic(o, bus, address))},
            {"value_template", QString("{{ value_json.%1 }}").arg(q.key)},
            {"device_class", ha.haClass},
            {"state_class", ha.haStateClass},
            {"availability", availability},
            {"availability_mode", "all"},
            {"device", device},
        };
        if (*ha.unit) c["unit_of_measurement"] = ha.unit;
        out.push_back({o.haPrefix + "/sensor/" + node + "/" + q.key + "/config", CompactJson(c)});
    }
    if (o.demand) AddDemandConfigs(o, bus, address, device, availability, out);
    if (!o.findings) return out;
    // The wiring checks: on while a fault or a warning stands, the findings as attributes.
    const QString findings = QString::fromStdString(FindingsTopic(o, bus, address));
    const QJsonObject problem{
        {"name", "Wiring check"},
        {"unique_id", QString::fromStdString(node + "_problem")},
        {"object_id", QString::fromStdString(node + "_problem")},
        {"state_topic", findings},
        {"value_template", "{{ 'ON' if value_json.problem else 'OFF' }}"},
        {"json_attributes_topic", findings},
        {"device_class", "problem"},
        {"entity_category", "diagnostic"},
        {"availability", availability},
        {"availability_mode", "all"},
        {"device", device},
    };
    out.push_back(
        {o.haPrefix + "/binary_sensor/" + node + "/problem/config", CompactJson(problem)});
    return out;
}

std::string CaFileProblem(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    if (std::FILE* f = std::fopen(path.c_str(), "r"))
        std::fclose(f);
    else
        return std::strerror(errno);
    // Loaded as libmosquitto loads it when connecting: it checks no more than readability
    // beforehand, and a file it cannot load would fail only at every connection.
    X509_STORE* store = X509_STORE_new();
    if (!store) return "out of memory";
    ERR_clear_error();
    std::string problem;
    if (X509_STORE_load_locations(store, path.c_str(), nullptr) != 1) {
        problem = "not a PEM certificate file";
        const char* why = ERR_reason_error_string(ERR_peek_last_error());
        if (why) problem += std::string(" (") + why + ")";
    } else {
        problem = "holds revocation lists but no certificate";
        STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store);
        for (int k = 0; k < sk_X509_OBJECT_num(objects); ++k)
            if (X509_OBJECT_get_type(sk_X509_OBJECT_value(objects, k)) == X509_LU_X509)
                problem.clear();
    }
    ERR_clear_error();
    X509_STORE_free(store);
    return problem;
}

std::unique_ptr<IMqttPublisher> MakeMqttPublisher(const MqttOptions& options, std::string bus,
                                                  std::vector<uint8_t> addresses,
                                                  std::function<void(const std::string&)> notice,
                                                  std::string& error) {
    if (!options.tlsCaFile.empty()) {
        const std::string problem = CaFileProblem(options.tlsCaFile);
        if (!problem.empty()) {
            error = "--mqtt-tls-ca: " + options.tlsCaFile + ": " + problem;
            return nullptr;
        }
    }
    auto publisher = std::make_unique<MqttPublisher>(options, std::move(bus), std::move(addresses),
                                                     std::move(notice));
    if (!publisher->SetUp(error)) return nullptr;
    return publisher;
}
