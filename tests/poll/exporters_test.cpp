// Topics, Home Assistant discovery configs and the Prometheus exposition, checked against
// what Home Assistant's and Prometheus's documentation ask for.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <fstream>
#include <map>
#include <set>

#include "poll/PollOptions.h"
#include "poll/ReadingFilter.h"
#include "poll/out/Mqtt.h"
#include "poll/out/Prometheus.h"
#include "support/FreePort.h"

namespace {

QJsonObject Json(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

HttpOptions Listen(const std::string& where) {
    HttpOptions o;
    o.listen = where;
    return o;
}

Reading ReadingAt(uint8_t address) {
    Reading r;
    r.address = address;
    for (int k = 0; k < kQuantityCount; ++k) r.values[k] = 1.5 + k;
    r.energyScale = 1;
    return r;
}

}  // namespace

TEST(MqttTopics, StateAvailabilityAndDiscoveryForEveryQuantity) {
    MqttOptions o;
    EXPECT_EQ(StateTopic(o, "east", 7), "kx880/east/7/state");
    EXPECT_EQ(MeterAvailabilityTopic(o, "east", 7), "kx880/east/7/availability");
    EXPECT_EQ(PollerAvailabilityTopic(o, "east"), "kx880/east/availability");
    const auto configs = DiscoveryConfigs(o, "east", 7);
    ASSERT_EQ(configs.size(), size_t(kQuantityCount));
    // Home Assistant's device classes and the units it accepts for them.
    const std::map<std::string, std::tuple<std::string, std::string, std::string>> expected = {
        {"voltage_a", {"voltage", "V", "measurement"}},
        {"line_voltage_mean", {"voltage", "V", "measurement"}},
        {"current_zero_sequence", {"current", "A", "measurement"}},
        {"active_power_total", {"power", "W", "measurement"}},
        {"reactive_power_b", {"reactive_power", "var", "measurement"}},
        {"apparent_power_c", {"apparent_power", "VA", "measurement"}},
        {"power_factor_total", {"power_factor", "", "measurement"}},
        {"frequency", {"frequency", "Hz", "measurement"}},
        {"active_energy_reverse", {"energy", "Wh", "total_increasing"}},
        {"reactive_energy_forward", {"reactive_energy", "varh", "total_increasing"}},
    };
    std::set<std::string> ids;
    for (const auto& d : configs) {
        const QJsonObject c = Json(d.payload);
        const std::string key = d.topic.substr(34, d.topic.size() - 34 - 7);
        EXPECT_EQ(d.topic, "homeassistant/sensor/kx880_east_7/" + key + "/config");
        EXPECT_EQ(c["state_topic"].toString().toStdString(), "kx880/east/7/state");
        EXPECT_EQ(c["value_template"].toString().toStdString(), "{{ value_json." + key + " }}");
        EXPECT_EQ(c["unique_id"].toString().toStdString(), "kx880_east_7_" + key);
        ids.insert(c["unique_id"].toString().toStdString());
        EXPECT_EQ(c["device"].toObject()["model"].toString(), "KX880");
        EXPECT_EQ(c["availability"].toArray().size(), 2);
        EXPECT_EQ(c["availability_mode"].toString(), "all");
        auto it = expected.find(key);
        if (it == expected.end()) continue;
        const auto& [cls, unit, state] = it->second;
        EXPECT_EQ(c["device_class"].toString().toStdString(), cls) << key;
        EXPECT_EQ(c["unit_of_measurement"].toString().toStdString(), unit) << key;
        EXPECT_EQ(c.contains("unit_of_measurement"), !unit.empty()) << key;
        EXPECT_EQ(c["state_class"].toString().toStdString(), state) << key;
    }
    EXPECT_EQ(ids.size(), size_t(kQuantityCount));
    // Every field a template reads is in the state message.
    const QJsonObject state = Json(StatePayload(ReadingAt(7), "east"));
    for (const QuantityInfo& q : Quantities()) EXPECT_TRUE(state.contains(q.key)) << q.key;
}

TEST(MqttOptions, NeedTheBrokerAndAReadablePassword) {
    auto parse = [](std::vector<std::string> args, std::string& error) {
        args.insert(args.begin(), {"kx880-poll", "--port", "COM1", "--address", "1"});
        return ParsePollOptions(args, false, error);
    };
    std::string error;
    auto o = parse({"--mqtt", "broker.local:1884", "--ha-discovery", "--name", "east-1"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->mqtt.host, "broker.local");
    EXPECT_EQ(o->mqtt.port, 1884);
    EXPECT_EQ(o->bus, "east-1");
    EXPECT_EQ(parse({"--mqtt", "b", "--mqtt-tls-ca", "/ca.pem"}, error)->mqtt.port, 8883);
    EXPECT_EQ(parse({"--mqtt", "::1"}, error)->mqtt.host, "::1");
    EXPECT_EQ(parse({"--mqtt", "[::1]:1884"}, error)->mqtt.port, 1884);
    for (auto bad : std::vector<std::vector<std::string>>{
             {"--mqtt-user", "u"},
             {"--mqtt", "b:0"},
             {"--mqtt", ":1883"},
             {"--mqtt", "b", "--mqtt-password-file", "/nonexistent/pw"},
             {"--mqtt", "b", "--ha-cleanup"},
             {"--mqtt", "b", "--mqtt-prefix", "a/#"},
             {"--mqtt", "b", "--mqtt-queue", "0"},
             {"--name", "east/1"},
             {"--http", ""},
             {"--http", "9880"},
             {"--mqtt", "b", "--mqtt-tls-ca", ""},
         }) {
        error.clear();
        EXPECT_FALSE(parse(bad, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(MqttSetUp, ACaFileTlsCannotUseOrASettingTheLibraryRefusesStopsTheStart) {
    EXPECT_EQ(CaFileProblem("/nonexistent/ca.pem"), "No such file or directory");
    EXPECT_EQ(CaFileProblem("/"), "Is a directory");
    const std::string dir = testing::TempDir();
    std::ofstream(dir + "text.pem") << "not a certificate\n";
    std::ofstream(dir + "key.pem")
        << "-----BEGIN PUBLIC KEY-----\n"  // from openssl pkey
           "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEoO6a8wMBmzTSFDHmH/jmMVZHN79w\n"
           "th2uSwcmdpSC9nm7+5J2xaZGdTWNpMV4v2JTBvEt0XjugAQ2PV4rU1yYMg==\n"
           "-----END PUBLIC KEY-----\n";
    for (const char* name : {"text.pem", "key.pem"})
        EXPECT_NE(CaFileProblem(dir + name).find("not a PEM certificate"), std::string::npos);
    // The distribution's bundle, which OpenSSL's own tools trust.
    const char* bundle = "/etc/ssl/certs/ca-certificates.crt";
    if (access(bundle, R_OK) == 0) {
        EXPECT_EQ(CaFileProblem(bundle), "");
    }

    MqttOptions o;
    o.host = "127.0.0.1";
    o.tlsCaFile = dir + "key.pem";
    std::string error;
    const auto quiet = [](const std::string&) {};
    EXPECT_FALSE(MakeMqttPublisher(o, "east", {1}, quiet, error));
    EXPECT_NE(error.find("--mqtt-tls-ca: " + dir + "key.pem: "), std::string::npos) << error;
    o.tlsCaFile.clear();
    o.clientId = "\xff";  // not UTF-8, which MQTT requires of a client id
    EXPECT_FALSE(MakeMqttPublisher(o, "east", {1}, quiet, error));
    EXPECT_NE(error.find("client id"), std::string::npos) << error;
    o.clientId.clear();
    EXPECT_TRUE(MakeMqttPublisher(o, "east", {1}, quiet, error)) << error;
}

TEST(Prometheus, ExpositionGroupsFamiliesAndDropsASilentMetersValues) {
    std::vector<MeterHealth> health(2);
    health[0].address = 1, health[0].ok = 10, health[0].timeouts = 2,
    health[0].lastGoodUnixMs = 1000;
    health[1].address = 2, health[1].answering = false, health[1].lastGoodUnixMs = 500;
    const std::string text = MetricsText("east", {ReadingAt(1)}, health, 3500, 4);
    auto has = [&](const std::string& line) { return text.find(line + "\n") != std::string::npos; };
    EXPECT_TRUE(has("# TYPE kx880_voltage_volts gauge"));
    EXPECT_TRUE(has("kx880_voltage_volts{bus=\"east\",address=\"1\",phase=\"a\"} 1.5"));
    EXPECT_TRUE(has("kx880_line_voltage_volts{bus=\"east\",address=\"1\",line=\"ca\"} 2.5"));
    EXPECT_TRUE(has("kx880_frequency_hertz{bus=\"east\",address=\"1\"} 25.5"));
    // Counters in base units: 30.5 Wh of forward active energy are 109800 J.
    EXPECT_TRUE(has("# TYPE kx880_active_energy_joules_total counter"));
    EXPECT_TRUE(
        has("kx880_active_energy_joules_total{bus=\"east\",address=\"1\",direction=\"forward\"} "
            "109800"));
    EXPECT_TRUE(has("kx880_replies_total{bus=\"east\",address=\"1\",result=\"timeout\"} 2"));
    EXPECT_TRUE(has("kx880_up{bus=\"east\",address=\"1\"} 1"));
    EXPECT_TRUE(has("kx880_up{bus=\"east\",address=\"2\"} 0"));
    EXPECT_TRUE(has("kx880_last_reading_age_seconds{bus=\"east\",address=\"2\"} 3"));
    EXPECT_TRUE(has("kx880_mqtt_dropped_messages_total{bus=\"east\"} 4"));
    EXPECT_EQ(text.find("kx880_voltage_volts{bus=\"east\",address=\"2\""), std::string::npos);
    // Each family's TYPE line comes once, before all its samples.
    EXPECT_EQ(text.find("# TYPE kx880_voltage_volts"), text.rfind("# TYPE kx880_voltage_volts"));
}

TEST(Prometheus, ABadOrBusyListenAddressIsRefused) {
    std::string error;
    EXPECT_FALSE(MakeHttpService(Listen("9880"), "b", {1}, nullptr, error));
    EXPECT_NE(error.find("--http"), std::string::npos);
    EXPECT_FALSE(MakeHttpService(Listen("127.0.0.1:99999"), "b", {1}, nullptr, error));
    auto first =
        MakeHttpService(Listen("127.0.0.1:0"), "b", {1}, nullptr, error);  // port 0: refused too
    EXPECT_FALSE(first);
}

TEST(Prometheus, AnExporterEndsAtOnceHoweverSoonAfterItsStart) {
    for (int k = 0; k < 50; ++k) {
        std::string error;
        auto exporter =
            MakeHttpService(Listen("127.0.0.1:" + std::to_string(FreePortBelowEphemeral())), "b",
                            {1}, nullptr, error);
        ASSERT_TRUE(exporter) << error;
    }  // each destroyed at once: a stop before its server loop ran used to hang the join
}

namespace {

struct Capture : IReadingSink {
    std::vector<Reading> readings;
    std::vector<MeterHealth> health;
    void OnReading(const Reading& r) override { readings.push_back(r); }
    void OnRoundEnd(const std::vector<MeterHealth>& h) override { health = h; }
};

Finding Sample(const char* code, Severity severity, const char* phase) {
    return {code, severity, {phase}, {{"active_power_b", -450.5}}, "Check it.", 0};
}

}  // namespace

// Between the engine and the outputs: a counter stepping back is held and counted, and the
// findings of a reading reach the outputs once they stand.
TEST(ReadingFilter, HoldsACounterThatStepsBackAndAttachesTheFindings) {
    Capture out;
    std::vector<std::string> notices;
    CheckOptions checks;
    checks.diagnose = true, checks.windowMs = 0;
    ReadingFilter filter({&out}, checks, [&](const std::string& n) { notices.push_back(n); });
    const int forward = QuantityIndex("active_energy_forward");
    for (double e : {1000.0, 990.0}) {
        Reading r = ReadingAt(4);
        r.params = {4, 1, 1, 0, 0, 0, 1};
        r.values[forward] = e;
        filter.OnReading(r);
    }
    std::vector<MeterHealth> health(1);
    health[0].address = 4;
    filter.OnRoundEnd(health);
    ASSERT_EQ(out.readings.size(), 2u);
    EXPECT_EQ(out.readings[1].values[forward], 1000);  // held
    EXPECT_EQ(out.health[0].energyHeld, 1u);
    ASSERT_TRUE(out.readings[1].findings);
    bool backwards = false;
    for (const Finding& f : *out.readings[1].findings) backwards |= f.code == "energy-backwards";
    EXPECT_TRUE(backwards);
    EXPECT_TRUE(notices.empty());  // a reset is told, a step held is counted
}

TEST(WiringChecksOutputs, FindingsTopicProblemSensorAndSeries) {
    MqttOptions o;
    o.findings = true;
    EXPECT_EQ(FindingsTopic(o, "east", 7), "kx880/east/7/findings");
    const QJsonObject fault = Json(FindingsPayload(
        {Sample("no-load", Severity::Info, "a"), Sample("ct-reversed", Severity::Fault, "b")}));
    EXPECT_TRUE(fault["problem"].toBool());
    const QJsonObject first = fault["findings"].toArray()[1].toObject();
    EXPECT_EQ(first["code"].toString(), "ct-reversed");
    EXPECT_EQ(first["severity"].toString(), "fault");
    EXPECT_EQ(first["phases"].toArray()[0].toString(), "b");
    EXPECT_EQ(first["evidence"].toObject()["active_power_b"].toDouble(), -450.5);
    EXPECT_FALSE(
        Json(FindingsPayload({Sample("no-load", Severity::Info, "a")}))["problem"].toBool());
    // Home Assistant: a problem sensor per meter, on while a fault or warning stands.
    const auto configs = DiscoveryConfigs(o, "east", 7);
    ASSERT_EQ(configs.size(), size_t(kQuantityCount) + 1);
    EXPECT_EQ(configs.back().topic, "homeassistant/binary_sensor/kx880_east_7/problem/config");
    const QJsonObject problem = Json(configs.back().payload);
    EXPECT_EQ(problem["device_class"].toString(), "problem");
    EXPECT_EQ(problem["state_topic"].toString(), "kx880/east/7/findings");
    EXPECT_EQ(problem["json_attributes_topic"].toString(), "kx880/east/7/findings");
    // Prometheus: a series per standing finding; the energy counts of every meter.
    Reading r = ReadingAt(7);
    r.findings = {Sample("ct-reversed", Severity::Fault, "b")};
    std::vector<MeterHealth> health(1);
    health[0].address = 7, health[0].energyHeld = 2, health[0].energyResets = 1;
    const std::string text = MetricsText("east", {r}, health, 0, std::nullopt);
    for (const char* line :
         {"kx880_finding{bus=\"east\",address=\"7\",code=\"ct-reversed\",phase=\"b\"} 1\n",
          "kx880_energy_held_total{bus=\"east\",address=\"7\"} 2\n",
          "kx880_energy_resets_total{bus=\"east\",address=\"7\"} 1\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    r.findings = std::vector<Finding>{};
    EXPECT_EQ(MetricsText("east", {r}, health, 0, std::nullopt).find("kx880_finding{"),
              std::string::npos);
}

// Block demand reaches Home Assistant and Prometheus: sensors that read the state's demand
// object, and gauges of each kind.
TEST(DemandOutputs, HomeAssistantSensorsAndGauges) {
    MqttOptions o;
    o.demand = true;
    const auto configs = DiscoveryConfigs(o, "east", 7);
    ASSERT_EQ(configs.size(), size_t(kQuantityCount) + 7);
    const QJsonObject demand = Json(configs[kQuantityCount].payload);
    EXPECT_EQ(configs[kQuantityCount].topic, "homeassistant/sensor/kx880_east_7/demand_w/config");
    EXPECT_EQ(demand["unit_of_measurement"].toString(), "W");
    EXPECT_EQ(demand["value_template"].toString(),
              "{{ value_json.demand.last.active_w if value_json.demand is defined and "
              "value_json.demand.last is not none else none }}");
    Reading r = ReadingAt(7);
    DemandNow d;
    d.runningW = 11500, d.monthMax = {14000, 1796860800000};
    DemandInterval last;
    last.activeW = 12000, last.apparentVA = 15000;
    d.last = last;
    r.demand = d;
    const std::string text = MetricsText("east", {r}, {}, 0, std::nullopt);
    for (const char* line :
         {"kx880_demand_watts{bus=\"east\",address=\"7\",kind=\"last\"} 12000\n",
          "kx880_demand_watts{bus=\"east\",address=\"7\",kind=\"running\"} 11500\n",
          "kx880_demand_watts{bus=\"east\",address=\"7\",kind=\"month_max\"} 14000\n",
          "kx880_demand_volt_amperes{bus=\"east\",address=\"7\",kind=\"last\"} 15000\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(text.find("kind=\"day_max\""), std::string::npos);  // no peak today yet
    EXPECT_EQ(Json(StatePayload(r, "east"))["demand"]
                  .toObject()["month_max_w"]
                  .toObject()["start"]
                  .toString(),
              "2026-12-10T00:00:00.000Z");
}
