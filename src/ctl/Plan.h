// A site plan: one meter a row, the settings it must have.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct PlanRow {
    int line;  // in the file, for messages
    uint8_t address;
    long pt, ct, wiring;
    std::optional<int> baud, parityCode;  // the line settings it must run at, when given
};

// CSV with a header row naming the columns address, pt, ct, wiring and optionally baud and
// parity, in any order. Nothing and the reason (with the line number) for a malformed file.
std::optional<std::vector<PlanRow>> ParsePlan(const std::string& text, std::string& error);
