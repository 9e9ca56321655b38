// Times on a Modbus RTU line: every character is 11 bits (start, 8 data, parity or a second
// stop bit, stop), and frames are kept apart by 3.5 characters of silence.
#pragma once

struct LineTiming {
    double charMs;  // one character on the wire

    static LineTiming ForBaud(int baud) { return {11.0 * 1000.0 / baud}; }
    double WireMs(int chars) const { return chars * charMs; }
    double SilenceMs() const { return 3.5 * charMs; }
    // The longest a reply may take: the request and the reply on the wire, the slave's
    // silence before it answers, and a margin for the slave's own processing.
    double ReplyTimeoutMs(int requestChars, int replyChars, double marginMs = 100) const {
        return WireMs(requestChars + replyChars) + SilenceMs() + marginMs;
    }
};
