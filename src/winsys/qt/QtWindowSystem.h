// The real window system over Qt Widgets. Needs a QApplication; includes no Qt header here,
// so the program's entry point stays free of them.
#pragma once

#include <string>

#include "winsys/WindowSystem.h"

class QtWindowSystem : public CWindowSystem {
  public:
    explicit QtWindowSystem(IClock& clock) : m_clock(clock) {}
    int RunModal(CDialog& dlg) override;
    int MessageBox(const std::string& text, BoxOwner owner) override;
    IClock& Clock() override { return m_clock; }

    // The title of message boxes.
    void SetAppTitle(std::string title) { m_title = std::move(title); }

  private:
    IClock& m_clock;
    std::string m_title = "KX880";
};

// The installed family that stands in for the templates' Chinese fonts; empty when the
// system has no font with simplified Chinese glyphs.
std::string ChineseFontFamily();
