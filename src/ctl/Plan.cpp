#include "ctl/Plan.h"

#include <algorithm>
#include <map>
#include <sstream>

#include "base/Parse.h"
#include "ctl/Report.h"
#include "modbus/MeterSettings.h"

namespace {

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string cell; std::getline(in, cell, ',');) {
        cell.erase(0, cell.find_first_not_of(" \t"));
        cell.erase(cell.find_last_not_of(" \t\r") + 1);
        out.push_back(cell);
    }
    if (!line.empty() && line.back() == ',') out.push_back("");
    return out;
}

// One row's cells by column name into a plan row; the reason in error otherwise.
bool ReadRow(const std::map<std::string, size_t>& at, const std::vector<std::string>& cells,
             PlanRow& row, std::string& error) {
    auto cell = [&](const char* name) { return at.count(name) ? cells[at.at(name)] : ""; };
    auto number = [&](const char* name, long min, long max, long& out) {
        const auto v = ParseNumber(cell(name), min, max, error);
        if (v) out = *v;
        return bool(v);
    };
    long address = 0;
    if (!number("address", 1, 255, address) || !number("pt", kMinRatio, kMaxRatio, row.pt) ||
        !number("ct", kMinRatio, kMaxRatio, row.ct) || !number("wiring", 0, 5, row.wiring))
        return false;
    row.address = uint8_t(address);
    if (!cell("baud").empty()) {
        long baud = 0;
        if (!number("baud", 1200, 19200, baud) || !BaudRateOf(int32_t(baud)))
            return error = "baud \"" + cell("baud") + "\" is not a rate of the meter", false;
        row.baud = int(baud);
    }
    if (!cell("parity").empty()) {
        row.parityCode = ParityCodeNamed(cell("parity"));
        if (!row.parityCode)
            return error = "parity \"" + cell("parity") + "\" is not none, odd or even", false;
    }
    return true;
}

}  // namespace

std::optional<std::vector<PlanRow>> ParsePlan(const std::string& text, std::string& error) {
    std::stringstream in(text);
    std::map<std::string, size_t> at;  // column of each name
    std::vector<PlanRow> rows;
    int n = 0;
    for (std::string line; std::getline(in, line);) {
        ++n;
        const auto cells = Cells(line);
        if (cells.empty() || (cells.size() == 1 && cells[0].empty())) continue;
        if (at.empty()) {
            for (size_t k = 0; k < cells.size(); ++k)
                if (!at.emplace(cells[k], k).second)
                    return error = "line " + std::to_string(n) + ": column \"" + cells[k] +
                                   "\" named twice",
                           std::nullopt;
            for (const char* need : {"address", "pt", "ct", "wiring"})
                if (!at.count(need))
                    return error = "line " + std::to_string(n) +
                                   ": the header needs address, pt, ct, wiring[, baud, parity]",
                           std::nullopt;
            continue;
        }
        PlanRow row{n, 0, 0, 0, 0, std::nullopt, std::nullopt};
        std::string why;
        if (cells.size() != at.size())
            why = std::to_string(cells.size()) + " cells, the header has " +
                  std::to_string(at.size());
        else if (ReadRow(at, cells, row, why) &&
                 std::any_of(rows.begin(), rows.end(),
                             [&](const PlanRow& r) { return r.address == row.address; }))
            why = "address " + std::to_string(row.address) + " planned twice";
        if (!why.empty()) return error = "line " + std::to_string(n) + ": " + why, std::nullopt;
        rows.push_back(row);
    }
    if (at.empty()) return error = "the plan is empty", std::nullopt;
    return rows;
}
