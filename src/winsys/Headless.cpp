#include "winsys/Headless.h"

#include <algorithm>
#include <stdexcept>

HeadlessDialog::HeadlessDialog(HeadlessWindowSystem& ws, CDialog& dlg, bool modal)
    : m_ws(ws), m_dlg(dlg), m_modal(modal) {
    for (const auto& c : dlg.Template().controls)
        if (c.id != IDC_STATIC) m_texts[c.id] = c.caption;
}

bool HeadlessDialog::HasControl(int id) const {
    return id != IDC_STATIC && m_dlg.Template().Find(id) != nullptr;
}

std::string HeadlessDialog::Text(int id) const {
    auto it = m_texts.find(id);
    return it == m_texts.end() ? std::string() : it->second;
}

bool HeadlessDialog::Checked(int id) const {
    auto it = m_checks.find(id);
    return it != m_checks.end() && it->second;
}

UINT HeadlessDialog::TimerPeriod(UINT id) const {
    auto it = m_timers.find(id);
    return it == m_timers.end() ? 0 : it->second.period;
}

void HeadlessDialog::SetText(int id, const std::string& text) {
    bool known = HasControl(id);
    m_ws.Record({UiEvent::Text, m_dlg.Template().id, id, text, known});
    if (known) m_texts[id] = text;
}

void HeadlessDialog::SetCheck(int id, bool checked) {
    m_checks[id] = checked;
}

void HeadlessDialog::SetTimer(UINT id, UINT periodMs) {
    m_timers[id] = Timer{periodMs, m_ws.m_clock.NowMs() + periodMs};
}

void HeadlessDialog::EndModal(int result) {
    if (m_ended) return;
    m_ended = true;
    m_result = result;
}

void HeadlessDialog::ClientSize(int& cx, int& cy) const {
    cx = m_dlg.Template().cx * 6 / 4;
    cy = m_dlg.Template().cy * 12 / 8;
}

void HeadlessDialog::Destroy() {
    m_timers.clear();
    m_destroyed = true;
}

void HeadlessDialog::Type(int id, const std::string& text) {
    const ControlTemplate* c = m_dlg.Template().Find(id);
    if (!c || c->kind != CtlKind::Edit || c->Has(kHidden) || c->Has(kReadOnly))
        throw std::logic_error("the operator cannot type into control " + std::to_string(id));
    m_texts[id] = text;
}

void HeadlessDialog::Click(int id) {
    const ControlTemplate* c = m_dlg.Template().Find(id);
    bool clickable = c && !c->Has(kHidden) &&
                     (c->kind == CtlKind::PushButton || c->kind == CtlKind::DefPushButton ||
                      c->kind == CtlKind::Radio);
    if (!clickable)
        throw std::logic_error("the operator cannot click control " + std::to_string(id));
    if (c->kind == CtlKind::Radio) m_checks[id] = true;  // an automatic radio checks itself
    Command(id);
}

void HeadlessDialog::CloseBox() {
    if (!m_dlg.Template().HasFrame(kSysMenu))
        throw std::logic_error("this dialog has no close box");
    Command(IDCANCEL);
}

void HeadlessDialog::Tick(UINT id) {
    if (!m_destroyed && TimerRunning(id)) m_dlg.OnTimer(id);
}

void HeadlessDialog::Command(int id) {
    if (m_ended || m_destroyed) return;
    m_dlg.OnCommand(id);
    if (m_ended && !m_modal && !m_destroyed) {
        m_dlg.DestroyWindow();
        m_ws.Close(*this);
    }
}

HeadlessDialog& HeadlessWindowSystem::Open(CDialog& dlg) {
    m_open.push_back(std::make_unique<HeadlessDialog>(*this, dlg, false));
    HeadlessDialog& host = *m_open.back();
    dlg.AttachHost(&host);
    Record({UiEvent::DialogOpened, dlg.Template().id, 0, dlg.Template().caption, true});
    if (dlg.OnInitDialog()) {
        for (const auto& c : dlg.Template().controls)
            if (c.Has(kTabStop) && !c.Has(kHidden)) {
                host.SetFocus(c.id);
                break;
            }
    }
    return host;
}

void HeadlessWindowSystem::Close(HeadlessDialog& host) {
    host.m_dlg.AttachHost(nullptr);
    Record({UiEvent::DialogClosed, host.m_dlg.Template().id, host.m_result, "", true});
    // Kept alive: tests may still look at a closed dialog's last state.
    host.m_destroyed = true;
}

int HeadlessWindowSystem::RunModal(CDialog& dlg) {
    if (m_scripts.empty())
        throw std::logic_error("no operator script for dialog \"" + dlg.Template().caption + "\"");
    Script script = std::move(m_scripts.front());
    m_scripts.pop_front();
    HeadlessDialog& host = Open(dlg);
    host.m_modal = true;
    try {
        script(host);
    } catch (...) {
        dlg.DestroyWindow();
        Close(host);
        throw;
    }
    if (!host.m_ended) {
        dlg.DestroyWindow();
        Close(host);
        throw std::logic_error("the operator script left \"" + dlg.Template().caption + "\" open");
    }
    dlg.DestroyWindow();
    Close(host);
    return host.m_result;
}

int HeadlessWindowSystem::MessageBox(const std::string& text, BoxOwner owner) {
    Record({UiEvent::MessageBox, 0, 0, text, owner == BoxOwner::Application});
    if (m_msgHook) m_msgHook(text);
    return IDOK;
}

void HeadlessWindowSystem::Advance(uint64_t ms) {
    const uint64_t target = m_clock.NowMs() + ms;
    for (;;) {
        HeadlessDialog* host = nullptr;
        UINT id = 0;
        uint64_t due = UINT64_MAX;
        for (auto& h : m_open) {
            if (h->m_destroyed) continue;
            for (auto& [tid, t] : h->m_timers)
                if (t.due < due) due = t.due, host = h.get(), id = tid;
        }
        if (!host || due > target) break;
        uint64_t fireAt = std::max(due, m_clock.NowMs());
        m_clock.SetNow(fireAt);
        host->m_timers[id].due = fireAt + host->m_timers[id].period;
        host->m_dlg.OnTimer(id);
    }
    if (m_clock.NowMs() < target) m_clock.SetNow(target);
}

std::vector<std::string> HeadlessWindowSystem::MessageBoxes() const {
    std::vector<std::string> out;
    for (const auto& e : m_log)
        if (e.kind == UiEvent::MessageBox) out.push_back(e.text);
    return out;
}

std::vector<std::string> HeadlessWindowSystem::TextsSetFor(int ctlId) const {
    std::vector<std::string> out;
    for (const auto& e : m_log)
        if (e.kind == UiEvent::Text && e.ctlId == ctlId) out.push_back(e.text);
    return out;
}

void HeadlessWindowSystem::ForgetClosed() {
    std::erase_if(m_open, [](const std::unique_ptr<HeadlessDialog>& h) { return h->m_destroyed; });
}
