#include "winsys/DialogTemplate.h"

#include <cstdlib>

#include <limits>
#include "winsys/Types.h"

const ControlTemplate* DialogTemplate::Find(int ctlId) const {
    if (ctlId == IDC_STATIC) return nullptr;
    for (const auto& c : controls)
        if (c.id == ctlId) return &c;
    return nullptr;
}

namespace {

bool IsLabel(const ControlTemplate& c) {
    return c.kind == CtlKind::Static;
}

int CentreY(const DlgRect& r) {
    return r.y + r.cy / 2;
}

// The closest label to the left on the same line.
const ControlTemplate* RowLabel(const std::vector<ControlTemplate>& all, const DlgRect& e) {
    const ControlTemplate* best = nullptr;
    int bestGap = std::numeric_limits<int>::max();
    for (const auto& c : all) {
        if (!IsLabel(c) || c.Has(kHidden)) continue;
        if (std::abs(CentreY(c.rc) - CentreY(e)) > e.cy / 2 + 2) continue;
        int gap = e.x - (c.rc.x + c.rc.cx);
        if (gap < -4 || c.rc.x >= e.x) continue;
        if (gap < bestGap) bestGap = gap, best = &c;
    }
    return best;
}

// The closest label above whose left edge lies within the edit's width.
const ControlTemplate* ColumnLabel(const std::vector<ControlTemplate>& all, const DlgRect& e) {
    const ControlTemplate* best = nullptr;
    int bestGap = std::numeric_limits<int>::max();
    for (const auto& c : all) {
        if (!IsLabel(c) || c.Has(kHidden)) continue;
        if (c.rc.y + c.rc.cy > e.y + 1) continue;
        if (c.rc.x + c.rc.cx <= e.x || c.rc.x >= e.x + e.cx) continue;
        int gap = e.y - c.rc.y;
        if (gap < bestGap) bestGap = gap, best = &c;
    }
    return best;
}

std::string Trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

}  // namespace

std::string DialogTemplate::EditLabel(const ControlTemplate& edit) const {
    const ControlTemplate* row = RowLabel(controls, edit.rc);
    const ControlTemplate* col = ColumnLabel(controls, edit.rc);
    if (row && col) return Trimmed(row->caption) + " / " + Trimmed(col->caption);
    if (row) return Trimmed(row->caption);
    if (col) return Trimmed(col->caption);
    return "ctl" + std::to_string(edit.id);
}
