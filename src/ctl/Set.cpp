// set and apply: the console's writes, each confirmed by reading the meter back.
#include <algorithm>

#include "ctl/Commands.h"
#include "modbus/MeterSettings.h"

namespace {

// The rate a baud-rate code stands for; -1 for a code outside the table.
long BaudOfCode(uint16_t code) {
    for (const BaudRate& r : kBaudRates)
        if (r.code == code) return r.baud;
    return -1;
}

// One write of the series: which setting, its register, its old and new value.
struct Step {
    const char* name;
    uint16_t reg;
    bool ratio;  // a ratio: two registers, function 16
    long oldValue, newValue;
};

// The series in the console's order: PT, CT, wiring; then the address; the line settings
// last, since they change how the meter is reached.
std::vector<Step> Series(const MeterSettingsRead& s, const Target& t) {
    std::vector<Step> out;
    auto add = [&](const char* name, uint16_t reg, bool ratio, long old,
                   const std::optional<long>& v) {
        if (v) out.push_back({name, reg, ratio, old, *v});
    };
    add("pt", kRegPt, true, s.pt, t.pt);
    add("ct", kRegCt, true, s.ct, t.ct);
    add("wiring", kRegWiring, false, s.wiring, t.wiring);
    add("address", kRegAddress, false, s.address, t.address);
    add("baud", kRegBaud, false, BaudOfCode(s.baudCode), t.baud);
    add("parity", kRegParity, false, s.parityCode, t.parityCode);
    return out;
}

uint16_t RegisterValue(const Step& s) {
    return s.reg == kRegBaud ? BaudRateOf(int32_t(s.newValue))->code : uint16_t(s.newValue);
}

long ReadBack(const MeterSettingsRead& s, const Step& step) {
    switch (step.reg) {
        case kRegPt:
            return s.pt;
        case kRegCt:
            return s.ct;
        case kRegWiring:
            return s.wiring;
        case kRegAddress:
            return s.address;
        case kRegBaud:
            return BaudOfCode(s.baudCode);
        default:
            return s.parityCode;
    }
}

// A meter silent after a change of its line settings is looked for where it was, once.
std::string LookBack(Bus& bus, const Place& before) {
    std::string why;
    if (!bus.MoveTo(before.baud, before.parityCode) ||
        !bus.ReadSettings(uint8_t(before.address), why))
        return "answers neither at the new settings nor at the old";
    return std::string("still answers at ") + std::to_string(before.baud) + " " +
           ParityName(before.parityCode);
}

// One write and its read-back at the place where the new setting puts the meter.
bool WriteAndVerify(Bus& bus, Place& at, const Step& step) {
    const ByteBlock frame =
        step.ratio ? RatioWriteFrame(uint8_t(at.address), step.reg, step.newValue)
                   : SettingWriteFrame(uint8_t(at.address), step.reg, RegisterValue(step));
    std::string lost;
    if (step.reg == kRegAddress && step.newValue != at.address &&
        bus.Probe(uint8_t(step.newValue), lost))
        return bus.report.Written(at, step.name, step.oldValue, step.newValue, false,
                                  "another meter answers at " + std::to_string(step.newValue)),
               false;
    const ExchangeResult x = bus.Write(frame);
    if (x.outcome == Outcome::Exception || x.outcome == Outcome::PortLost) {
        const std::string why = x.outcome == Outcome::PortLost ? "port lost: " : "refused: ";
        bus.report.Written(at, step.name, step.oldValue, step.newValue, false, why + x.detail);
        return false;
    }
    const Place before = at;
    // The meter takes the new settings after its reply.
    if (step.reg == kRegAddress) at.address = int(step.newValue);
    if (step.reg == kRegBaud) at.baud = int(step.newValue);
    if (step.reg == kRegParity) at.parityCode = int(step.newValue);
    if ((step.reg == kRegBaud || step.reg == kRegParity) && !bus.MoveTo(at.baud, at.parityCode))
        return bus.report.Written(at, step.name, step.oldValue, step.newValue, false,
                                  "the port cannot take the new settings"),
               false;
    std::string why;
    const auto s = bus.ReadSettings(uint8_t(at.address), why);
    const bool verified = s && ReadBack(*s, step) == step.newValue;
    std::string detail = s ? (verified ? "" : "reads back " + std::to_string(ReadBack(*s, step)))
                           : "no read-back: " + why;
    if (!s && (before.baud != at.baud || before.parityCode != at.parityCode))
        detail += "; " + LookBack(bus, before);
    bus.report.Written(at, step.name, step.oldValue, step.newValue, verified, detail);
    return verified;
}

}  // namespace

bool Change(Bus& bus, uint8_t address, const MeterSettingsRead& old, const Target& t, bool write) {
    Place at{address, bus.Baud(), bus.ParityCode()};
    for (const Step& step : Series(old, t)) {
        if (!write) {
            const ByteBlock f =
                step.ratio ? RatioWriteFrame(uint8_t(at.address), step.reg, step.newValue)
                           : SettingWriteFrame(uint8_t(at.address), step.reg, RegisterValue(step));
            bus.report.WouldWrite(at.address, step.name, Hex(f.data(), f.size()));
            if (step.reg == kRegAddress) at.address = int(step.newValue);
            continue;
        }
        // A stop asked for lets the write under way and its read-back finish, no more.
        if (bus.stop || !WriteAndVerify(bus, at, step)) return false;
    }
    return true;
}

int RunSet(Bus& bus, const CtlOptions& o) {
    const uint8_t address = o.addresses[0];
    std::string why;
    const auto old = bus.ReadSettings(address, why);
    if (!old) return bus.report.Status(address, bus.stop ? "stopped" : "does not answer", why), 1;
    const Target t{o.pt, o.ct, o.wiring, o.newAddress, o.newBaud, o.newParity};
    return Change(bus, address, *old, t, o.yes) ? 0 : 1;
}
