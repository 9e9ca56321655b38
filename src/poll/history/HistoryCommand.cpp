#include "poll/history/HistoryCommand.h"

#include <QCommandLineParser>
#include <cstdio>

#include "base/Parse.h"
#include "poll/PollOptions.h"
#include "poll/history/Export.h"
#include "poll/history/Store.h"

namespace {

int Refuse(const std::string& why) {
    std::fprintf(stderr, "kx880-poll history: %s\n(kx880-poll history --help lists the options)\n",
                 why.c_str());
    return 2;
}

}  // namespace

int RunHistoryCommand(const std::vector<std::string>& args) {
    QCommandLineParser p;
    p.setApplicationDescription("Prints a meter's history from the file of kx880-poll --history.");
    p.addHelpOption();
    p.addPositionalArgument("history", "the command");
    p.addOptions({
        {"history", "The history file.", "file"},
        {"address", "The meter, 1-255.", "address"},
        {"from", "From (ISO 8601, UTC): 2026-12-01 or 2026-12-01T06:00:00Z.", "time"},
        {"to", "To (ISO 8601, UTC), not included.", "time"},
        {"step", "Rows of 1m, 15m, 1h or 1d.", "step", "1m"},
        {"format", "csv (RFC 4180, a header with units) or json.", "format", "csv"},
    });
    std::string error;
    if (!ParseArguments(p, args, error)) return Refuse(error);
    if (p.positionalArguments().size() != 1)
        return Refuse("unexpected argument \"" + p.positionalArguments().last().toStdString() +
                      "\"");
    for (const char* required : {"history", "address", "from", "to"})
        if (!p.isSet(required)) return Refuse(std::string("--") + required + " is required");
    std::string why;
    const auto address = ParseNumber(p.value("address").toStdString(), 1, 255, why);
    if (!address) return Refuse("--address: " + why);
    const auto from = ParseIsoUtc(p.value("from").toStdString());
    const auto to = ParseIsoUtc(p.value("to").toStdString());
    if (!from || !to)
        return Refuse("--from/--to: ISO 8601 times in UTC, such as 2026-12-01T06:00:00Z");
    if (*to <= *from) return Refuse("--to must come after --from");
    const auto step = StepNamed(p.value("step").toStdString());
    if (!step)
        return Refuse("--step: \"" + p.value("step").toStdString() + "\" is not 1m, 15m, 1h or 1d");
    const std::string format = p.value("format").toStdString();
    if (format != "csv" && format != "json")
        return Refuse("--format: \"" + format + "\" is not csv or json");
    auto store = HistoryStore::OpenForReading(p.value("history").toStdString(), error);
    if (!store) return Refuse("--history: " + error);
    const auto rows = store->Rows({uint8_t(*address), *from, *to, *step});
    const std::string text =
        format == "csv" ? HistoryCsv(rows) : HistoryJson(uint8_t(*address), *step, rows) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}
