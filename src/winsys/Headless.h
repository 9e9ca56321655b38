// A window system without windows: it records every text set by control ID, every message
// box and every dialog run, in order; timers tick only when a test moves the virtual clock
// or ticks them by hand; modal dialogs are answered by a scripted operator.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "winsys/Dialog.h"

struct UiEvent {
    enum Kind { Text, MessageBox, DialogOpened, DialogClosed } kind;
    int dialogId;  // template ID, 0 for a message box
    int ctlId;     // for Text
    std::string text;
    bool known;  // for Text: the dialog has a control with that ID; for a message box: the
                 // application's own (not a window's)
};

class HeadlessWindowSystem;

// One open dialog, as the scripted operator and the tests see it.
class HeadlessDialog : public IDialogHost {
  public:
    HeadlessDialog(HeadlessWindowSystem& ws, CDialog& dlg, bool modal);

    // Operator actions.
    void Type(int id, const std::string& text);  // replaces the edit's text
    void Click(int id);                          // a button or a radio
    void PressEsc() { Command(IDCANCEL); }
    void CloseBox();  // the close box, where the frame has one
    void Minimise(bool iconic) { m_iconic = iconic; }

    // Looking at it.
    std::string Text(int id) const;
    bool Checked(int id) const;
    bool TimerRunning(UINT id) const { return m_timers.count(id) != 0; }
    UINT TimerPeriod(UINT id) const;
    int FocusId() const { return m_focus; }
    bool Ended() const { return m_ended; }
    int Result() const { return m_result; }
    bool Destroyed() const { return m_destroyed; }
    CDialog& Dialog() { return m_dlg; }

    // Fires timer id now if it runs.
    void Tick(UINT id);

    // IDialogHost
    bool HasControl(int id) const override;
    void SetText(int id, const std::string& text) override;
    std::string GetText(int id) const override { return Text(id); }
    void SetCheck(int id, bool checked) override;
    bool GetCheck(int id) const override { return Checked(id); }
    void SetFocus(int id) override { m_focus = id; }
    void SetTimer(UINT id, UINT periodMs) override;
    void KillTimer(UINT id) override { m_timers.erase(id); }
    void EndModal(int result) override;
    bool IsIconic() const override { return m_iconic; }
    void DrawIcon(int, int, HICON icon) override { m_iconsDrawn += icon != nullptr; }
    void ClientSize(int& cx, int& cy) const override;
    void Destroy() override;

    int IconsDrawn() const { return m_iconsDrawn; }

  private:
    friend class HeadlessWindowSystem;
    struct Timer {
        UINT period;
        uint64_t due;
    };
    void Command(int id);

    HeadlessWindowSystem& m_ws;
    CDialog& m_dlg;
    bool m_modal;
    std::map<int, std::string> m_texts;
    std::map<int, bool> m_checks;
    std::map<UINT, Timer> m_timers;
    int m_focus = 0;
    bool m_ended = false, m_destroyed = false, m_iconic = false;
    int m_result = 0;
    int m_iconsDrawn = 0;
};

class HeadlessWindowSystem : public CWindowSystem {
  public:
    using Script = std::function<void(HeadlessDialog&)>;
    using MessageBoxHook = std::function<void(const std::string&)>;

    explicit HeadlessWindowSystem(VirtualClock& clock) : m_clock(clock) {}

    // The operator's answer to the next modal dialog: it acts on the open dialog and
    // must end it. A dialog run without a script, or left open, throws.
    void Expect(Script script) { m_scripts.push_back(std::move(script)); }
    size_t PendingScripts() const { return m_scripts.size(); }
    // Called while a message box is open (the operator reads it, timers may tick).
    void OnMessageBox(MessageBoxHook hook) { m_msgHook = std::move(hook); }

    // Opens a dialog without a modal loop, for tests that drive it step by step. Ending
    // it (OK, Esc, close box) destroys it once the handler returns.
    HeadlessDialog& Open(CDialog& dlg);
    // Moves the virtual clock on by ms, firing every due timer of every open dialog in
    // time order, as the window system would deliver them.
    void Advance(uint64_t ms);

    int RunModal(CDialog& dlg) override;
    int MessageBox(const std::string& text, BoxOwner owner) override;
    IClock& Clock() override { return m_clock; }

    const std::vector<UiEvent>& Log() const { return m_log; }
    std::vector<std::string> MessageBoxes() const;
    std::vector<std::string> TextsSetFor(int ctlId) const;
    void ClearLog() { m_log.clear(); }
    // Lets go of the dialogs that have closed (kept until then for a last look).
    void ForgetClosed();

  private:
    friend class HeadlessDialog;
    void Record(UiEvent e) { m_log.push_back(std::move(e)); }
    void Close(HeadlessDialog& host);

    VirtualClock& m_clock;
    std::deque<Script> m_scripts;
    MessageBoxHook m_msgHook;
    std::vector<std::unique_ptr<HeadlessDialog>> m_open;
    std::vector<UiEvent> m_log;
};
