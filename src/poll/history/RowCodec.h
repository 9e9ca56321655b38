// How a row's 34 values are kept in the file: little-endian, each measured quantity as a
// float32 (its 24-bit mantissa is finer than any register of the meter) and each energy
// counter as a float64, so that a counter of 123456789.123 Wh comes back as it went in.
// NaN stays NaN. Changing this layout means a new schema version.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "measure/MeasurementBlock.h"

// True for the four energy counters, which keep their full double precision.
bool KeptAsDouble(int quantity);

size_t CompactSize();  // bytes of one set of values in the compact layout
std::string EncodeCompact(const MeasurementValues& values);
std::optional<MeasurementValues> DecodeCompact(std::string_view bytes);

// Raw readings keep every value as a float64.
std::string EncodeExact(const MeasurementValues& values);
std::optional<MeasurementValues> DecodeExact(std::string_view bytes);
