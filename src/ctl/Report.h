// What kx880-ctl says: a meter's settings as its parameter block holds them and where it
// answered, each write with its read-back, and what became of a meter; as a table on a
// terminal or as JSON lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "diagnose/Finding.h"
#include "serial/LineSettings.h"

// The settings of a meter, from the 38 data bytes of its parameter block.
struct MeterSettingsRead {
    uint8_t address;
    uint16_t wiring, parityCode, baudCode, urgFlag, exponent, pt, ct, classCode;
};
MeterSettingsRead DecodeSettings(const uint8_t* d);

// Where a meter answered.
struct Place {
    int address;
    int baud;
    int parityCode;
};

class Report {
  public:
    explicit Report(bool jsonl) : m_jsonl(jsonl) {}
    void Meter(const Place& at, const std::optional<MeterSettingsRead>& s);
    // One setting written: old and new value, whether reading back showed the new one.
    void Written(const Place& at, const char* setting, long oldValue, long newValue, bool verified,
                 const std::string& detail);
    void Status(int address, const std::string& status, const std::string& detail = "");
    void WouldWrite(int address, const char* setting, const std::string& frameHex);
    // A meter's findings from readings over seconds; none: "no findings".
    void Diagnosed(int address, const char* wiring, uint32_t pt, uint32_t ct, int readings,
                   double seconds, const std::vector<Finding>& findings);

  private:
    void Line(const std::string& text);
    bool m_jsonl;
    bool m_header = false;
};

std::string Hex(const uint8_t* bytes, size_t n);
