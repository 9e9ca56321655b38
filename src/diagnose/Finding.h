// What a check found: a code the outputs use as it stands, how serious it is, where, the
// numbers it rests on and what to check on site.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

enum class Severity { Info, Warning, Fault };
const char* SeverityName(Severity s);  // "info", "warning", "fault"

struct Finding {
    std::string code;  // "ct-reversed", "voltage-unbalance", ...
    Severity severity = Severity::Info;
    // Phases "a", "b", "c" or lines "ab", "bc", "ca"; empty for the meter as a whole.
    std::vector<std::string> phases;
    std::vector<std::pair<std::string, double>> evidence;  // in the outputs' units
    std::string advice;                                    // one sentence
    int64_t sinceUnixMs = 0;  // when it began to hold; 0 for a finding of one reading
};

// "a,b"; empty for the meter as a whole.
std::string PhaseList(const Finding& f);
// What tells one finding from another while it stands: its code and phases.
std::string FindingKey(const Finding& f);
// What stands, as one text: two lists of findings with the same codes, phases and
// severities give the same, so an output can tell when to say it again.
std::string FindingsSignature(const std::vector<Finding>& findings);
