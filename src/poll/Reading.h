// What the poller produces: one reading per meter per round, each meter's health, and the
// events an operator must hear of. Outputs consume them behind IReadingSink.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "diagnose/Finding.h"
#include "measure/LimitStatus.h"
#include "measure/MeasurementBlock.h"
#include "modbus/ParamBlock.h"
#include "poll/history/DemandTypes.h"

struct Reading {
    uint8_t address = 0;
    int64_t unixMs = 0;  // when the reply was complete
    MeasurementValues values{};
    ParamBlock params{};  // the meter's own settings the values were scaled with
    // The energy multiplier applied: the meter's exponent as a power of ten, the last valid
    // one when the meter reports an exponent outside the table, 0 (energies not known)
    // when it never reported a valid one.
    int32_t energyScale = 0;
    // The two limit-status bytes, when the meter sent them behind the frame.
    std::optional<uint8_t> voltageStatus, currentStatus;
    // With --diagnose: the wiring checks' findings that stand (none is an empty list).
    std::optional<std::vector<Finding>> findings;
    // With --history or --demand-minutes: block demand as it stands after this reading.
    std::optional<DemandNow> demand;
};

struct MeterHealth {
    uint8_t address = 0;
    uint64_t ok = 0, timeouts = 0, exceptions = 0;
    uint64_t badFrames = 0;      // bytes that were no valid reply: CRC, framing, another address
    uint64_t staleReplies = 0;   // a gateway's replies to earlier requests, dropped
    std::string lastError;       // empty until something went wrong
    bool answering = true;       // false from the moment it was reported silent until it answers
    int64_t lastGoodUnixMs = 0;  // 0: never
    uint64_t energyHeld = 0;     // readings in which a counter stepped back and was held
    uint64_t energyResets = 0;   // counters that stayed lower and were taken as reset
};

class IReadingSink {
  public:
    virtual ~IReadingSink() = default;
    virtual void OnReading(const Reading& reading) = 0;
    // After every round, the health of every meter in address-list order.
    virtual void OnRoundEnd(const std::vector<MeterHealth>&) {}
};

// "normal", "under" or "over" for field 0..3 of a limit-status byte.
inline const char* LimitWord(uint8_t statusByte, int field) {
    static const char* const words[] = {"normal", "under", "over"};
    return words[static_cast<int>(LimitField(statusByte, field))];
}
