// What a backend offers for one open dialog. The dialog code reaches it only through
// CDialog, which turns a missing host or an unknown control ID into "nothing happens".
#pragma once

#include <string>

#include "winsys/Types.h"

class IDialogHost {
  public:
    virtual ~IDialogHost() = default;
    virtual bool HasControl(int id) const = 0;
    virtual void SetText(int id, const std::string& text) = 0;
    virtual std::string GetText(int id) const = 0;
    virtual void SetCheck(int id, bool checked) = 0;
    virtual bool GetCheck(int id) const = 0;
    virtual void SetFocus(int id) = 0;
    // Starts timer id, or restarts it with the new period when it already runs.
    virtual void SetTimer(UINT id, UINT periodMs) = 0;
    virtual void KillTimer(UINT id) = 0;
    virtual void EndModal(int result) = 0;
    virtual bool IsIconic() const = 0;
    virtual void DrawIcon(int x, int y, HICON icon) = 0;
    virtual void ClientSize(int& cx, int& cy) const = 0;
    // Called once when the dialog goes away: timers stop, the window closes.
    virtual void Destroy() = 0;
};
