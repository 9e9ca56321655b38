#include "poll/PollOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <set>

#include "base/Parse.h"
#include "modbus/AddressList.h"
#include "serial/NetworkPort.h"

namespace {

const std::set<long> kBauds = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

struct Parsed {
    QCommandLineParser& p;
    std::string& error;

    // A whole number from min to max, or an error naming the option.
    std::optional<long> Number(const QString& name, long min, long max) {
        std::string why;
        const auto v = ParseNumber(p.value(name).toStdString(), min, max, why);
        if (!v) error = "--" + name.toStdString() + ": " + why;
        return v;
    }
};

void AddOptions(QCommandLineParser& p) {
    p.setApplicationDescription(
        "Reads KX880 power meters on one RS-485 bus continuously and writes their values in\n"
        "physical units (scaled by each meter's PT, CT, Urg flag and energy exponent).\n"
        "Read-only: it never writes to a meter.");
    p.addHelpOption();
    p.addOptions({
        {"port", "Serial port: COMn (named as the console names it), a device path.", "port"},
        {"baud", "Baud rate of the bus: 1200 to 115200.", "rate", "9600"},
        {"parity", "Parity: none (2 stop bits), odd or even (1 stop bit).", "parity", "none"},
        {"address", "Meter addresses, 1-255: 1,3,5-8 polls those meters in turn.", "list"},
        {"interval", "Period of a whole round in ms; 0 polls back to back at line speed.", "ms",
         "0"},
        {"count", "Stop after this many rounds; 0 runs until SIGINT or SIGTERM.", "rounds", "0"},
        {"timeout", "Reply timeout in ms; 0 derives it from the wire time plus 100 ms.", "ms", "0"},
        {"format", "Output: table (default on a terminal), csv (default otherwise), jsonl.",
         "format"},
        {"output", "Append the output to this file, flushed line by line.", "file"},
        {"name",
         "Name of the bus in the outputs, topics and labels: letters, digits, - and _ "
         "(default: from the port).",
         "name"},
        {"mqtt", "Publish to this MQTT broker (port 1883, 8883 with TLS, unless given).",
         "host[:port]"},
        {"mqtt-user", "MQTT user name.", "user"},
        {"mqtt-password-file", "File whose first line is the MQTT password.", "file"},
        {"mqtt-tls-ca", "CA certificate file; turns TLS on.", "file"},
        {"mqtt-prefix", "Topic prefix: <prefix>/<bus>/<address>/state.", "prefix", "kx880"},
        {"mqtt-client-id", "MQTT client id (default: kx880-poll-<bus>).", "id"},
        {"mqtt-queue", "Messages kept while the broker is away; the oldest go first.", "count",
         "10000"},
        {"ha-discovery", "Publish Home Assistant MQTT discovery configs for every quantity."},
        {"ha-prefix", "Home Assistant discovery prefix.", "prefix", "homeassistant"},
        {"ha-cleanup", "Delete the discovery configs of this bus's meters no longer polled."},
        {"http",
         "Serve the dashboard (/), its API (/api/), /metrics (Prometheus) and /healthz on "
         "[ADDR]:PORT.",
         "[addr]:port"},
        {"http-user", "HTTP basic authentication for the dashboard and its API: the user.", "user"},
        {"http-password-file", "File whose first line is the HTTP password.", "file"},
        {"http-auth-metrics", "Ask for the user and password for /metrics and /healthz too."},
        {"diagnose",
         "Check each meter's wiring and values (docs/diagnostics.md); findings in every output."},
        {"diagnose-window",
         "A finding is reported once it has held this long, cleared once absent this long.",
         "seconds", "10"},
        {"nominal-voltage",
         "Nominal voltage, primary side (phase; line in three-wire modes); default: the nearest "
         "standard one.",
         "volts"},
        {"frequency", "Nominal frequency, 50 or 60; default: the nearer of the two.", "hz"},
        {"history",
         "Keep every meter's minutes, the last hour's readings and block demand in this SQLite "
         "file.",
         "file"},
        {"history-days", "Days the history keeps (minutes for a week, quarter hours after).",
         "days", "400"},
        {"demand-minutes", "Block demand over clock-aligned intervals of 15, 30 or 60 minutes.",
         "minutes", "15"},
    });
}

std::nullopt_t Fail(std::string& error, std::string why) {
    error = std::move(why);
    return std::nullopt;
}

bool Refused(std::string& error, std::string why) {
    error = std::move(why);
    return false;
}

// The first line of the option's file, without its line break.
bool ReadPassword(QCommandLineParser& p, const char* option, std::string& password,
                  std::string& error) {
    const std::string path = p.value(option).toStdString();
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return Refused(error, std::string("--") + option + ": cannot read " + path);
    char line[1024] = {};
    if (!std::fgets(line, sizeof line, f)) line[0] = 0;
    std::fclose(f);
    password = line;
    while (!password.empty() && (password.back() == '\n' || password.back() == '\r'))
        password.pop_back();
    return true;
}

bool ParseHttp(QCommandLineParser& p, HttpOptions& h, std::string& error) {
    if (!p.isSet("http")) {
        for (const char* name : {"http-user", "http-password-file", "http-auth-metrics"})
            if (p.isSet(name)) return Refused(error, std::string("--") + name + " needs --http");
        return true;
    }
    std::string why;
    h.listen = p.value("http").toStdString();
    if (!ParseHostPort(h.listen, {std::nullopt, true}, why))
        return Refused(error, "--http: " + why);
    h.user = p.value("http-user").toStdString();
    h.authMetrics = p.isSet("http-auth-metrics");
    if (p.isSet("http-user") && h.user.empty())
        return Refused(error, "--http-user: give a user name");
    if (h.user.empty() != !p.isSet("http-password-file"))
        return Refused(error, "--http-user and --http-password-file go together");
    if (h.authMetrics && h.user.empty())
        return Refused(error, "--http-auth-metrics needs --http-user");
    if (!h.user.empty() && !ReadPassword(p, "http-password-file", h.password, error)) return false;
    if (!h.user.empty() && h.password.empty())
        return Refused(error, "--http-password-file: the file's first line is empty");
    return true;
}

bool ParseMqtt(QCommandLineParser& p, MqttOptions& m, std::string& error) {
    if (!p.isSet("mqtt")) {
        for (const char* name :
             {"mqtt-user", "mqtt-password-file", "mqtt-tls-ca", "mqtt-prefix", "mqtt-client-id",
              "mqtt-queue", "ha-discovery", "ha-prefix", "ha-cleanup"})
            if (p.isSet(name)) return Refused(error, std::string("--") + name + " needs --mqtt");
        return true;
    }
    m.tlsCaFile = p.value("mqtt-tls-ca").toStdString();
    // Asked for and empty (an unset variable in a unit file) is no reason to go without TLS.
    if (p.isSet("mqtt-tls-ca") && m.tlsCaFile.empty())
        return Refused(error, "--mqtt-tls-ca: give the CA certificate file");
    std::string why;
    const auto where = ParseHostPort(p.value("mqtt").toStdString(),
                                     {m.tlsCaFile.empty() ? 1883 : 8883, false}, why);
    if (!where) return Refused(error, "--mqtt: " + why);
    m.host = where->host, m.port = where->port;
    m.user = p.value("mqtt-user").toStdString();
    if (p.isSet("mqtt-password-file") && !ReadPassword(p, "mqtt-password-file", m.password, error))
        return false;
    const auto queue = Parsed{p, error}.Number("mqtt-queue", 1, 10000000);
    if (!queue) return false;
    m.queueLimit = static_cast<size_t>(*queue);
    m.prefix = p.value("mqtt-prefix").toStdString();
    m.clientId = p.value("mqtt-client-id").toStdString();
    m.haDiscovery = p.isSet("ha-discovery");
    m.haPrefix = p.value("ha-prefix").toStdString();
    m.haCleanup = p.isSet("ha-cleanup");
    if (m.haCleanup && !m.haDiscovery) return Refused(error, "--ha-cleanup needs --ha-discovery");
    for (const std::string& t : {m.prefix, m.haPrefix})
        if (t.empty() || t.find_first_of("+#") != std::string::npos)
            return Refused(error, "--mqtt-prefix/--ha-prefix: \"" + t + "\" is not a topic prefix");
    return true;
}

bool ParseChecks(QCommandLineParser& p, CheckOptions& c, std::string& error) {
    c.diagnose = p.isSet("diagnose");
    if (!c.diagnose) {
        for (const char* name : {"diagnose-window", "nominal-voltage", "frequency"})
            if (p.isSet(name))
                return Refused(error, std::string("--") + name + " needs --diagnose");
        return true;
    }
    const auto window = Parsed{p, error}.Number("diagnose-window", 0, 3600);
    if (!window) return false;
    c.windowMs = *window * 1000;
    return ParseDiagnoseSettings(p.value("nominal-voltage").toStdString(),
                                 p.value("frequency").toStdString(), c.settings, error);
}

bool ParseHistory(QCommandLineParser& p, HistoryOptions& h, std::string& error) {
    h.path = p.value("history").toStdString();
    if (p.isSet("history") && h.path.empty()) return Refused(error, "--history: give a file");
    if (!p.isSet("history") && p.isSet("history-days"))
        return Refused(error, "--history-days needs --history");
    const auto days = Parsed{p, error}.Number("history-days", 1, 36500);
    const auto minutes = days ? Parsed{p, error}.Number("demand-minutes", 15, 60) : std::nullopt;
    if (!minutes) return false;
    if (*minutes != 15 && *minutes != 30 && *minutes != 60)
        return Refused(error,
                       "--demand-minutes: " + std::to_string(*minutes) + " is not 15, 30 or 60");
    h.days = int(*days), h.demandMinutes = int(*minutes);
    h.demand = p.isSet("history") || p.isSet("demand-minutes");
    return true;
}

}  // namespace

bool ParseArguments(QCommandLineParser& p, const std::vector<std::string>& args,
                    std::string& error) {
    QStringList list;
    for (const auto& a : args) list << QString::fromStdString(a);
    if (!p.parse(list)) return error = p.errorText().toStdString(), false;
    if (p.isSet("help")) p.showHelp(0);
    return true;
}

std::string BusNameFromPort(const std::string& port) {
    std::string base = port.substr(port.find_last_of('/') + 1);
    std::string out;
    for (char c : base) out += (std::isalnum(static_cast<unsigned char>(c)) || c == '-') ? c : '_';
    return out.empty() ? "bus" : out;
}

std::optional<PollOptions> ParsePollOptions(const std::vector<std::string>& args,
                                            bool stdoutIsTerminal, std::string& error) {
    QCommandLineParser p;
    AddOptions(p);
    if (!ParseArguments(p, args, error)) return std::nullopt;
    if (!p.positionalArguments().isEmpty()) {
        error = "unexpected argument \"" + p.positionalArguments().first().toStdString() + "\"";
        return std::nullopt;
    }
    Parsed in{p, error};
    PollOptions o;
    if (!p.isSet("port")) return Fail(error, "--port is required");
    if (!p.isSet("address")) return Fail(error, "--address is required");
    o.port = p.value("port").toStdString();
    o.bus = p.isSet("name") ? p.value("name").toStdString() : BusNameFromPort(o.port);
    if (o.bus.empty() || o.bus != BusNameFromPort(o.bus))
        return Fail(error, "--name: \"" + o.bus + "\" may hold only letters, digits, - and _");
    auto baud = in.Number("baud", 1, 10000000);
    if (!baud) return std::nullopt;
    if (!kBauds.count(*baud))
        return Fail(error, "--baud: " + std::to_string(*baud) +
                               " is not a rate of this bus (1200, 2400, 4800, 9600, 19200, 38400, "
                               "57600, 115200)");
    o.config.baud = static_cast<int>(*baud);
    const std::string parity = p.value("parity").toStdString();
    const auto parityCode = ParityCodeNamed(parity);
    if (!parityCode) return Fail(error, "--parity: \"" + parity + "\" is not none, odd or even");
    o.line = ConsoleLine(o.config.baud, *parityCode);
    std::string why;
    const auto addresses = ParseAddressList(p.value("address").toStdString(), 1, 255, why);
    if (!addresses)
        return Fail(error, "--address: " + why + " (0 is the broadcast address, never polled)");
    o.config.addresses = *addresses;
    auto interval = in.Number("interval", 0, 86400000);
    auto count = in.Number("count", 0, 1L << 40);
    auto timeout = interval && count ? in.Number("timeout", 0, 60000) : std::nullopt;
    if (!timeout) return std::nullopt;
    o.config.intervalMs = double(*interval), o.config.rounds = *count;
    o.config.timeoutMs = double(*timeout);
    const std::string format = p.isSet("format") ? p.value("format").toStdString()
                               : stdoutIsTerminal && !p.isSet("output") ? "table"
                                                                        : "csv";
    if (format == "table")
        o.format = OutputFormat::Table;
    else if (format == "csv")
        o.format = OutputFormat::Csv;
    else if (format == "jsonl")
        o.format = OutputFormat::Jsonl;
    else
        return Fail(error, "--format: \"" + format + "\" is not table, csv or jsonl");
    o.outputFile = p.value("output").toStdString();
    if (!ParseMqtt(p, o.mqtt, error) || !ParseChecks(p, o.checks, error) ||
        !ParseHistory(p, o.history, error))
        return std::nullopt;
    o.mqtt.demand = o.history.demand;
    o.mqtt.findings = o.checks.diagnose;
    if (!ParseHttp(p, o.http, error)) return std::nullopt;
    return o;
}
