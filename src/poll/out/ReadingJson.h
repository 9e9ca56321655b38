// One reading as a JSON object: every quantity in base units under its key (null while not
// known), the meter's settings, the limit status when the meter sent it, and the findings
// of the wiring checks when they are made.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <string>

#include "poll/Reading.h"

QJsonObject ReadingJson(const Reading& r, const std::string& bus);
// A finding: code, severity, phases, evidence (name to number), advice, and since when it
// stands when it does.
QJsonObject FindingJson(const Finding& f);
QJsonArray FindingsJson(const std::vector<Finding>& findings);
// Block demand: the interval under way (running and predicted), the last closed one and the
// peaks of the day and the month, each with its interval's start.
QJsonObject DemandJson(const DemandNow& d);
std::string CompactJson(const QJsonObject& o);
// A number, or null for one not known (NaN) or not finite, which JSON cannot hold.
QJsonValue JsonNumber(double v);  // one line, shortest round-trip numbers
