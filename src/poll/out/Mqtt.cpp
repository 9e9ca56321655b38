#include "poll/out/Mqtt.h"

#include <mosquitto.h>

#include <QJsonArray>
#include <QJsonObject>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>

#include "poll/out/ReadingJson.h"

namespace {

constexpr int kQos = 1;
constexpr int kKeepAliveS = 30;
constexpr auto kUnreachableAfter = std::chrono::seconds(5);

struct HaClass {
    const char* deviceClass;
    const char* unit;  // as Home Assistant spells it; empty: none
    const char* stateClass;
};

HaClass HaClassOf(QuantityKind kind) {
    switch (kind) {
        case QuantityKind::Voltage:
        case QuantityKind::LineVoltage:
            return {"voltage", "V", "measurement"};
        case QuantityKind::Current:
            return {"current", "A", "measurement"};
        case QuantityKind::ActivePower:
            return {"power", "W", "measurement"};
        case QuantityKind::ReactivePower:
            return {"reactive_power", "var", "measurement"};
        case QuantityKind::ApparentPower:
            return {"apparent_power", "VA", "measurement"};
        case QuantityKind::PowerFactor:
            return {"power_factor", "", "measurement"};
        case QuantityKind::Frequency:
            return {"frequency", "Hz", "measurement"};
        case QuantityKind::ActiveEnergy:
            return {"energy", "Wh", "total_increasing"};
        case QuantityKind::ReactiveEnergy:
            return {"reactive_energy", "varh", "total_increasing"};
    }
    return {"", "", "measurement"};
}

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

class MqttPublisher : public IMqttPublisher {
  public:
    MqttPublisher(const MqttOptions& o, std::string bus, std::vector<uint8_t> addresses,
                  std::function<void(const std::string&)> notice)
        : m_o(o),
          m_bus(std::move(bus)),
          m_addresses(std::move(addresses)),
          m_notice(std::move(notice)),
          m_answering(m_addresses.size(), true),
          m_started(std::chrono::steady_clock::now()) {
        mosquitto_lib_init();
        const std::string id = o.clientId.empty() ? "kx880-poll-" + m_bus : o.clientId;
        m_mosq = mosquitto_new(id.c_str(), true, this);
        if (!o.user.empty())
            mosquitto_username_pw_set(m_mosq, o.user.c_str(),
                                      o.password.empty() ? nullptr : o.password.c_str());
        if (!o.tlsCaFile.empty())
            mosquitto_tls_set(m_mosq, o.tlsCaFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        // A poller that dies without a word shows as offline.
        const std::string will = PollerAvailabilityTopic(o, m_bus);
        mosquitto_will_set(m_mosq, will.c_str(), 7, "offline", kQos, true);
        mosquitto_connect_callback_set(m_mosq, OnConnect);
        mosquitto_disconnect_callback_set(m_mosq, OnDisconnect);
        mosquitto_message_callback_set(m_mosq, OnMessage);
        mosquitto_reconnect_delay_set(m_mosq, 1, 10, true);
        const int rc = mosquitto_connect_async(m_mosq, o.host.c_str(), o.port, kKeepAliveS);
        if (rc != MOSQ_ERR_SUCCESS) Warn("cannot reach it (" + Reason(rc) + ")");
        mosquitto_loop_start(m_mosq);
    }

    ~MqttPublisher() override {
        if (m_connected) {
            const std::string topic = PollerAvailabilityTopic(m_o, m_bus);
            mosquitto_publish(m_mosq, nullptr, topic.c_str(), 7, "offline", kQos, true);
        }
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
        mosquitto_lib_cleanup();
    }

    void OnReading(const Reading& r) override {
        Enqueue({StateTopic(m_o, m_bus, r.address), StatePayload(r, m_bus)});
        Flush();
    }

    void OnRoundEnd(const std::vector<MeterHealth>& health) override {
        for (size_t k = 0; k < health.size() && k < m_answering.size(); ++k)
            if (health[k].answering != m_answering[k]) {
                m_answering[k] = health[k].answering;
                Enqueue({MeterAvailabilityTopic(m_o, m_bus, health[k].address),
                         m_answering[k] ? "online" : "offline"});
            }
        if (!m_everConnected && !m_warned &&
            std::chrono::steady_clock::now() - m_started > kUnreachableAfter)
            Warn("no connection yet; polling goes on and publishing starts when it answers");
        Flush();
    }

    uint64_t Dropped() const override { return m_dropped; }

  private:
    static void OnConnect(mosquitto*, void* self, int rc) {
        static_cast<MqttPublisher*>(self)->Connected(rc);
    }
    static void OnDisconnect(mosquitto*, void* self, int rc) {
        static_cast<MqttPublisher*>(self)->Disconnected(rc);
    }
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
        static_cast<MqttPublisher*>(self)->Retained(m);
    }

    static std::string Reason(int rc) {
        return rc == MOSQ_ERR_ERRNO ? std::string(strerror(errno)) : mosquitto_strerror(rc);
    }

    std::string Where() const { return "MQTT broker " + m_o.host + ":" + std::to_string(m_o.port); }

    void Warn(const std::string& what) {
        if (m_warned.exchange(true)) return;
        m_notice(Where() + ": " + what);
    }

    void Connected(int rc) {
        if (rc != 0) {
            if (!m_refusedTold.exchange(true))
                m_notice(Where() + " refused the connection: " + mosquitto_connack_string(rc) +
                         "; polling goes on");
            return;
        }
        if (m_everConnected.exchange(true) || m_warned) m_notice(Where() + ": connected");
        m_refusedTold = false;
        // Birth, discovery and the meters' availability go out before what waited.
        std::vector<Message> first = {{PollerAvailabilityTopic(m_o, m_bus), "online"}};
        for (size_t k = 0; k < m_addresses.size(); ++k) {
            if (m_o.haDiscovery)
                for (auto& d : DiscoveryConfigs(m_o, m_bus, m_addresses[k]))
                    first.push_back({d.topic, d.payload});
            first.push_back({MeterAvailabilityTopic(m_o, m_bus, m_addresses[k]),
                             m_answering[k] ? "online" : "offline"});
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.insert(m_queue.begin(), first.begin(), first.end());
        }
        if (m_o.haCleanup) {
            const std::string pattern = m_o.haPrefix + "/sensor/+/+/config";
            mosquitto_subscribe(m_mosq, nullptr, pattern.c_str(), kQos);
        }
        m_connected = true;
        Flush();
    }

    void Disconnected(int rc) {
        const bool was = m_connected.exchange(false);
        if (rc != 0 && was) m_notice(Where() + ": connection lost; reconnecting, polling goes on");
    }

    // With --ha-cleanup: a retained discovery config of this bus for a meter no longer
    // polled is deleted, with its state and availability.
    void Retained(const mosquitto_message* m) {
        if (!m->payloadlen) return;
        const std::string topic = m->topic;
        const std::string head = m_o.haPrefix + "/sensor/" + NodeId(m_bus, 0);
        const std::string ours = head.substr(0, head.size() - 1);  // "<prefix>/sensor/kx880_<bus>_"
        const size_t slash = topic.find('/', ours.size());
        if (topic.compare(0, ours.size(), ours) != 0 || slash == std::string::npos) return;
        const std::string digits = topic.substr(ours.size(), slash - ours.size());
        if (digits.empty() || digits.size() > 3 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return;  // another bus whose name starts like ours
        const int address = std::stoi(digits);
        for (uint8_t a : m_addresses)
            if (a == address) return;
        for (const std::string& t :
             {std::string(m->topic), StateTopic(m_o, m_bus, uint8_t(address)),
              MeterAvailabilityTopic(m_o, m_bus, uint8_t(address))})
            mosquitto_publish(m_mosq, nullptr, t.c_str(), 0, nullptr, kQos, true);
    }

    void Enqueue(Message m) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.size() >= m_o.queueLimit) m_queue.pop_front(), ++m_dropped;
        m_queue.push_back(std::move(m));
    }

    void Flush() {
        std::lock_guard<std::mutex> lock(m_mutex);
        while (m_connected && !m_queue.empty()) {
            const Message& m = m_queue.front();
            const int rc = mosquitto_publish(m_mosq, nullptr, m.topic.c_str(),
                                             int(m.payload.size()), m.payload.data(), kQos, true);
            if (rc != MOSQ_ERR_SUCCESS) break;  // kept for the next connection
            m_queue.pop_front();
        }
    }

    MqttOptions m_o;
    std::string m_bus;
    std::vector<uint8_t> m_addresses;
    std::function<void(const std::string&)> m_notice;
    std::vector<bool> m_answering;
    std::chrono::steady_clock::time_point m_started;
    mosquitto* m_mosq = nullptr;
    std::mutex m_mutex;
    std::deque<Message> m_queue;
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<bool> m_connected{false}, m_everConnected{false}, m_warned{false},
        m_refusedTold{false};
};

}  // namespace

std::string StateTopic(const MqttOptions& o, const std::string& bus, uint8_t address) {
    return o.prefix + "/" + bus + "/" + std::to_string(address) + "/state";
}

std::string MeterAvailabilityTopic(const MqttOptions& o, const std::string& bus, uint8_t address) {
    return o.prefix + "/" + bus + "/" + std::to_string(address) + "/availability";
}

std::string PollerAvailabilityTopic(const MqttOptions& o, const std::string& bus) {
    return o.prefix + "/" + bus + "/availability";
}

std::string StatePayload(const Reading& r, const std::string& bus) {
    return CompactJson(ReadingJson(r, bus));
}

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
        const HaClass ha = HaClassOf(q.kind);
        QJsonObject c{
            {"name", Title(q.key)},
            {"unique_id", QString::fromStdString(node + "_" + q.key)},
            {"object_id", QString::fromStdString(node + "_" + q.key)},
            {"state_topic", QString::fromStdString(StateTopic(o, bus, address))},
            {"value_template", QString("{{ value_json.%1 }}").arg(q.key)},
            {"device_class", ha.deviceClass},
            {"state_class", ha.stateClass},
            {"availability", availability},
            {"availability_mode", "all"},
            {"device", device},
        };
        if (*ha.unit) c["unit_of_measurement"] = ha.unit;
        out.push_back({o.haPrefix + "/sensor/" + node + "/" + q.key + "/config", CompactJson(c)});
    }
    return out;
}

std::unique_ptr<IMqttPublisher> MakeMqttPublisher(const MqttOptions& options, std::string bus,
                                                  std::vector<uint8_t> addresses,
                                                  std::function<void(const std::string&)> notice) {
    return std::make_unique<MqttPublisher>(options, std::move(bus), std::move(addresses),
                                           std::move(notice));
}
