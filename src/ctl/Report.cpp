#include "ctl/Report.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "diagnose/Checks.h"
#include "modbus/MeterSettings.h"
#include "poll/out/ReadingJson.h"

namespace {

uint16_t Word(const uint8_t* d, int reg) {
    return static_cast<uint16_t>(d[2 * reg] << 8 | d[2 * reg + 1]);
}

QJsonObject PlaceJson(const Place& at) {
    return {{"address", at.address}, {"baud", at.baud}, {"parity", ParityName(at.parityCode)}};
}

std::string Compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

std::string Pad(std::string s, size_t width) {
    return s.size() >= width ? s + " " : s + std::string(width - s.size(), ' ');
}

}  // namespace

MeterSettingsRead DecodeSettings(const uint8_t* d) {
    // Registers 0x0300 on: address, wiring, parity, baud rate, -, Urg flag, energy
    // exponent, PT, -, CT; the accuracy class at 0x0310.
    return {static_cast<uint8_t>(Word(d, 0)),
            Word(d, 1),
            Word(d, 2),
            Word(d, 3),
            Word(d, 5),
            Word(d, 6),
            Word(d, 7),
            Word(d, 9),
            static_cast<uint16_t>(d[33])};
}

std::string Hex(const uint8_t* bytes, size_t n) {
    std::string out;
    char b[4];
    for (size_t k = 0; k < n; ++k) {
        std::snprintf(b, sizeof b, k ? " %02X" : "%02X", bytes[k]);
        out += b;
    }
    return out;
}

void Report::Line(const std::string& text) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void Report::Meter(const Place& at, const std::optional<MeterSettingsRead>& s) {
    if (m_jsonl) {
        QJsonObject o = PlaceJson(at);
        if (s)
            for (auto [k, v] : {std::pair<const char*, int>{"pt", s->pt},
                                {"ct", s->ct},
                                {"wiring", s->wiring},
                                {"class", s->classCode},
                                {"urg", s->urgFlag == 1},
                                {"energy_exponent", s->exponent}})
                o[k] = v;
        if (s) o["wiring_name"] = WiringName(s->wiring);
        return Line(Compact(o));
    }
    if (!std::exchange(m_header, true))
        Line("address baud   parity PT     CT     wiring                           class urg exp");
    std::string row = Pad(std::to_string(at.address), 8) + Pad(std::to_string(at.baud), 7) +
                      Pad(ParityName(at.parityCode), 7);
    if (s)
        row += Pad(std::to_string(s->pt), 7) + Pad(std::to_string(s->ct), 7) +
               Pad(std::to_string(s->wiring) + " " + WiringName(s->wiring), 33) +
               Pad(std::to_string(s->classCode), 6) + Pad(s->urgFlag == 1 ? "yes" : "no", 4) +
               std::to_string(s->exponent);
    else
        row += "(answers, but its settings cannot be read)";
    Line(row);
}

void Report::Written(const Place& at, const char* setting, long oldValue, long newValue,
                     bool verified, const std::string& detail) {
    if (m_jsonl) {
        QJsonObject o{{"address", at.address},   {"setting", setting},   {"old", qint64(oldValue)},
                      {"new", qint64(newValue)}, {"verified", verified}, {"at", PlaceJson(at)}};
        if (!detail.empty()) o["detail"] = QString::fromStdString(detail);
        return Line(Compact(o));
    }
    Line("meter " + std::to_string(at.address) + ": " + setting + " " + std::to_string(oldValue) +
         " -> " + std::to_string(newValue) + (verified ? " verified" : " NOT verified") +
         (detail.empty() ? "" : " (" + detail + ")"));
}

void Report::Status(int address, const std::string& status, const std::string& detail) {
    if (m_jsonl) {
        QJsonObject o{{"address", address}, {"status", QString::fromStdString(status)}};
        if (!detail.empty()) o["detail"] = QString::fromStdString(detail);
        return Line(Compact(o));
    }
    Line("meter " + std::to_string(address) + ": " + status +
         (detail.empty() ? "" : " (" + detail + ")"));
}

void Report::WouldWrite(int address, const char* setting, const std::string& frameHex) {
    if (m_jsonl)
        return Line(Compact({{"address", address},
                             {"setting", setting},
                             {"would_write", QString::fromStdString(frameHex)}}));
    Line("meter " + std::to_string(address) + ": would write " + setting + ": " + frameHex);
}

void Report::Diagnosed(int address, const char* wiring, uint32_t pt, uint32_t ct, int readings,
                       double seconds, const std::vector<Finding>& findings) {
    const std::string over = std::to_string(readings) + " readings over " + Fixed(seconds, 1) +
                             " s; " + wiring + ", PT " + std::to_string(pt) + ", CT " +
                             std::to_string(ct);
    if (m_jsonl) {
        if (findings.empty()) return Status(address, "no findings", over);
        for (const Finding& f : findings) {
            QJsonObject o = FindingJson(f);
            o.remove("since");
            o.insert("address", address);
            Line(Compact(o));
        }
        return;
    }
    Line("meter " + std::to_string(address) + ": " + over +
         (findings.empty() ? ": no findings" : ""));
    for (const Finding& f : findings) {
        const std::string severity =
            f.severity == Severity::Fault ? "FAULT" : SeverityName(f.severity);
        Line("  " + Pad(severity, 8) + f.code + (f.phases.empty() ? "" : " " + PhaseList(f)) +
             ": " + f.advice);
        std::string numbers;
        for (const auto& [name, value] : f.evidence)
            numbers += (numbers.empty() ? "" : ", ") + name + " " + Fixed(value, 2);
        Line("          " + numbers);
    }
}
