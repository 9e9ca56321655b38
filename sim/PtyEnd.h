// The simulated meter on a pseudo-terminal: the console opens the terminal side by its path
// like any serial device; the meter sits on the master side and reads the line settings the
// console set.
#pragma once

#include <string>

#include "sim/LineServer.h"

class PtyEnd : public ILineEnd {
  public:
    PtyEnd() = default;
    ~PtyEnd() override;
    PtyEnd(const PtyEnd&) = delete;
    PtyEnd& operator=(const PtyEnd&) = delete;

    // Opens the pair; false with a reason when the system refuses.
    bool Open(std::string& error);
    // Makes linkPath a symbolic link to the terminal (replacing an old link, never a file).
    bool Link(const std::string& linkPath, std::string& error);
    const std::string& TerminalPath() const { return m_path; }

    int Fd() const override { return m_master; }
    // The console's settings as the terminal holds them. A pseudo-terminal drops the parity
    // bit, but speed, stop bits and odd/even tell the console's three settings apart.
    LineSettings Line() const override;

  private:
    int m_master = -1, m_slave = -1;
    std::string m_path, m_link;
};
