// Texts shared by the outputs: numbers that round-trip, whatever the locale; timestamps.
#pragma once

#include <cstdint>
#include <string>

// The shortest text that reads back as the same double; empty for a value not known (NaN).
std::string NumberText(double value);
// ISO 8601 in UTC with milliseconds: 2026-12-09T17:05:03.250Z.
std::string IsoUtc(int64_t unixMs);
// One CSV field as RFC 4180 quotes it: in double quotes, doubled inside, when it holds a
// comma, a quote or a line break.
std::string CsvField(const std::string& text);
