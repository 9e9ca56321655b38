// kx880-ctl: commissioning KX880 meters on one bus from the command line.
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "base/Clock.h"
#include "ctl/Commands.h"
#include "serial/NetworkPort.h"
#include "serial/PortNaming.h"
#include "serial/qt/QtTcpDevice.h"

namespace {

std::atomic<bool> g_stop{false};
void OnSignal(int) {
    g_stop = true;
}

[[noreturn]] void Refuse(const std::string& text) {
    std::fprintf(stderr, "kx880-ctl: %s\n(kx880-ctl --help lists the options)\n", text.c_str());
    std::exit(2);
}

// The plan, read and checked before anything is sent.
std::vector<PlanRow> ReadPlan(const std::string& path, bool network) {
    std::ifstream in(path);
    if (!in) Refuse("--plan: cannot read " + path);
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    auto plan = ParsePlan(text.str(), error);
    if (!plan) Refuse("--plan: " + path + ": " + error);
    for (const PlanRow& r : *plan)
        if (network && (r.baud || r.parityCode))
            Refuse("--plan: line " + std::to_string(r.line) +
                   ": line settings behind a network port are the server's own");
    return *plan;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kx880-ctl");
    std::string error;
    const auto options = ParseCtlOptions({argv, argv + argc}, isatty(STDOUT_FILENO), error);
    if (!options) Refuse(error);
    const CtlOptions& o = *options;
    const std::string path = PortPath(o.port);
    if (path.empty()) Refuse("--port: " + o.port + " names no device");
    // Behind a device server or a gateway its own settings govern the bus: changing a
    // meter's would lose it.
    const bool network = IsNetworkPortName(path);
    const bool gateway = path.rfind("modbus-tcp://", 0) == 0;
    if (network && (o.newBaud || o.newParity))
        Refuse(
            "--new-baud/--new-parity: behind a network port the line settings are the "
            "server's own");
    const std::vector<PlanRow> plan =
        o.command == Command::Apply ? ReadPlan(o.plan, network) : std::vector<PlanRow>{};

    QtAnyPortDevice device;
    SystemClock clock;
    auto line =
        MakeSerialPollLine(device, o.port, path, ConsoleLine(o.bauds[0], o.parities[0]), clock);
    if (PortStatus st = line->Open(); !st.ok())
        Refuse("cannot open " + o.port + (path != o.port ? " (" + path + ")" : "") + ": " +
               st.detail);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Report report(o.jsonl);
    Bus bus(*line, network, gateway, o.replyTimeoutMs, report, g_stop);
    if (!bus.MoveTo(o.bauds[0], o.parities[0]))
        Refuse("cannot set " + o.port + " to " + std::to_string(o.bauds[0]) + " bit/s, " +
               ParityName(o.parities[0]));
    switch (o.command) {
        case Command::Scan:
            return RunScan(bus, o);
        case Command::Get:
            return RunGet(bus, o);
        case Command::Set:
            return RunSet(bus, o);
        case Command::Apply:
            return RunApply(bus, o, plan);
        case Command::Diagnose:
            return RunDiagnose(bus, o);
    }
    return 2;
}
