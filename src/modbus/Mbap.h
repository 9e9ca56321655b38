// Modbus TCP framing (the MBAP header) and its translation to and from the RTU frames the
// console and the poller speak, so that everything above the port sees a serial line.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/Bytes.h"

constexpr int kMbapHeader = 7;  // transaction, protocol, length (2 bytes each), unit
constexpr int kMaxPdu = 253;

// The MBAP request for one RTU request frame (address, PDU, CRC): its PDU under a header
// with this transaction id and the frame's address as unit id, unless unit says another.
// Nothing for bytes that are not one whole frame with a correct CRC.
std::optional<ByteBlock> RtuToMbap(const ByteBlock& rtu, uint16_t transaction,
                                   std::optional<uint8_t> unit = std::nullopt);

// The RTU frame a meter at address would have sent with this PDU: address, PDU, CRC.
ByteBlock RtuFrame(uint8_t address, const ByteBlock& pdu);

struct MbapReply {
    uint16_t transaction;
    uint8_t unit;
    ByteBlock pdu;
};

// Cuts a TCP byte stream into MBAP frames. A header that cannot be Modbus (protocol other
// than 0, a length below 2 or above 254) leaves no way to find the next frame: the stream
// is dropped and counted.
class MbapStream {
  public:
    void Feed(const uint8_t* bytes, size_t n);
    std::optional<MbapReply> Next();
    uint64_t Refused() const { return m_refused; }

  private:
    ByteBlock m_buf;
    uint64_t m_refused = 0;
};
