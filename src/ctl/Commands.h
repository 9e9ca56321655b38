// The commands of kx880-ctl; each returns its exit status.
#pragma once

#include <vector>

#include "ctl/Bus.h"
#include "ctl/CtlOptions.h"
#include "ctl/Plan.h"

int RunScan(Bus& bus, const CtlOptions& o);
int RunGet(Bus& bus, const CtlOptions& o);
int RunSet(Bus& bus, const CtlOptions& o);
int RunApply(Bus& bus, const CtlOptions& o, const std::vector<PlanRow>& plan);
int RunDiagnose(Bus& bus, const CtlOptions& o);

// What a meter is to become; a setting left out stays as it is.
struct Target {
    std::optional<long> pt, ct, wiring, address, baud, parityCode;
    bool Empty() const { return !pt && !ct && !wiring && !address && !baud && !parityCode; }
};

// Writes the target's settings into the meter at address with the console's frames, in the
// console's order, each verified by reading the parameter block back; stops at the first
// that is not verified. Without write, shows the frames instead. True when all verified.
bool Change(Bus& bus, uint8_t address, const MeterSettingsRead& old, const Target& t, bool write);
