// kx880-sim: a simulated KX880 meter on a pseudo-terminal, for trying and testing the
// console without hardware.
#include <getopt.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/Parse.h"
#include "modbus/AddressList.h"
#include "sim/Bus.h"
#include "sim/PtyEnd.h"
#include "sim/TcpEnd.h"
#include "sim/WiringFault.h"

namespace {

StopFlag g_stop = 0;
volatile sig_atomic_t g_muteToggles = 0;
void OnSignal(int) {
    g_stop = 1;
}
void OnUsr1(int) {
    g_muteToggles = g_muteToggles + 1;
}

const char kUsage[] =
    "usage: kx880-sim [options]\n"
    "Serves a simulated KX880 power meter (Modbus RTU slave) on a new pseudo-terminal and\n"
    "prints the terminal's path. The console reaches it as COMn with KX880_COMn=<path>.\n"
    "\n"
    "  --link PATH        also make PATH a symbolic link to the terminal (removed on exit)\n"
    "  --tcp PORT         serve on 127.0.0.1:PORT instead, RTU frames over TCP (a serial\n"
    "                     device server in transparent mode); 0 picks a free port\n"
    "  --modbus-tcp PORT  serve on 127.0.0.1:PORT as a Modbus TCP gateway; 0 picks a free port\n"
    "                     (either prints the URL to give the console or kx880-poll)\n"
    "  --address LIST     slave address, 0-255 (default 1); several (1,2,3 or 1-8) put that\n"
    "                     many independent meters on the one line, each with its own values\n"
    "  --baud N           the meter's baud rate: 1200, 2400, 4800, 9600, 19200 (default 9600)\n"
    "  --parity P         the meter's parity: none, odd, even (default none)\n"
    "                     (stop bits as the console sets them: 2 with none, 1 with odd/even)\n"
    "  --line ADDR:BAUD:PARITY  the meter at ADDR (one of --address) on its own baud rate\n"
    "                     and parity instead of --baud and --parity; may be repeated\n"
    "  --pt N --ct N      PT and CT ratios, 1-65535 (default 1)\n"
    "  --wiring N         wiring-mode code, 0-5 (default 0)\n"
    "  --class N          accuracy-class register (default 0)\n"
    "  --urg F            Urg flag register: 1 makes the meter hold active and reactive\n"
    "                     power divided by 4 (default 0)\n"
    "  --energy-exponent N  energy counters in units of 10^N Wh (0-6, default 0)\n"
    "  --load PF          the load's power factor, fixed: 0 < PF <= 1 lagging (inductive),\n"
    "                     -1 <= PF < 0 leading (capacitive); 0 is refused (default about\n"
    "                     0.95 lagging, varying slowly)\n"
    "  --unbalance PERCENT  current unbalance, 0-100 (NEMA: the largest deviation from the\n"
    "                     mean over the mean): the currents of A, B, C times 1+u, 1, 1-u\n"
    "  --current A        secondary current per phase before its variation, 0-6.5535\n"
    "                     (default 4); 0: no load, every current 0\n"
    "  --wiring-fault [ADDR:]F  a wiring fault between installation and meter: ct-reversed:X,\n"
    "                     ct-crossed:X,Y, voltage-missing:X or pt-reversed:X (X, Y: A, B, C),\n"
    "                     in every meter or in the one at ADDR; may be repeated, applied in\n"
    "                     the order given\n"
    "  --frozen           hold the measurements still (for exact tests)\n"
    "  --set [ADDR:]REG=VALUE  set measurement register REG (0-44, decimal or 0x..) to\n"
    "                     VALUE, in every meter or in the one at ADDR; implies --frozen;\n"
    "                     may be repeated\n"
    "  --mute-on-usr1 ADDR  each SIGUSR1 silences the meter at ADDR, or lets it speak again\n"
    "  --status V,I       send these two limit-status bytes behind each measurement\n"
    "                     response (by default none: a plain Modbus slave)\n"
    "  --faults LIST      faults to inject, comma-separated: silence, noise-before,\n"
    "                     noise-after, bad-crc, split, late, other-address, exception,\n"
    "                     flood, echo\n"
    "  --fault-rate P     probability of a fault from LIST on each reply (default 0.1)\n"
    "  --seed N           seed of the fault generator (default 1)\n"
    "  --verbose          log each request and reply in hex with a timestamp to stderr\n"
    "  --help             this text\n";

[[noreturn]] void Die(const std::string& message) {
    std::fprintf(stderr, "kx880-sim: %s\n(kx880-sim --help lists the options)\n", message.c_str());
    std::exit(2);
}

long Number(const char* option, const char* text, long min, long max) {
    std::string why;
    const auto v = ParseNumber(text, min, max, why, 0);
    if (!v) Die(std::string("--") + option + ": " + why);
    return *v;
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::stringstream in(s);
    for (std::string item; std::getline(in, item, sep);) out.push_back(item);
    return out;
}

LineFault FaultNamed(const std::string& name) {
    for (int f = 1; f < kLineFaultCount; ++f)
        if (name == LineFaultName(static_cast<LineFault>(f))) return static_cast<LineFault>(f);
    Die("--faults: unknown fault \"" + name + "\"");
}

struct RegisterSet {
    int address;  // -1: every meter
    int reg;
    uint16_t value;
};

struct MeterLine {
    int address;
    int baud;
    int parityCode;  // 0 none, 1 odd, 2 even
};

struct Options {
    std::vector<uint8_t> addresses{1};
    std::vector<RegisterSet> sets;
    std::vector<MeterLine> lines;
    std::vector<std::pair<int, WiringFault>> wiringFaults;  // for one meter each
    int muteAddress = -1;
    int tcpPort = -1;  // -1: a pseudo-terminal
    bool modbusTcp = false;
    std::string link;
    bool verbose = false;
    std::vector<LineFault> faults;
    double faultRate = 0.1;
    uint32_t seed = 1;
    bool statusBytes = false;
};

uint16_t Word(const char* option, const char* text, long min, long max) {
    return static_cast<uint16_t>(Number(option, text, min, max));
}

int BaudNamed(const char* option, const std::string& text) {
    const long b = Number(option, text.c_str(), 1200, 19200);
    if (b != 1200 && b != 2400 && b != 4800 && b != 9600 && b != 19200)
        Die("--" + std::string(option) + ": " + text +
            " is not one of 1200, 2400, 4800, 9600, 19200");
    return static_cast<int>(b);
}

int ParityNamed(const char* option, const std::string& p) {
    if (p != "none" && p != "odd" && p != "even")
        Die("--" + std::string(option) + ": \"" + p + "\" is not none, odd or even");
    return p == "none" ? 0 : p == "odd" ? 1 : 2;
}

void AddLine(const char* text, Options& o, MeterModel&) {
    const auto parts = Split(text, ':');
    if (parts.size() != 3 || std::count(text, text + std::strlen(text), ':') != 2)
        Die("--line: expected ADDR:BAUD:PARITY, got \"" + std::string(text) + "\"");
    o.lines.push_back({int(Number("line", parts[0].c_str(), 0, 255)), BaudNamed("line", parts[1]),
                       ParityNamed("line", parts[2])});
}

// After all options: --address may come after --line.
void CheckLines(const Options& o) {
    auto known = [&](int a) {
        return std::find(o.addresses.begin(), o.addresses.end(), a) != o.addresses.end();
    };
    for (const MeterLine& l : o.lines)
        if (!known(l.address))
            Die("--line: no meter at " + std::to_string(l.address) + " in --address");
    for (const auto& f : o.wiringFaults)
        if (!known(f.first))
            Die("--wiring-fault: no meter at " + std::to_string(f.first) + " in --address");
}

void AddSet(const char* text, Options& o, MeterModel& m) {
    auto kv = Split(text, '=');
    if (kv.size() != 2) Die("--set: expected [ADDR:]REG=VALUE, got \"" + std::string(text) + "\"");
    auto where = Split(kv[0], ':');
    if (where.size() > 2) Die("--set: \"" + kv[0] + "\" is not [ADDR:]REG");
    const int addr = where.size() == 2 ? int(Number("set", where[0].c_str(), 0, 255)) : -1;
    m.Freeze(true);
    o.sets.push_back({addr, int(Number("set", where.back().c_str(), 0, 44)),
                      Word("set", kv[1].c_str(), 0, 65535)});
}

void SetStatus(const char* text, Options& o, MeterModel& m) {
    auto vi = Split(text, ',');
    if (vi.size() != 2) Die("--status: expected V,I, got \"" + std::string(text) + "\"");
    m.voltageStatus = static_cast<uint8_t>(Number("status", vi[0].c_str(), 0, 255));
    m.currentStatus = static_cast<uint8_t>(Number("status", vi[1].c_str(), 0, 255));
    o.statusBytes = true;
}

void SetFaultRate(const char* text, Options& o) {
    char* end = nullptr;
    o.faultRate = std::strtod(text, &end);
    if (!*text || *end || o.faultRate < 0 || o.faultRate > 1) Die("--fault-rate: expected 0 to 1");
}

// A decimal number from min to max, or the one-line refusal of the option's reason.
double Decimal(const char* option, const char* text, double min, double max, const char* want) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (!*text || *end || !(v >= min && v <= max))
        Die("--" + std::string(option) + ": expected " + want + ", not \"" + text + "\"");
    return v;
}

void SetLoad(const char* text, Options&, MeterModel& m) {
    const char* want = "a power factor from -1 to 1 other than 0 (positive lagging)";
    const double pf = Decimal("load", text, -1, 1, want);
    if (pf == 0) Die(std::string("--load: expected ") + want + ", not \"" + text + "\"");
    m.SetLoad(pf);
}

// [ADDR:]FAULT: in every meter, or in the one at ADDR alone (a bus with one miswired meter).
void AddWiringFault(const char* text, Options& o, MeterModel& m) {
    std::string t = text, error;
    const size_t digits = t.find_first_not_of("0123456789");
    int address = -1;
    if (digits > 0 && digits != std::string::npos && t[digits] == ':') {
        address = int(Number("wiring-fault", t.substr(0, digits).c_str(), 0, 255));
        t = t.substr(digits + 1);
    }
    const auto fault = ParseWiringFault(t, error);
    if (!fault) Die("--wiring-fault: " + error);
    if (address < 0)
        m.AddWiringFault(*fault);
    else
        o.wiringFaults.push_back({address, *fault});
}

void SetAddresses(const char* text, Options& o) {
    std::string error;
    const auto addresses = ParseAddressList(text, 0, 255, error);
    if (!addresses) Die("--address: " + error);
    o.addresses = *addresses;
}

// Every option once: its name, whether it takes a value, and what it does.
struct OptionRule {
    const char* name;
    bool takesValue;
    void (*apply)(const char* value, Options& o, MeterModel& m);
};
const OptionRule kRules[] = {
    {"link", true, [](const char* v, Options& o, MeterModel&) { o.link = v; }},
    {"tcp", true,
     [](const char* v, Options& o, MeterModel&) {
         o.tcpPort = Word("tcp", v, 0, 65535), o.modbusTcp = false;
     }},
    {"modbus-tcp", true,
     [](const char* v, Options& o, MeterModel&) {
         o.tcpPort = Word("modbus-tcp", v, 0, 65535), o.modbusTcp = true;
     }},
    {"address", true, [](const char* v, Options& o, MeterModel&) { SetAddresses(v, o); }},
    {"baud", true, [](const char* v, Options&, MeterModel& m) { m.SetBaud(BaudNamed("baud", v)); }},
    {"parity", true,
     [](const char* v, Options&, MeterModel& m) { m.SetParityCode(ParityNamed("parity", v)); }},
    {"line", true, AddLine},
    {"pt", true, [](const char* v, Options&, MeterModel& m) { m.SetPt(Word("pt", v, 1, 65535)); }},
    {"ct", true, [](const char* v, Options&, MeterModel& m) { m.SetCt(Word("ct", v, 1, 65535)); }},
    {"wiring", true,
     [](const char* v, Options&, MeterModel& m) { m.SetWiring(Word("wiring", v, 0, 5)); }},
    {"class", true,
     [](const char* v, Options&, MeterModel& m) { m.SetClass(Word("class", v, 0, 65535)); }},
    {"urg", true,
     [](const char* v, Options&, MeterModel& m) { m.SetUrgFlag(Word("urg", v, 0, 65535)); }},
    {"energy-exponent", true,
     [](const char* v, Options&, MeterModel& m) {
         m.SetEnergyExponent(Word("energy-exponent", v, 0, 6));
     }},
    {"load", true, SetLoad},
    {"unbalance", true,
     [](const char* v, Options&, MeterModel& m) {
         m.SetUnbalancePercent(Decimal("unbalance", v, 0, 100, "a percentage from 0 to 100"));
     }},
    {"current", true,
     [](const char* v, Options&, MeterModel& m) {
         m.SetCurrent(Decimal("current", v, 0, 6.5535, "a current from 0 to 6.5535 A"));
     }},
    {"wiring-fault", true, AddWiringFault},
    {"frozen", false, [](const char*, Options&, MeterModel& m) { m.Freeze(true); }},
    {"set", true, AddSet},
    {"mute-on-usr1", true,
     [](const char* v, Options& o, MeterModel&) {
         o.muteAddress = Word("mute-on-usr1", v, 0, 255);
     }},
    {"status", true, SetStatus},
    {"faults", true,
     [](const char* v, Options& o, MeterModel&) {
         for (const auto& name : Split(v, ',')) o.faults.push_back(FaultNamed(name));
     }},
    {"fault-rate", true, [](const char* v, Options& o, MeterModel&) { SetFaultRate(v, o); }},
    {"seed", true,
     [](const char* v, Options& o, MeterModel&) {
         o.seed = uint32_t(Number("seed", v, 0, 0x7FFFFFFF));
     }},
    {"verbose", false, [](const char*, Options& o, MeterModel&) { o.verbose = true; }},
    {"help", false,
     [](const char*, Options&, MeterModel&) { std::fputs(kUsage, stdout), std::exit(0); }},
};

Options Parse(int argc, char** argv, MeterModel& model) {
    std::vector<option> longOptions;
    for (const OptionRule& r : kRules)
        longOptions.push_back({r.name, r.takesValue ? required_argument : no_argument, nullptr,
                               int(&r - kRules) + 1});
    longOptions.push_back({nullptr, 0, nullptr, 0});
    Options o;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, "", longOptions.data(), nullptr)) != -1;) {
        if (c < 1 || c > int(std::size(kRules)))
            Die(std::string("unknown option ") + argv[optind - 1]);
        kRules[c - 1].apply(optarg, o, model);
    }
    if (optind < argc) Die(std::string("unexpected argument \"") + argv[optind] + "\"");
    CheckLines(o);
    return o;
}

}  // namespace

// The meters of the options on one line, each with its own values.
void AddMeters(Bus& bus, const MeterModel& common, const Options& o) {
    for (size_t k = 0; k < o.addresses.size(); ++k) {
        SimMeter& meter = bus.Add(common, o.addresses[k], o.seed + static_cast<uint32_t>(k));
        MeterModel& model = bus.Model(k);
        model.SetVariant(static_cast<int>(k));
        for (const MeterLine& l : o.lines)  // its own line; later --line wins
            if (l.address == o.addresses[k])
                model.SetBaud(l.baud), model.SetParityCode(l.parityCode);
        for (const RegisterSet& s : o.sets)
            if (s.address < 0 || s.address == o.addresses[k]) model.SetMeasurement(s.reg, s.value);
        for (const auto& [address, fault] : o.wiringFaults)
            if (address == o.addresses[k]) model.AddWiringFault(fault);
        meter.sendsStatusBytes = o.statusBytes;
        if (!o.faults.empty()) meter.SetRandomFaults(o.faultRate, o.faults);
    }
    const int mute = o.muteAddress;
    bus.muted = [mute](uint8_t address) { return g_muteToggles % 2 == 1 && address == mute; };
}

int main(int argc, char** argv) {
    MeterModel model;
    Options o = Parse(argc, argv, model);
    Bus meter;
    AddMeters(meter, model, o);

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    struct sigaction usr1 {};
    usr1.sa_handler = OnUsr1;
    sigaction(SIGUSR1, &usr1, nullptr);

    std::string error;
    if (o.tcpPort >= 0) {
        // The gateway keeps the line settings it was set up with, --baud and --parity: a meter
        // on a --line of its own is out of its reach, as on a real bus.
        TcpEnd end(model.Line());
        if (!end.Listen(o.tcpPort, error)) Die(error);
        std::printf("%s://127.0.0.1:%d\n", o.modbusTcp ? "modbus-tcp" : "tcp", end.Port());
        std::fflush(stdout);
        LineServer(meter, end, o.modbusTcp ? Framing::Mbap : Framing::Rtu, o.verbose).Serve(g_stop);
        return 0;
    }
    PtyEnd end;
    if (!end.Open(error)) Die(error);
    if (!o.link.empty() && !end.Link(o.link, error)) Die(error);
    std::printf("%s\n", end.TerminalPath().c_str());
    std::fflush(stdout);
    LineServer(meter, end, Framing::Rtu, o.verbose).Serve(g_stop);
    return 0;
}
