// The command line of kx880-ctl: scan, get, set, apply, diagnose.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "diagnose/Picture.h"

enum class Command { Scan, Get, Set, Apply, Diagnose };

struct CtlOptions {
    Command command = Command::Scan;
    std::string port;
    std::vector<int> bauds;     // scan: every rate asked for; the others: the one the bus runs at
    std::vector<int> parities;  // parity codes: 0 none, 1 odd, 2 even
    std::vector<uint8_t> addresses;
    bool first = false;  // scan: stop at the first meter
    bool yes = false;    // set, apply: write; without it, show what would be written
    bool jsonl = false;
    double replyTimeoutMs = -1;  // -1: the default of the command
    std::optional<long> pt, ct, wiring, newAddress, newBaud, newParity;
    std::string plan;
    long seconds = 10;  // diagnose: the window each finding must hold through
    DiagnoseSettings diagnose;
};

// The options, or nothing with one line naming what is wrong in error.
std::optional<CtlOptions> ParseCtlOptions(const std::vector<std::string>& args,
                                          bool stdoutIsTerminal, std::string& error);
