// The dashboard's JSON: a meter as the API and the page see it, its trend, the events of
// the live stream. Pure, for the tests.
#pragma once

#include <QJsonObject>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "poll/Reading.h"

// What the dashboard keeps of a meter: its last reading (kept while it is silent, with its
// time) and its health.
struct MeterView {
    uint8_t address = 0;
    std::optional<Reading> reading;
    MeterHealth health;
};

// "waiting" before the first reading, then "answering" or "silent".
const char* StateOf(const MeterView& m);
QJsonObject HealthJson(const MeterHealth& h);
// Every quantity as the console shows it, "-" while not known.
QJsonObject TextsJson(const Reading& r);
// address, state, silent_since, health, reading (the JSON lines' object and wiring_name),
// texts, findings.
QJsonObject MeterJson(const MeterView& m, const std::string& bus);
// The "reading" event: address, reading and texts.
QJsonObject ReadingEventJson(const Reading& r, const std::string& bus);
// The "health" event: every meter's state and health.
QJsonObject HealthEventJson(const std::vector<MeterView>& meters);
QJsonObject TrendJson(uint8_t address, int quantity,
                      const std::vector<std::pair<int64_t, double>>& samples);
// {"error": text}
std::string ErrorJson(const std::string& text);
