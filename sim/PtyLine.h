// The simulated meter on a pseudo-terminal: the console opens the terminal side by its path
// like any serial device; the meter sits on the master side, reads the line settings the
// console set, and writes its replies paced at the wire speed.
#pragma once

#include <cstdio>
#include <deque>
#include <string>

#include "sim/LineClock.h"
#include "sim/SimMeter.h"

class PtyLine : public IReplySink {
  public:
    PtyLine(ISimPeer& meter, bool verbose);
    ~PtyLine() override;
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Opens the pair; false with a reason when the system refuses.
    bool Open(std::string& error);
    // Makes linkPath a symbolic link to the terminal (replacing an old link, never a file).
    bool Link(const std::string& linkPath, std::string& error);
    const std::string& TerminalPath() const { return m_path; }

    // Serves requests until stop becomes true (checked at least every 50 ms).
    void Serve(const StopFlag& stop);

    void Deliver(ByteBlock bytes, double atMs) override;

    // The console's settings as the terminal holds them. A pseudo-terminal drops the parity
    // bit, but speed, stop bits and odd/even tell the console's three settings apart.
    LineSettings ConsoleLine() const;

  private:
    double Now() const;  // milliseconds, to the microsecond
    void Log(const char* dir, const ByteBlock& bytes) const;
    void ReadInput();
    void FlushDue(const StopFlag& stop);
    void HandleFrame();

    ISimPeer& m_meter;  // one meter or a bus of them
    bool m_verbose;
    int m_master = -1, m_slave = -1;
    std::string m_path, m_link;
    ByteBlock m_frame;  // bytes of the request being received
    double m_lastByteMs = 0;
    struct Pending {
        double atMs;
        ByteBlock bytes;
    };
    std::deque<Pending> m_out;
    double m_startMs;
};
