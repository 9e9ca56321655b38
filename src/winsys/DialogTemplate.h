// Dialog templates kept as data: what each backend builds a window from.
#pragma once

#include <string>
#include <vector>

enum class CtlKind { Static, Edit, PushButton, DefPushButton, Radio, GroupBox, SerialControl };

// Control styles; a control without kBorderless draws a frame where its kind has one.
enum CtlStyle : unsigned {
    kHidden = 1u << 0,
    kReadOnly = 1u << 1,
    kBorderless = 1u << 2,
    kMultiLine = 1u << 3,
    kVScroll = 1u << 4,
    kWrap = 1u << 5,  // a multi-line edit breaks long lines instead of scrolling sideways
    kTabStop = 1u << 6,
    kGroup = 1u << 7,
    kAutoHScroll = 1u << 8,
};

// Window frame of a dialog.
enum DlgFrame : unsigned {
    kSysMenu = 1u << 0,      // close box; closing counts as cancel
    kMinimizeBox = 1u << 1,  // can be minimised
};

struct DlgRect {
    int x, y, cx, cy;  // dialog units
};

struct ControlTemplate {
    int id;  // IDC_STATIC for labels and group boxes
    CtlKind kind;
    std::string caption;
    DlgRect rc;
    unsigned style;
    bool Has(CtlStyle s) const { return (style & s) != 0; }
};

struct DialogTemplate {
    int id;
    std::string caption;
    std::string fontFace;
    int pointSize;
    int cx, cy;
    unsigned frame;
    std::vector<ControlTemplate> controls;

    const ControlTemplate* Find(int ctlId) const;
    bool HasFrame(DlgFrame f) const { return (frame & f) != 0; }
    // "row / column" of an edit inside a grid of labels, or its nearest label; used
    // as the accessible name of edits that have no caption of their own.
    std::string EditLabel(const ControlTemplate& edit) const;
};
