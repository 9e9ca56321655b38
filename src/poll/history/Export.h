// The history as it leaves the box: rows of minimum, mean and maximum per quantity, as CSV
// (RFC 4180, a header with units) or JSON, for the API and the history command alike.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "poll/history/Minute.h"

// "1m", "15m", "1h", "1d" as seconds; nothing for another text.
std::optional<int32_t> StepNamed(const std::string& text);
// ISO 8601 in UTC: 2026-12-10T13:00:00Z, with milliseconds or without Z, or a date alone
// (its midnight, UTC); nothing for another text.
std::optional<int64_t> ParseIsoUtc(const std::string& text);

std::string HistoryCsv(const std::vector<MinuteRow>& rows);
std::string HistoryJson(uint8_t address, int32_t stepS, const std::vector<MinuteRow>& rows);
