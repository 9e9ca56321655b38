// The command line of kx880-poll.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "poll/PollEngine.h"
#include "poll/ReadingFilter.h"
#include "poll/out/Mqtt.h"
#include "poll/web/HttpService.h"

enum class OutputFormat { Table, Csv, Jsonl };

struct HistoryOptions {
    std::string path;  // empty: no store
    int days = 400;
    bool demand = false;  // --history or --demand-minutes
    int demandMinutes = 15;
};

struct PollOptions {
    std::string port;   // as given: COMn, a device path
    std::string bus;    // the bus's name in outputs
    LineSettings line;  // stop bits follow the parity: 2 without, 1 with
    PollConfig config;
    OutputFormat format = OutputFormat::Csv;
    std::string outputFile;  // empty: standard output
    MqttOptions mqtt;        // host empty: no MQTT
    HttpOptions http;        // listen empty: no HTTP server
    CheckOptions checks;     // the wiring checks, with --diagnose
    HistoryOptions history;
};

// The options, or nothing with one line naming what is wrong in error. --help and
// --version print and exit; stdoutIsTerminal picks the default format.
std::optional<PollOptions> ParsePollOptions(const std::vector<std::string>& args,
                                            bool stdoutIsTerminal, std::string& error);

// The arguments by the options the parser knows; --help prints them and exits. False and
// the parser's own words in error for an unknown option or a missing value.
class QCommandLineParser;
bool ParseArguments(QCommandLineParser& p, const std::vector<std::string>& args,
                    std::string& error);

// The name of a bus from its port: "COM1", "ttyUSB0", "usb-FTDI_..."; letters, digits,
// '-' and '_' only, so that it can stand in topics and labels.
std::string BusNameFromPort(const std::string& port);
