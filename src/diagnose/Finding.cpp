#include "diagnose/Finding.h"

const char* SeverityName(Severity s) {
    switch (s) {
        case Severity::Fault:
            return "fault";
        case Severity::Warning:
            return "warning";
        default:
            return "info";
    }
}

std::string PhaseList(const Finding& f) {
    std::string out;
    for (const std::string& p : f.phases) out += (out.empty() ? "" : ",") + p;
    return out;
}

std::string FindingKey(const Finding& f) {
    return f.code + ":" + PhaseList(f);
}

std::string FindingsSignature(const std::vector<Finding>& findings) {
    std::string s;
    for (const Finding& f : findings) s += FindingKey(f) + "=" + SeverityName(f.severity) + ";";
    return s;
}
