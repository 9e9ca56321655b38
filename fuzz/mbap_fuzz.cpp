// A hostile Modbus TCP peer: any byte stream, cut anywhere, must never crash the framing,
// and only well-formed frames may come out; a valid RTU request must survive the round
// trip to MBAP and back unchanged.
#include <algorithm>
#include <cstdint>

#include "modbus/Mbap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MbapStream stream;
    for (size_t at = 0; at < size;) {
        const size_t n = std::min<size_t>(size - at, 1 + data[at] % 64);
        stream.Feed(data + at, n);
        at += n;
        while (auto reply = stream.Next())
            if (reply->pdu.empty() || reply->pdu.size() > kMaxPdu) __builtin_trap();
    }
    const ByteBlock rtu(data, data + size);
    if (auto mbap = RtuToMbap(rtu, 7)) {
        MbapStream back;
        back.Feed(mbap->data(), mbap->size());
        auto reply = back.Next();
        if (!reply || reply->transaction != 7 || RtuFrame(reply->unit, reply->pdu) != rtu)
            __builtin_trap();
    }
    return 0;
}
