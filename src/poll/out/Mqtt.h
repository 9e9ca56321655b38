// Publishing readings to an MQTT broker, with Home Assistant discovery. The broker being
// away never holds up polling: messages wait in a bounded queue (the oldest dropped and
// counted) and go out when the connection is back.
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
    size_t queueLimit = 10000;  // messages kept while the broker is away
};

class IMqttPublisher : public IReadingSink {
  public:
    virtual uint64_t Dropped() const = 0;  // messages dropped from the full queue
};

// Connects in the background and keeps reconnecting with back-off; notice tells the
// operator of the first failure and of each change of connection.
std::unique_ptr<IMqttPublisher> MakeMqttPublisher(const MqttOptions& options, std::string bus,
                                                  std::vector<uint8_t> addresses,
                                                  std::function<void(const std::string&)> notice);

// The topics and payloads, as pure functions for the tests.
std::string StateTopic(const MqttOptions& o, const std::string& bus, uint8_t address);
std::string MeterAvailabilityTopic(const MqttOptions& o, const std::string& bus, uint8_t address);
std::string PollerAvailabilityTopic(const MqttOptions& o, const std::string& bus);
std::string StatePayload(const Reading& r, const std::string& bus);
struct DiscoveryMessage {
    std::string topic, payload;
};
std::vector<DiscoveryMessage> DiscoveryConfigs(const MqttOptions& o, const std::string& bus,
                                               uint8_t address);
