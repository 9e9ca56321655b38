#include "ctl/CtlOptions.h"

#include <QCommandLineParser>
#include <QStringList>

#include "base/Parse.h"
#include "ctl/Report.h"
#include "modbus/AddressList.h"
#include "modbus/MeterSettings.h"
#include "poll/PollOptions.h"

namespace {

const char* const kCommands[] = {"scan", "get", "set", "apply", "diagnose"};
// A scan tries the usual rates first.
const std::vector<int> kScanBauds = {9600, 19200, 4800, 2400, 1200};
const std::vector<int> kScanParities = {0, 2, 1};

void AddOptions(QCommandLineParser& p) {
    p.setApplicationDescription(
        "Commissioning of KX880 meters on one bus: scan finds every meter at any line setting,\n"
        "get reports known meters, set writes settings and verifies each by reading it back,\n"
        "apply brings the meters of a site plan (CSV) to their settings, diagnose checks each\n"
        "meter's wiring and values over a window of readings (docs/diagnostics.md). Only set\n"
        "and apply write, and only with --yes.");
    p.addHelpOption();
    p.addPositionalArgument("command", "scan, get, set, apply or diagnose");
    p.addOptions({
        {"port", "Serial port: COMn, a device path, tcp://HOST:PORT, modbus-tcp://HOST:PORT.",
         "port"},
        {"baud", "Baud rate(s): 1200, 2400, 4800, 9600, 19200; scan: a list or all.", "rate"},
        {"parity", "Parity: none, odd, even; scan: a list or all.", "parity"},
        {"address",
         "Addresses, 1-255: 1,3,5-8 (scan, and apply's search for meters not in "
         "the plan: default 1-255).",
         "list"},
        {"first", "scan: stop at the first meter found."},
        {"timeout", "Reply timeout in ms (scan: a one-register reply's wire time + 50).", "ms"},
        {"format", "Output: table (default on a terminal) or jsonl.", "format"},
        {"pt", "set: PT ratio, 1-64000.", "ratio"},
        {"ct", "set: CT ratio, 1-64000.", "ratio"},
        {"wiring", "set: wiring-mode code, 0-5.", "code"},
        {"new-address", "set: the meter's new address, 1-255.", "address"},
        {"new-baud", "set: the meter's new baud rate.", "rate"},
        {"new-parity", "set: the meter's new parity.", "parity"},
        {"plan", "apply: CSV with the header address,pt,ct,wiring[,baud,parity].", "file"},
        {"yes", "set, apply: really write."},
        {"seconds", "diagnose: how long to read each meter; a finding must hold throughout.",
         "seconds", "10"},
        {"nominal-voltage",
         "diagnose: nominal voltage, primary side (phase; line in three-wire modes); default: "
         "the nearest standard one.",
         "volts"},
        {"frequency", "diagnose: nominal frequency, 50 or 60; default: the nearer one.", "hz"},
    });
}

struct In {
    QCommandLineParser& p;
    std::string& error;

    std::string Value(const char* name) const { return p.value(name).toStdString(); }
    bool Fail(const std::string& why) const {
        error = why;
        return false;
    }
    // A number option, when given: from min to max, else an error naming it.
    bool Number(const char* name, long min, long max, std::optional<long>& out) const {
        if (!p.isSet(name)) return true;
        std::string why;
        out = ParseNumber(Value(name), min, max, why);
        return out || Fail(std::string("--") + name + ": " + why);
    }
    bool Baud(const char* name, const std::string& text, int& out) const {
        std::string why;
        const auto b = ParseNumber(text, 1, 10000000, why);
        if (b && BaudRateOf(int32_t(*b))) return out = int(*b), true;
        return Fail(std::string("--") + name + ": \"" + text +
                    "\" is not a rate of the meter (1200, 2400, 4800, 9600, 19200)");
    }
    bool Parity(const char* name, const std::string& text, int& out) const {
        if (const auto code = ParityCodeNamed(text)) return out = *code, true;
        return Fail(std::string("--") + name + ": \"" + text + "\" is not none, odd or even");
    }
    // A list (scan) or one value, with a default.
    template <typename One>
    bool List(const char* name, const std::vector<int>& all, bool many, std::vector<int>& out,
              int fallback, One one) const {
        if (!p.isSet(name)) return out = many ? all : std::vector<int>{fallback}, true;
        const std::string text = Value(name);
        if (many && text == "all") return out = all, true;
        size_t from = 0;
        for (size_t comma; from <= text.size(); from = comma + 1) {
            comma = std::min(text.find(',', from), text.size());
            int v = 0;
            if (!(this->*one)(name, text.substr(from, comma - from), v)) return false;
            out.push_back(v);
            if (!many && comma < text.size()) return Fail(std::string("--") + name + ": one value");
        }
        return true;
    }
};

bool ParseCommand(QCommandLineParser& p, CtlOptions& o, std::string& error) {
    const QStringList pos = p.positionalArguments();
    if (pos.isEmpty()) return error = "give a command: scan, get, set, apply or diagnose", false;
    if (pos.size() > 1)
        return error = "unexpected argument \"" + pos[1].toStdString() + "\"", false;
    for (int k = 0; k < 5; ++k)
        if (pos[0].toStdString() == kCommands[k]) return o.command = Command(k), true;
    return error = "\"" + pos[0].toStdString() + "\" is not scan, get, set, apply or diagnose",
           false;
}

bool ParseSettings(const In& in, CtlOptions& o) {
    const bool set = o.command == Command::Set;
    for (const char* name : {"pt", "ct", "wiring", "new-address", "new-baud", "new-parity"})
        if (!set && in.p.isSet(name)) return in.Fail(std::string("--") + name + " is for set only");
    if (!in.Number("pt", kMinRatio, kMaxRatio, o.pt) ||
        !in.Number("ct", kMinRatio, kMaxRatio, o.ct) || !in.Number("wiring", 0, 5, o.wiring) ||
        !in.Number("new-address", 1, 255, o.newAddress))
        return false;
    int v = 0;
    if (in.p.isSet("new-baud") && !in.Baud("new-baud", in.Value("new-baud"), v)) return false;
    if (in.p.isSet("new-baud")) o.newBaud = v;
    if (in.p.isSet("new-parity") && !in.Parity("new-parity", in.Value("new-parity"), v))
        return false;
    if (in.p.isSet("new-parity")) o.newParity = v;
    if (set && !o.pt && !o.ct && !o.wiring && !o.newAddress && !o.newBaud && !o.newParity)
        return in.Fail(
            "set: give at least one of --pt, --ct, --wiring, --new-address, "
            "--new-baud, --new-parity");
    return true;
}

bool ParseBus(const In& in, CtlOptions& o) {
    const bool scan = o.command == Command::Scan;
    if (!in.p.isSet("port")) return in.Fail("--port is required");
    o.port = in.Value("port");
    if (!in.List("baud", kScanBauds, scan, o.bauds, 9600, &In::Baud) ||
        !in.List("parity", kScanParities, scan, o.parities, 0, &In::Parity))
        return false;
    std::string why;
    const bool needed =
        o.command == Command::Get || o.command == Command::Set || o.command == Command::Diagnose;
    if (!in.p.isSet("address") && needed) return in.Fail("--address is required");
    const auto list =
        ParseAddressList(in.p.isSet("address") ? in.Value("address") : "1-255", 1, 255, why);
    if (!list) return in.Fail("--address: " + why);
    o.addresses = *list;
    if (o.command == Command::Set && o.addresses.size() != 1)
        return in.Fail("--address: set writes to one meter at a time");
    if (o.command == Command::Apply && !in.p.isSet("plan")) return in.Fail("--plan is required");
    o.plan = in.Value("plan");
    std::optional<long> timeout;
    if (!in.Number("timeout", 1, 60000, timeout)) return false;
    if (timeout) o.replyTimeoutMs = double(*timeout);
    return true;
}

bool ParseDiagnose(const In& in, CtlOptions& o) {
    for (const char* name : {"seconds", "nominal-voltage", "frequency"})
        if (o.command != Command::Diagnose && in.p.isSet(name))
            return in.Fail(std::string("--") + name + " is for diagnose only");
    std::optional<long> seconds;
    if (!in.Number("seconds", 0, 3600, seconds)) return false;
    if (seconds) o.seconds = *seconds;
    return ParseDiagnoseSettings(in.Value("nominal-voltage"), in.Value("frequency"), o.diagnose,
                                 in.error);
}

}  // namespace

std::optional<CtlOptions> ParseCtlOptions(const std::vector<std::string>& args,
                                          bool stdoutIsTerminal, std::string& error) {
    QCommandLineParser p;
    AddOptions(p);
    if (!ParseArguments(p, args, error)) return std::nullopt;
    CtlOptions o;
    const In in{p, error};
    if (!ParseCommand(p, o, error) || !ParseBus(in, o) || !ParseSettings(in, o) ||
        !ParseDiagnose(in, o))
        return std::nullopt;
    const std::string format = p.isSet("format")  ? in.Value("format")
                               : stdoutIsTerminal ? "table"
                                                  : "jsonl";
    if (format != "table" && format != "jsonl")
        return error = "--format: \"" + format + "\" is not table or jsonl", std::nullopt;
    o.jsonl = format == "jsonl";
    o.first = p.isSet("first");
    o.yes = p.isSet("yes");
    if (o.first && o.command != Command::Scan) return error = "--first is for scan", std::nullopt;
    return o;
}
