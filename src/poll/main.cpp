// kx880-poll: reads KX880 meters on one bus at line speed and writes their values.
#include <signal.h>
#include <unistd.h>

#include <sys/stat.h>
#include <QCoreApplication>
#include <QDateTime>
#include <atomic>
#include <cstdio>

#include "base/Clock.h"
#include "poll/PollOptions.h"
#include "poll/history/HistoryCommand.h"
#include "poll/history/HistoryStage.h"
#include "poll/out/Mqtt.h"
#include "poll/out/Writers.h"
#include "serial/PortNaming.h"
#include "serial/qt/QtTcpDevice.h"

namespace {

std::atomic<bool> g_stop{false};
void OnSignal(int) {
    g_stop = true;
}

void Say(const std::string& text) {
    std::fprintf(stderr, "kx880-poll: %s\n", text.c_str());
}

[[noreturn]] void Refuse(const std::string& text) {
    std::fprintf(stderr, "kx880-poll: %s\n(kx880-poll --help lists the options)\n", text.c_str());
    std::exit(2);
}

void PrintSummary(const std::vector<MeterHealth>& health) {
    for (const MeterHealth& h : health)
        std::fprintf(stderr,
                     "kx880-poll: meter %u: %llu good replies, %llu timeouts, %llu bad frames, "
                     "%llu exceptions, %llu stale, %llu energy readings held, %llu counter "
                     "resets%s%s\n",
                     h.address, (unsigned long long)h.ok, (unsigned long long)h.timeouts,
                     (unsigned long long)h.badFrames, (unsigned long long)h.exceptions,
                     (unsigned long long)h.staleReplies, (unsigned long long)h.energyHeld,
                     (unsigned long long)h.energyResets,
                     h.lastError.empty() ? "" : "; last error: ", h.lastError.c_str());
}

std::unique_ptr<IReadingSink> MakeWriter(const PollOptions& o, std::FILE* out, bool fresh) {
    switch (o.format) {
        case OutputFormat::Table:
            return MakeTableWriter(out, o.bus, o.checks.diagnose);
        case OutputFormat::Jsonl:
            return MakeJsonlWriter(out, o.bus);
        default:
            return MakeCsvWriter(out, o.bus, fresh);
    }
}

// The output file, appended to; stdout when none. fresh: it has no header yet.
std::FILE* OpenOutput(const PollOptions& o, bool& fresh) {
    fresh = true;
    if (o.outputFile.empty()) return stdout;
    struct stat before {};
    fresh = stat(o.outputFile.c_str(), &before) != 0 || before.st_size == 0;
    std::FILE* out = std::fopen(o.outputFile.c_str(), "a");
    if (!out) Refuse("cannot open " + o.outputFile + " for appending");
    return out;
}

void HandleSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A broker or client that closes mid-write ends that connection, never the poller (TLS
    // writes go through OpenSSL's plain write(), which raises SIGPIPE).
    signal(SIGPIPE, SIG_IGN);
}

// The outputs, made before polling starts. Everything that can refuse the start comes
// first: a refused start writes nothing and has not touched the broker. The publisher
// outlives the HTTP server, which reads its count.
struct Outputs {
    std::unique_ptr<IMqttPublisher> mqtt;
    std::unique_ptr<HistoryStore> store;
    std::unique_ptr<IHttpService> metrics;
    std::FILE* file = stdout;
    std::unique_ptr<IReadingSink> writer;
};

Outputs MakeOutputs(const PollOptions& o) {
    Outputs outs;
    std::string error;
    if (!o.mqtt.host.empty() &&
        !(outs.mqtt = MakeMqttPublisher(o.mqtt, o.bus, o.config.addresses, Say, error)))
        Refuse(error);
    StoreOptions where;
    where.path = o.history.path, where.days = o.history.days;
    if (!where.path.empty() && !(outs.store = HistoryStore::Open(where, Say, error)))
        Refuse("--history: " + error);
    if (!o.http.listen.empty() &&
        !(outs.metrics =
              MakeHttpService(o.http, o.bus, o.config.addresses, outs.store.get(), error)))
        Refuse(error);
    if (outs.metrics && outs.mqtt)
        outs.metrics->SetDroppedSource([m = outs.mqtt.get()] { return m->Dropped(); });
    bool fresh = true;
    outs.file = OpenOutput(o, fresh);
    outs.writer = MakeWriter(o, outs.file, fresh);
    return outs;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kx880-poll");
    std::vector<std::string> args(argv, argv + argc);
    if (args.size() > 1 && args[1] == "history") return RunHistoryCommand(args);
    std::string error;
    auto options = ParsePollOptions(args, isatty(STDOUT_FILENO), error);
    if (!options) Refuse(error);
    const PollOptions& o = *options;

    const std::string path = PortPath(o.port);
    if (path.empty()) Refuse("--port: " + o.port + " names no device");
    QtAnyPortDevice device;
    SystemClock clock;
    auto line = MakeSerialPollLine(device, o.port, path, o.line, clock);
    // Behind a Modbus TCP gateway every reply carries its request's transaction id.
    const bool gateway = path.rfind("modbus-tcp://", 0) == 0;
    auto exchange =
        MakeExchange(*line, gateway ? kModbusTcp : kRtu, o.config.baud, o.config.timeoutMs);
    if (PortStatus st = line->Open(); !st.ok())
        Refuse("cannot open " + o.port + (path != o.port ? " (" + path + ")" : "") + ": " +
               st.detail);

    Outputs outs = MakeOutputs(o);
    std::vector<IReadingSink*> sinks = {outs.writer.get()};
    if (outs.metrics) sinks.push_back(outs.metrics.get());
    if (outs.mqtt) sinks.push_back(outs.mqtt.get());
    IMqttPublisher* mqtt = outs.mqtt.get();
    HistoryStore* store = outs.store.get();
    std::FILE* out = outs.file;

    HandleSignals();
    if (mqtt) mqtt->Start();  // its thread may write to a closing TLS connection from now on

    // Every output sees the counters held and, with --diagnose, the findings.
    // Demand and the store between the checks and the outputs, when asked for.
    std::unique_ptr<HistoryStage> history;
    if (o.history.demand)
        history = std::make_unique<HistoryStage>(sinks, o.config.addresses, o.history.demandMinutes,
                                                 store, QDateTime::currentMSecsSinceEpoch());
    ReadingFilter filter(history ? std::vector<IReadingSink*>{history.get()} : sinks, o.checks,
                         Say);
    PollEngine engine(*line, *exchange, o.config, {&filter}, Say,
                      [] { return QDateTime::currentMSecsSinceEpoch(); });
    engine.Run(g_stop);
    if (history) history->Finish();
    std::fflush(out);
    PrintSummary(filter.WithEnergy(engine.Health()));
    if (mqtt)
        std::fprintf(stderr, "kx880-poll: MQTT: %llu messages dropped while the broker was away\n",
                     (unsigned long long)mqtt->Dropped());
    if (out != stdout) std::fclose(out);
    return 0;
}
