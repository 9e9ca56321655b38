#include "poll/history/RowCodec.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace {

template <typename Bits>
void AppendLittleEndian(std::string& out, Bits bits) {
    for (size_t i = 0; i < sizeof(Bits); ++i) out.push_back(char((bits >> (8 * i)) & 0xff));
}

template <typename Bits>
Bits ReadLittleEndian(std::string_view bytes, size_t at) {
    Bits bits = 0;
    for (size_t i = 0; i < sizeof(Bits); ++i)
        bits |= Bits(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return bits;
}

void AppendDouble(std::string& out, double v) {
    AppendLittleEndian(out, std::bit_cast<uint64_t>(v));
}

double ReadDouble(std::string_view bytes, size_t at) {
    return std::bit_cast<double>(ReadLittleEndian<uint64_t>(bytes, at));
}

// A float32 as the double of its shortest decimal text: 230.1 comes back as 230.1, not as
// 230.10000610351562, so that what leaves the box reads as what the meter said.
double Widened(float f) {
    if (!std::isfinite(f)) return double(f);
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, f).ptr;
    double d = 0;
    std::from_chars(text, end, d);
    return d;
}

}  // namespace

bool KeptAsDouble(int quantity) {
    const QuantityKind kind = Quantities()[quantity].kind;
    return kind == QuantityKind::ActiveEnergy || kind == QuantityKind::ReactiveEnergy;
}

size_t CompactSize() {
    size_t size = 0;
    for (int q = 0; q < kQuantityCount; ++q) size += KeptAsDouble(q) ? 8 : 4;
    return size;
}

std::string EncodeCompact(const MeasurementValues& values) {
    std::string out;
    out.reserve(CompactSize());
    for (int q = 0; q < kQuantityCount; ++q) {
        if (KeptAsDouble(q))
            AppendDouble(out, values[q]);
        else
            AppendLittleEndian(out, std::bit_cast<uint32_t>(float(values[q])));
    }
    return out;
}

std::optional<MeasurementValues> DecodeCompact(std::string_view bytes) {
    if (bytes.size() != CompactSize()) return std::nullopt;
    MeasurementValues values{};
    size_t at = 0;
    for (int q = 0; q < kQuantityCount; ++q) {
        if (KeptAsDouble(q)) {
            values[q] = ReadDouble(bytes, at);
            at += 8;
        } else {
            values[q] = Widened(std::bit_cast<float>(ReadLittleEndian<uint32_t>(bytes, at)));
            at += 4;
        }
    }
    return values;
}

std::string EncodeExact(const MeasurementValues& values) {
    std::string out;
    out.reserve(8 * kQuantityCount);
    for (double v : values) AppendDouble(out, v);
    return out;
}

std::optional<MeasurementValues> DecodeExact(std::string_view bytes) {
    if (bytes.size() != 8 * kQuantityCount) return std::nullopt;
    MeasurementValues values{};
    for (int q = 0; q < kQuantityCount; ++q) values[q] = ReadDouble(bytes, 8 * size_t(q));
    return values;
}
