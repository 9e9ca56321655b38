// Publishing readings to an MQTT broker, with Home Assistant discovery. The broker being
// away or hung never holds up polling: messages wait in a bounded queue (the oldest dropped
// and counted) and go out when the connection is back. The bound covers the messages handed
// to the library and not yet acknowledged as well.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "poll/Reading.h"

struct MqttOptions {
    std::string host;  // empty: no MQTT
    int port = 1883;
    std::string user, password;  // the password as read from its file
    std::string tlsCaFile;       // TLS when given
    std::string prefix = "kx880";
    std::string clientId;  // empty: kx880-poll-<bus>
    bool haDiscovery = false;
    std::string haPrefix = "homeassistant";
    bool haCleanup = false;
    size_t queueLimit = 10000;
    bool findings = false;  // the wiring checks run: their topic and Home Assistant sensor
    bool demand = false;    // block demand in the state: Home Assistant sensors for it  //
                            // messages kept, sent or not, until the broker acknowledges them
};

class IMqttPublisher : public IReadingSink {
  public:
    // Connecting starts here, not at the making, so that a start refused for another reason
    // has not touched the broker.
    virtual void Start() = 0;
    virtual uint64_t Dropped() const = 0;  // messages dropped from the full queue
};

// Connects in the background once started and keeps reconnecting with back-off; with TLS
// asked for, a connection is TLS or nothing. notice tells the operator of the first failure
// and of each change of connection. Nothing and a reason in error when the set-up cannot
// work: a CA file that holds no usable certificate, or an option the library refuses.
std::unique_ptr<IMqttPublisher> MakeMqttPublisher(const MqttOptions& options, std::string bus,
                                                  std::vector<uint8_t> addresses,
                                                  std::function<void(const std::string&)> notice,
                                                  std::string& error);

// Why TLS cannot trust the certificates of this CA file; empty when it can.
std::string CaFileProblem(const std::string& path);

// The topics and payloads, as pure functions for the tests.
std::string StateTopic(const MqttOptions& o, const std::string& bus, uint8_t address);
std::string MeterAvailabilityTopic(const MqttOptions& o, const std::string& bus, uint8_t address);
std::string PollerAvailabilityTopic(const MqttOptions& o, const std::string& bus);
std::string StatePayload(const Reading& r, const std::string& bus);
std::string FindingsTopic(const MqttOptions& o, const std::string& bus, uint8_t address);
// {"problem": a fault or warning stands, "findings": [...]}
std::string FindingsPayload(const std::vector<Finding>& findings);
struct DiscoveryMessage {
    std::string topic, payload;
};
std::vector<DiscoveryMessage> DiscoveryConfigs(const MqttOptions& o, const std::string& bus,
                                               uint8_t address);
