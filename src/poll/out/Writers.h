// The line outputs: CSV with a header once, and JSON lines. Each line is written whole and
// flushed, so a killed process loses at most the line being written.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "poll/Reading.h"

// writeHeader: false when appending to a file that already has one.
std::unique_ptr<IReadingSink> MakeCsvWriter(std::FILE* out, std::string bus, bool writeHeader);
std::unique_ptr<IReadingSink> MakeJsonlWriter(std::FILE* out, std::string bus);
// A live table on a terminal, a row per meter, refreshed in place after every round; with
// diagnose a marker per meter and a line per standing finding.
std::unique_ptr<IReadingSink> MakeTableWriter(std::FILE* out, std::string bus, bool diagnose);
