#include "sim/WiringFault.h"

#include <utility>

namespace {

struct FaultName {
    const char* name;
    WiringFault::Kind kind;
    bool twoPhases;
};
constexpr FaultName kFaultNames[] = {
    {"ct-reversed", WiringFault::Kind::CtReversed, false},
    {"ct-crossed", WiringFault::Kind::CtCrossed, true},
    {"voltage-missing", WiringFault::Kind::VoltageMissing, false},
    {"pt-reversed", WiringFault::Kind::PtReversed, false},
};

// 0, 1, 2 for A, B, C in either case; -1 for anything else.
int PhaseNamed(const std::string& text) {
    if (text.size() != 1) return -1;
    const char c = text[0];
    return c == 'A' || c == 'a' ? 0 : c == 'B' || c == 'b' ? 1 : c == 'C' || c == 'c' ? 2 : -1;
}

std::optional<WiringFault> Phases(const FaultName& f, const std::string& phases,
                                  std::string& error) {
    const size_t comma = phases.find(',');
    const std::string first = phases.substr(0, comma);
    const std::string second = comma == std::string::npos ? "" : phases.substr(comma + 1);
    const int x = PhaseNamed(first), y = f.twoPhases ? PhaseNamed(second) : 0;
    if (x < 0 || y < 0 || f.twoPhases != (comma != std::string::npos)) {
        error = std::string(f.name) +
                (f.twoPhases ? " takes two phases X,Y, each" : " takes one phase,") +
                " A, B or C, not \"" + phases + "\"";
        return std::nullopt;
    }
    if (f.twoPhases && x == y) {
        error = std::string(f.name) + " takes two different phases, not \"" + phases + "\"";
        return std::nullopt;
    }
    return WiringFault{f.kind, x, y};
}

}  // namespace

std::optional<WiringFault> ParseWiringFault(const std::string& text, std::string& error) {
    const size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    for (const FaultName& f : kFaultNames)
        if (name == f.name && colon != std::string::npos)
            return Phases(f, text.substr(colon + 1), error);
    error = "expected ct-reversed:X, ct-crossed:X,Y, voltage-missing:X or pt-reversed:X, not \"" +
            text + "\"";
    return std::nullopt;
}

void ApplyWiringFaults(MeterInputs& in, const std::vector<WiringFault>& faults) {
    for (const WiringFault& f : faults) {
        switch (f.kind) {
            case WiringFault::Kind::CtReversed:
                in.i[f.phase] = -in.i[f.phase];
                break;
            case WiringFault::Kind::CtCrossed:
                std::swap(in.i[f.phase], in.i[f.other]);
                break;
            case WiringFault::Kind::VoltageMissing:
                in.v[f.phase] = 0;
                break;
            case WiringFault::Kind::PtReversed:
                in.v[f.phase] = -in.v[f.phase];
                break;
        }
    }
}
