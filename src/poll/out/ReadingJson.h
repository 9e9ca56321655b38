// One reading as a JSON object: every quantity in base units under its key (null while not
// known), the meter's settings, and the limit status when the meter sent it.
#pragma once

#include <QJsonObject>
#include <string>

#include "poll/Reading.h"

QJsonObject ReadingJson(const Reading& r, const std::string& bus);
std::string CompactJson(const QJsonObject& o);  // one line, shortest round-trip numbers
