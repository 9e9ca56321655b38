#include "modbus/Mbap.h"

#include "modbus/Crc.h"
#include "modbus/Frame.h"

namespace {

uint16_t Word(const ByteBlock& b, size_t at) {
    return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

void PutWord(ByteBlock& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v & 0xFF));
}

}  // namespace

std::optional<ByteBlock> RtuToMbap(const ByteBlock& rtu, uint16_t transaction,
                                   std::optional<uint8_t> unit) {
    if (rtu.size() < 4 || rtu.size() > 2 + kMaxPdu + 1) return std::nullopt;
    const auto n = static_cast<uint16_t>(rtu.size() - 2);
    const uint16_t crc = ModbusCrc16(rtu.data(), n);
    if (rtu[n] != (crc >> 8) || rtu[n + 1] != (crc & 0xFF)) return std::nullopt;
    ByteBlock out;
    PutWord(out, transaction);
    PutWord(out, 0);
    PutWord(out, static_cast<uint16_t>(n));  // unit id + PDU
    out.push_back(unit.value_or(rtu[0]));
    out.insert(out.end(), rtu.begin() + 1, rtu.begin() + n);
    return out;
}

ByteBlock RtuFrame(uint8_t address, const ByteBlock& pdu) {
    ByteBlock out{address};
    out.insert(out.end(), pdu.begin(), pdu.end());
    out.resize(out.size() + 2);
    AppendCrc(out.data(), static_cast<uint16_t>(out.size() - 2));
    return out;
}

void MbapStream::Feed(const uint8_t* bytes, size_t n) {
    m_buf.insert(m_buf.end(), bytes, bytes + n);
}

std::optional<MbapReply> MbapStream::Next() {
    if (m_buf.size() < kMbapHeader) return std::nullopt;
    const uint16_t length = Word(m_buf, 4);
    if (Word(m_buf, 2) != 0 || length < 2 || length > 1 + kMaxPdu) {
        m_buf.clear();
        ++m_refused;
        return std::nullopt;
    }
    const size_t whole = 6 + length;
    if (m_buf.size() < whole) return std::nullopt;
    MbapReply r{Word(m_buf, 0), m_buf[6],
                ByteBlock(m_buf.begin() + kMbapHeader, m_buf.begin() + whole)};
    m_buf.erase(m_buf.begin(), m_buf.begin() + whole);
    return r;
}
