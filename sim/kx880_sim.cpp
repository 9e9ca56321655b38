// kx880-sim: a simulated KX880 meter on a pseudo-terminal, for trying and testing the
// console without hardware.
#include <getopt.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/Parse.h"
#include "modbus/AddressList.h"
#include "sim/PtyLine.h"
#include "sim/TcpLine.h"

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
    "  --pt N --ct N      PT and CT ratios, 1-65535 (default 1)\n"
    "  --wiring N         wiring-mode code, 0-5 (default 0)\n"
    "  --class N          accuracy-class register (default 0)\n"
    "  --urg F            Urg flag register: 1 makes the meter hold active and reactive\n"
    "                     power divided by 4 (default 0)\n"
    "  --energy-exponent N  energy counters in units of 10^N Wh (0-6, default 0)\n"
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

struct Options {
    std::vector<uint8_t> addresses{1};
    std::vector<RegisterSet> sets;
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

Options Parse(int argc, char** argv, MeterModel& model) {
    enum {
        kLink = 1,
        kAddress,
        kBaud,
        kParity,
        kPt,
        kCt,
        kWiring,
        kClass,
        kUrg,
        kExponent,
        kFrozen,
        kSet,
        kStatus,
        kFaults,
        kRate,
        kSeed,
        kVerbose,
        kMute,
        kTcp,
        kModbusTcp,
        kHelp
    };
    static const option longOptions[] = {{"link", required_argument, nullptr, kLink},
                                         {"address", required_argument, nullptr, kAddress},
                                         {"baud", required_argument, nullptr, kBaud},
                                         {"parity", required_argument, nullptr, kParity},
                                         {"pt", required_argument, nullptr, kPt},
                                         {"ct", required_argument, nullptr, kCt},
                                         {"wiring", required_argument, nullptr, kWiring},
                                         {"class", required_argument, nullptr, kClass},
                                         {"urg", required_argument, nullptr, kUrg},
                                         {"energy-exponent", required_argument, nullptr, kExponent},
                                         {"frozen", no_argument, nullptr, kFrozen},
                                         {"set", required_argument, nullptr, kSet},
                                         {"status", required_argument, nullptr, kStatus},
                                         {"faults", required_argument, nullptr, kFaults},
                                         {"fault-rate", required_argument, nullptr, kRate},
                                         {"seed", required_argument, nullptr, kSeed},
                                         {"verbose", no_argument, nullptr, kVerbose},
                                         {"mute-on-usr1", required_argument, nullptr, kMute},
                                         {"tcp", required_argument, nullptr, kTcp},
                                         {"modbus-tcp", required_argument, nullptr, kModbusTcp},
                                         {"help", no_argument, nullptr, kHelp},
                                         {nullptr, 0, nullptr, 0}};
    Options o;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1;) {
        switch (c) {
            case kLink:
                o.link = optarg;
                break;
            case kAddress: {
                std::string error;
                const auto addresses = ParseAddressList(optarg, 0, 255, error);
                if (!addresses) Die("--address: " + error);
                o.addresses = *addresses;
                break;
            }
            case kTcp:
            case kModbusTcp:
                o.tcpPort =
                    static_cast<int>(Number(c == kTcp ? "tcp" : "modbus-tcp", optarg, 0, 65535));
                o.modbusTcp = c == kModbusTcp;
                break;
            case kMute:
                o.muteAddress = static_cast<int>(Number("mute-on-usr1", optarg, 0, 255));
                break;
            case kBaud: {
                long b = Number("baud", optarg, 1200, 19200);
                if (b != 1200 && b != 2400 && b != 4800 && b != 9600 && b != 19200)
                    Die("--baud: " + std::string(optarg) +
                        " is not one of 1200, 2400, 4800, 9600, 19200");
                model.SetBaud(static_cast<int>(b));
                break;
            }
            case kParity: {
                std::string p = optarg;
                if (p == "none")
                    model.SetParityCode(0);
                else if (p == "odd")
                    model.SetParityCode(1);
                else if (p == "even")
                    model.SetParityCode(2);
                else
                    Die("--parity: \"" + p + "\" is not none, odd or even");
                break;
            }
            case kPt:
                model.SetPt(static_cast<uint16_t>(Number("pt", optarg, 1, 65535)));
                break;
            case kCt:
                model.SetCt(static_cast<uint16_t>(Number("ct", optarg, 1, 65535)));
                break;
            case kWiring:
                model.SetWiring(static_cast<uint16_t>(Number("wiring", optarg, 0, 5)));
                break;
            case kClass:
                model.SetClass(static_cast<uint16_t>(Number("class", optarg, 0, 65535)));
                break;
            case kUrg:
                model.SetUrgFlag(static_cast<uint16_t>(Number("urg", optarg, 0, 65535)));
                break;
            case kExponent:
                model.SetEnergyExponent(
                    static_cast<uint16_t>(Number("energy-exponent", optarg, 0, 6)));
                break;
            case kFrozen:
                model.Freeze(true);
                break;
            case kSet: {
                auto kv = Split(optarg, '=');
                if (kv.size() != 2)
                    Die("--set: expected [ADDR:]REG=VALUE, got \"" + std::string(optarg) + "\"");
                auto where = Split(kv[0], ':');
                if (where.size() > 2) Die("--set: \"" + kv[0] + "\" is not [ADDR:]REG");
                const int addr =
                    where.size() == 2 ? int(Number("set", where[0].c_str(), 0, 255)) : -1;
                model.Freeze(true);
                o.sets.push_back({addr, int(Number("set", where.back().c_str(), 0, 44)),
                                  static_cast<uint16_t>(Number("set", kv[1].c_str(), 0, 65535))});
                break;
            }
            case kStatus: {
                auto vi = Split(optarg, ',');
                if (vi.size() != 2)
                    Die("--status: expected V,I, got \"" + std::string(optarg) + "\"");
                model.voltageStatus = static_cast<uint8_t>(Number("status", vi[0].c_str(), 0, 255));
                model.currentStatus = static_cast<uint8_t>(Number("status", vi[1].c_str(), 0, 255));
                o.statusBytes = true;
                break;
            }
            case kFaults:
                for (const auto& name : Split(optarg, ',')) o.faults.push_back(FaultNamed(name));
                break;
            case kRate: {
                char* end = nullptr;
                o.faultRate = std::strtod(optarg, &end);
                if (*end || o.faultRate < 0 || o.faultRate > 1)
                    Die("--fault-rate: expected 0 to 1");
                break;
            }
            case kSeed:
                o.seed = static_cast<uint32_t>(Number("seed", optarg, 0, 0x7FFFFFFF));
                break;
            case kVerbose:
                o.verbose = true;
                break;
            case kHelp:
                std::fputs(kUsage, stdout);
                std::exit(0);
            default:
                Die(std::string("unknown option ") + argv[optind - 1]);
        }
    }
    if (optind < argc) Die(std::string("unexpected argument \"") + argv[optind] + "\"");
    return o;
}

}  // namespace

// The meters on the line: each hears every request and answers only its own address.
class Bus : public ISimPeer {
  public:
    Bus(const MeterModel& common, const Options& o) {
        for (size_t k = 0; k < o.addresses.size(); ++k) {
            auto model = std::make_unique<MeterModel>(common);
            model->SetAddress(o.addresses[k]);
            model->SetVariant(static_cast<int>(k));
            for (const RegisterSet& s : o.sets)
                if (s.address < 0 || s.address == o.addresses[k])
                    model->SetMeasurement(s.reg, s.value);
            auto meter = std::make_unique<SimMeter>(*model, o.seed + static_cast<uint32_t>(k));
            meter->sendsStatusBytes = o.statusBytes;
            if (!o.faults.empty()) meter->SetRandomFaults(o.faultRate, o.faults);
            m_models.push_back(std::move(model));
            m_meters.push_back(std::move(meter));
        }
        m_mute = o.muteAddress;
    }
    void OnReceive(const ByteBlock& bytes, double nowMs, const LineSettings& line,
                   IReplySink& sink) override {
        const bool muted = g_muteToggles % 2 == 1;
        for (size_t k = 0; k < m_meters.size(); ++k)
            if (!(muted && m_models[k]->Address() == m_mute))
                m_meters[k]->OnReceive(bytes, nowMs, line, sink);
    }

  private:
    std::vector<std::unique_ptr<MeterModel>> m_models;
    std::vector<std::unique_ptr<SimMeter>> m_meters;
    int m_mute = -1;
};

int main(int argc, char** argv) {
    MeterModel model;
    Options o = Parse(argc, argv, model);
    Bus meter(model, o);

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    struct sigaction usr1 {};
    usr1.sa_handler = OnUsr1;
    sigaction(SIGUSR1, &usr1, nullptr);

    if (o.tcpPort >= 0) {
        // The gateway keeps the line settings it was set up with: those the meters start with.
        TcpLine line(meter, model.Line(), o.modbusTcp, o.verbose);
        std::string error;
        if (!line.Listen(o.tcpPort, error)) Die(error);
        std::printf("%s\n", line.Url().c_str());
        std::fflush(stdout);
        line.Serve(g_stop);
        return 0;
    }
    PtyLine line(meter, o.verbose);
    std::string error;
    if (!line.Open(error)) Die(error);
    if (!o.link.empty() && !line.Link(o.link, error)) Die(error);
    std::printf("%s\n", line.TerminalPath().c_str());
    std::fflush(stdout);
    line.Serve(g_stop);
    return 0;
}
