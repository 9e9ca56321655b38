// The poller's pure pieces: numeric decoding, addresses and options, the line outputs.
#include <gtest/gtest.h>

#include <chrono>

#include <clocale>
#include <cmath>
#include <map>

#include "modbus/AddressList.h"
#include "poll/PollOptions.h"
#include "poll/out/OutputText.h"
#include "poll/out/Writers.h"
#include "support/HandTexts.h"

namespace {

// Set A's registers with PT 100, CT 5, the Urg factor 4 and energy scale 1000, worked out
// by hand in base units.
const std::map<std::string, double> kSetAScaledValues = {
    {"voltage_a", 1000.0},
    {"line_voltage_ca", 2001.0},
    {"current_a", 1.501},
    {"active_power_a", 1000800.0},
    {"power_factor_a", 0.6005},
    {"reactive_power_a", 1401200.0},
    {"apparent_power_a", 800700.0},
    {"voltage_b", 9008.0},
    {"line_voltage_ab", 10009.0},
    {"current_b", 5.505},
    {"active_power_b", 2602400.0},
    {"power_factor_b", 1.4013},
    {"reactive_power_b", 3002800.0},
    {"apparent_power_b", 1601500.0},
    {"voltage_c", 17016.0},
    {"line_voltage_bc", 18017.0},
    {"current_c", 9.509},
    {"active_power_c", 4204000.0},
    {"power_factor_c", 2.2021},
    {"reactive_power_c", 4604400.0},
    {"apparent_power_c", 2402300.0},
    {"current_zero_sequence", 12.512},
    {"voltage_mean", 26025.0},
    {"current_mean", 13.513},
    {"frequency", 29.93647951},
    {"active_power_total", 5805600.0},
    {"power_factor_total", 3.0029},
    {"reactive_power_total", 6206000.0},
    {"apparent_power_total", 3203100.0},
    {"active_energy_forward", 1148011128500000},
    {"active_energy_reverse", 1213613665500000},
    {"reactive_energy_forward", 1279216202500000},
    {"reactive_energy_reverse", 1344818739500000},
    {"line_voltage_mean", 10009.0},
};

std::optional<PollOptions> Parse(std::vector<std::string> args, std::string& error,
                                 bool terminal = false) {
    args.insert(args.begin(), "kx880-poll");
    return ParsePollOptions(args, terminal, error);
}

Reading SampleReading() {
    Reading r;
    r.address = 7;
    r.unixMs = 1765299903250;  // 2025-12-09T17:05:03.250Z
    for (int k = 0; k < kQuantityCount; ++k) r.values[k] = 0.5 + k;
    r.values[QuantityIndex("voltage_a")] = 230.25;
    r.params.pt = 100, r.params.ct = 5, r.params.urgFactor = 4, r.energyScale = 1000;
    return r;
}

std::string ReadBack(std::FILE* f) {
    std::string s;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
    return s;
}

}  // namespace

TEST(PollDecoding, EveryQuantityInBaseUnitsMatchesTheHandTable) {
    uint8_t data[90];
    for (int r = 0; r < 45; ++r)
        data[2 * r] = SetARegister(r) >> 8, data[2 * r + 1] = SetARegister(r) & 0xFF;
    const MeasurementValues v = DecodeMeasurementValues(data, {100, 5, 4, 1000});
    ASSERT_EQ(kSetAScaledValues.size(), size_t(kQuantityCount));
    for (int k = 0; k < kQuantityCount; ++k)
        EXPECT_DOUBLE_EQ(v[k], kSetAScaledValues.at(Quantities()[k].key)) << Quantities()[k].key;
    // Signs: a negative active power stays negative; the reverse counters are magnitudes.
    data[2 * 0x1C] = 0xFF, data[2 * 0x1C + 1] = 0xFF;
    EXPECT_DOUBLE_EQ(DecodeMeasurementValues(data, {})[QuantityIndex("active_power_total")], -0.1);
}

TEST(PollAddresses, ListsAndRanges) {
    std::string error;
    EXPECT_EQ(ParseAddressList("1,3,5-8,3", 1, 255, error),
              (std::vector<uint8_t>{1, 3, 5, 6, 7, 8}));
    EXPECT_EQ(ParseAddressList("248-255", 1, 255, error)->size(), 8u);
    for (const char* bad : {"", "0", "256", "1,,2", "8-5", "1-", "x", " 1", "1.5", "-3"}) {
        EXPECT_FALSE(ParseAddressList(bad, 1, 255, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(PollOptions, DefaultsAndTheConsolesStopBitRule) {
    std::string error;
    auto o = Parse({"--port", "/dev/ttyUSB0", "--address", "1,3"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->line.baud, 9600);
    EXPECT_EQ(o->line.stopBits, LineSettings::StopBits::Two);
    EXPECT_EQ(o->config.addresses, (std::vector<uint8_t>{1, 3}));
    EXPECT_EQ(o->format, OutputFormat::Csv);
    EXPECT_EQ(o->bus, "ttyUSB0");
    EXPECT_EQ(Parse({"--port", "COM1", "--address", "1"}, error, true)->format,
              OutputFormat::Table);
    o = Parse({"--port=COM2", "--address=9", "--parity=even", "--baud=19200", "--format=jsonl",
               "--interval=1000", "--count=5", "--timeout=300"},
              error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->line.parity, LineSettings::Parity::Even);
    EXPECT_EQ(o->line.stopBits, LineSettings::StopBits::One);
    EXPECT_EQ(o->config.rounds, 5);
    EXPECT_EQ(o->config.intervalMs, 1000);
    EXPECT_EQ(o->config.timeoutMs, 300);
    EXPECT_EQ(o->format, OutputFormat::Jsonl);
}

TEST(PollOptions, BadInputNamesWhatIsWrong) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--port", "COM1", "--address", "1", "--speed", "9600"}, "speed"},
        {{"--port", "COM1", "--address", "1", "--baud", "1234"}, "--baud"},
        {{"--port", "COM1", "--address", "1", "--baud", "fast"}, "--baud"},
        {{"--port", "COM1", "--address", "0"}, "broadcast"},
        {{"--port", "COM1", "--address", "256"}, "--address"},
        {{"--port", "COM1", "--address", "1", "--parity", "mark"}, "--parity"},
        {{"--port", "COM1", "--address", "1", "--interval", "-5"}, "--interval"},
        {{"--port", "COM1", "--address", "1", "--format", "xml"}, "--format"},
        {{"--address", "1"}, "--port"},
        {{"--port", "COM1"}, "--address"},
        {{"--port", "COM1", "--address", "1", "extra"}, "extra"},
    };
    for (const auto& [args, mention] : cases) {
        std::string error;
        EXPECT_FALSE(Parse(args, error)) << mention;
        EXPECT_NE(error.find(mention), std::string::npos) << error;
    }
}

TEST(PollOutputs, NumbersRoundTripWhateverTheLocale) {
    std::setlocale(LC_ALL, "de_DE.UTF-8");  // a decimal comma, where the system has it
    EXPECT_EQ(NumberText(0.1), "0.1");
    EXPECT_EQ(NumberText(230.25), "230.25");
    EXPECT_EQ(NumberText(1148011128500000), "1148011128500000");
    EXPECT_EQ(NumberText(-0.1), "-0.1");
    EXPECT_EQ(NumberText(NAN), "");
    EXPECT_EQ(IsoUtc(1765299903250), "2025-12-09T17:05:03.250Z");
    std::FILE* f = std::tmpfile();
    auto json = MakeJsonlWriter(f, "bus \"A\"");
    json->OnReading(SampleReading());
    const std::string line = ReadBack(f);  // there without closing: flushed per line
    std::setlocale(LC_ALL, "C");
    EXPECT_NE(line.find("\"voltage_a\":230.25"), std::string::npos) << line;
    EXPECT_NE(line.find("\"bus\":\"bus \\\"A\\\"\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"time\":\"2025-12-09T17:05:03.250Z\""), std::string::npos) << line;
    EXPECT_EQ(line.find("limits"), std::string::npos);  // no status bytes were sent
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    std::fclose(f);
}

TEST(PollOutputs, CsvHeaderOnceFieldsQuotedAsRfc4180) {
    EXPECT_EQ(CsvField("plain"), "plain");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
    std::FILE* f = std::tmpfile();
    auto csv = MakeCsvWriter(f, "east,1", true);
    Reading r = SampleReading();
    r.voltageStatus = 0x40, r.currentStatus = 0x00;
    r.values[QuantityIndex("active_energy_forward")] = NAN;  // not known
    csv->OnReading(r);
    const std::string text = ReadBack(f);
    const std::string header = text.substr(0, text.find('\n'));
    const std::string row = text.substr(header.size() + 1);
    EXPECT_EQ(header.rfind("time,bus,address,voltage_a [V],line_voltage_ca [V],current_a [A],", 0),
              0u);
    EXPECT_NE(header.find(",power_factor_a,reactive_power_a [var],"), std::string::npos);
    EXPECT_NE(header.find(",active_energy_forward [Wh],"), std::string::npos);
    EXPECT_EQ(row.rfind("2025-12-09T17:05:03.250Z,\"east,1\",7,230.25,1.5,", 0), 0u) << row;
    EXPECT_NE(row.find(",28.5,,30.5,"), std::string::npos) << row;  // the unknown energy is empty
    EXPECT_NE(row.find(",100,5,0,4,0,1000,64,0\n"), std::string::npos) << row;
    std::fclose(f);
}

TEST(PollOutputs, TheLiveTableShowsEachMeterWithTheConsolesUnits) {
    std::FILE* f = std::tmpfile();
    auto table = MakeTableWriter(f, "east", false);
    Reading r = SampleReading();
    r.values[QuantityIndex("voltage_mean")] = 230.25;
    r.values[QuantityIndex("active_power_total")] = 1500000.5;
    table->OnReading(r);
    std::vector<MeterHealth> health(2);
    health[0].address = 7, health[0].ok = 3;
    health[1].address = 9, health[1].answering = false, health[1].timeouts = 4,
    health[1].lastError = "no reply";
    table->OnRoundEnd(health);
    const std::string screen = ReadBack(f);
    EXPECT_EQ(screen.rfind("\x1b[H\x1b[2J", 0), 0u);  // drawn in place
    EXPECT_NE(screen.find("230.25 V"), std::string::npos) << screen;
    EXPECT_NE(screen.find("1.5000 MW"), std::string::npos) << screen;
    EXPECT_NE(screen.find("\n9     silent"), std::string::npos) << screen;
    EXPECT_NE(screen.find("meter 9: 0 ok, 4 timeouts, 0 bad frames, 0 exceptions, 0 stale; "
                          "last: no reply"),
              std::string::npos)
        << screen;
    // Meter 7 falls silent: its last values go, their age is shown.
    health[0].answering = false;
    health[0].lastGoodUnixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count() -
                               12500;
    std::fseek(f, 0, SEEK_END);  // from reading back to writing
    const long before = std::ftell(f);
    table->OnRoundEnd(health);
    const std::string next = ReadBack(f).substr(size_t(before));
    EXPECT_EQ(next.find("230.25 V"), std::string::npos) << next;
    EXPECT_NE(next.find("meter 7: 3 ok, 0 timeouts, 0 bad frames, 0 exceptions, 0 stale; last good "
                        "reading 12 s ago"),
              std::string::npos)
        << next;
    std::fclose(f);
}
