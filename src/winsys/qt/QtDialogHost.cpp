#include "winsys/qt/QtDialogHost.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <algorithm>
#include <cmath>

#include "winsys/qt/QtWindowSystem.h"

namespace {

QColor ToQColor(COLORREF c) {
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

// A lone carriage return, as the frame echoes use between bytes, draws nothing in an edit
// box; only CR LF breaks a line.
QString DisplayText(const std::string& raw) {
    QString s = QString::fromStdString(raw);
    s.replace("\r\n", "\n");
    s.remove('\r');
    return s;
}

QFont DialogFont(const DialogTemplate& t) {
    std::string family = ChineseFontFamily();
    QFont f(family.empty() ? QString() : QString::fromStdString(family));
    f.setPointSize(t.pointSize);
    f.setStyleStrategy(QFont::PreferDefault);
    return f;
}

}  // namespace

QtDialogHost::QtDialogHost(CDialog& dlg, const CWindowSystem& ws)
    : QDialog(nullptr), m_dlg(dlg), m_ws(ws), m_font(DialogFont(dlg.Template())) {
    const DialogTemplate& t = dlg.Template();
    // Dialog base units of the font the template names: the Chinese system fonts have
    // half-width Latin letters and no leading, so the base width is half the em and the
    // base height the em (6 x 12 px for 9 pt at 96 DPI). The stand-in font is measured by
    // its em, not its glyphs, so the layout is the same whichever font is installed.
    m_em = m_font.pointSizeF() * logicalDpiY() / 72.0;

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (t.HasFrame(kSysMenu)) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (t.HasFrame(kMinimizeBox)) flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
    setWindowTitle(QString::fromStdString(t.caption));
    setFont(m_font);
    setObjectName(QString("dlg%1").arg(t.id));

    QPalette pal = palette();
    pal.setColor(QPalette::Window, ToQColor(ws.DialogBkColor()));
    pal.setColor(QPalette::WindowText, ToQColor(ws.DialogTextColor()));
    setPalette(pal);
    setAutoFillBackground(true);

    QRect client = ToPixels({0, 0, t.cx, t.cy});
    setFixedSize(client.width(), client.height());
    for (const auto& c : t.controls)
        if (QWidget* w = Create(c)) {
            if (c.id != IDC_STATIC) m_controls[c.id] = w;
            if (c.kind == CtlKind::GroupBox) w->lower();
        }
}

QRect QtDialogHost::ToPixels(const DlgRect& r) const {
    auto mx = [this](int du) { return static_cast<int>(du * m_em / 8 + 0.5); };
    auto my = [this](int du) { return static_cast<int>(du * m_em / 8 + 0.5); };
    return QRect(mx(r.x), my(r.y), mx(r.cx), my(r.cy));
}

QWidget* QtDialogHost::Create(const ControlTemplate& c) {
    const QString caption = QString::fromStdString(c.caption);
    QWidget* w = nullptr;
    switch (c.kind) {
        case CtlKind::SerialControl:
            return nullptr;  // no picture at run time
        case CtlKind::Static: {
            auto* l = new QLabel(caption, this);
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            w = l;
            break;
        }
        case CtlKind::GroupBox:
            w = new QGroupBox(caption, this);
            break;
        case CtlKind::PushButton:
        case CtlKind::DefPushButton: {
            auto* b = new QPushButton(caption, this);
            b->setAutoDefault(false);  // Enter is routed by keyPressEvent
            b->setDefault(c.kind == CtlKind::DefPushButton);
            connect(b, &QPushButton::clicked, this, [this, id = c.id] { Command(id); });
            w = b;
            break;
        }
        case CtlKind::Radio: {
            auto* r = new QRadioButton(caption, this);
            r->setAutoExclusive(false);  // each radio is a group of its own
            // Every change the operator makes (pointer, keys, an accessibility action) is a
            // click; a change the program makes through SetCheck is not.
            connect(r, &QRadioButton::toggled, this, [this, r, id = c.id](bool checked) {
                if (m_settingCheck) return;
                if (!checked) {
                    const QSignalBlocker quiet(r);
                    r->setChecked(true);  // an automatic radio checks itself, never clears
                }
                Command(id);
            });
            w = r;
            break;
        }
        case CtlKind::Edit: {
            if (c.Has(kMultiLine)) {
                auto* e = new QTextEdit(this);
                e->setAcceptRichText(false);
                e->setReadOnly(c.Has(kReadOnly));
                e->setLineWrapMode(c.Has(kWrap) ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
                e->setVerticalScrollBarPolicy(c.Has(kVScroll) ? Qt::ScrollBarAlwaysOn
                                                              : Qt::ScrollBarAlwaysOff);
                e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                if (c.Has(kBorderless)) e->setFrameShape(QFrame::NoFrame);
                m_colourWatch[e->viewport()] = {c.id, e};
                e->viewport()->installEventFilter(this);
                w = e;
            } else {
                auto* e = new QLineEdit(this);
                e->setReadOnly(c.Has(kReadOnly));
                e->setFrame(!c.Has(kBorderless));
                m_colourWatch[e] = {c.id, e};
                e->installEventFilter(this);
                w = e;
            }
            w->setAccessibleName(QString::fromStdString(m_dlg.Template().EditLabel(c)));
            break;
        }
    }
    w->setFont(m_font);
    QRect rc = ToPixels(c.rc);
    // The stand-in font may be a little wider than the original: a label or a radio grows
    // to show its whole caption rather than clipping it.
    if (c.kind == CtlKind::Static || c.kind == CtlKind::Radio) {
        rc.setWidth(std::max(rc.width(), w->sizeHint().width()));
        rc.setHeight(std::max(rc.height(), w->sizeHint().height()));
    }
    w->setGeometry(rc);
    if (c.kind != CtlKind::Edit) w->setAccessibleName(caption);
    if (c.id != IDC_STATIC) w->setObjectName(QString("ctl%1").arg(c.id));
    bool label = c.kind == CtlKind::Static || c.kind == CtlKind::GroupBox;
    w->setFocusPolicy(label ? Qt::NoFocus : c.Has(kTabStop) ? Qt::StrongFocus : Qt::ClickFocus);
    if (c.Has(kHidden)) w->setVisible(false);
    return w;
}

void QtDialogHost::FocusFirstTabStop() {
    for (const auto& c : m_dlg.Template().controls)
        if (c.Has(kTabStop) && !c.Has(kHidden) && HasControl(c.id)) {
            m_controls[c.id]->setFocus();
            return;
        }
}

void QtDialogHost::SetText(int id, const std::string& text) {
    auto it = m_controls.find(id);
    if (it == m_controls.end()) return;
    QWidget* w = it->second;
    m_rawTexts[id] = text;
    if (auto* e = qobject_cast<QTextEdit*>(w)) {
        e->setPlainText(DisplayText(text));
        // Lines as close as in the original font, so the boxes hold as many of them.
        QTextCursor all(e->document());
        all.select(QTextCursor::Document);
        QTextBlockFormat f;
        f.setLineHeight(std::ceil(m_em) + 1, QTextBlockFormat::FixedHeight);
        all.mergeBlockFormat(f);
        e->document()->setDocumentMargin(1);
    } else if (auto* l = qobject_cast<QLineEdit*>(w)) {
        l->setText(DisplayText(text));
        l->setCursorPosition(0);  // a text wider than its box shows its start, clips its end
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(QString::fromStdString(text));
        b->setAccessibleName(b->text());  // a screen reader reads what the operator sees
    } else if (auto* s = qobject_cast<QLabel*>(w)) {
        s->setText(QString::fromStdString(text));
        s->setAccessibleName(s->text());
    }
}

std::string QtDialogHost::GetText(int id) const {
    auto it = m_controls.find(id);
    if (it == m_controls.end()) return {};
    QWidget* w = it->second;
    // What the program set into a box the operator cannot type into comes back unchanged.
    auto raw = m_rawTexts.find(id);
    if (auto* l = qobject_cast<QLineEdit*>(w)) {
        if (l->isReadOnly() && raw != m_rawTexts.end()) return raw->second;
        return l->text().toStdString();
    }
    if (auto* e = qobject_cast<QTextEdit*>(w)) {
        if (e->isReadOnly() && raw != m_rawTexts.end()) return raw->second;
        return e->toPlainText().replace("\n", "\r\n").toStdString();
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
    if (auto* s = qobject_cast<QLabel*>(w)) return s->text().toStdString();
    return {};
}

void QtDialogHost::SetCheck(int id, bool checked) {
    auto it = m_controls.find(id);
    auto* b = it == m_controls.end() ? nullptr : qobject_cast<QAbstractButton*>(it->second);
    if (!b) return;
    const bool outer = !m_settingCheck;
    m_settingCheck = true;  // the program's own change runs no handler
    b->setChecked(checked);
    if (outer) m_settingCheck = false;
}

bool QtDialogHost::GetCheck(int id) const {
    auto it = m_controls.find(id);
    auto* b = it == m_controls.end() ? nullptr : qobject_cast<QAbstractButton*>(it->second);
    return b && b->isChecked();
}

void QtDialogHost::SetFocus(int id) {
    auto it = m_controls.find(id);
    if (it == m_controls.end()) return;
    it->second->setFocus();
    if (auto* l = qobject_cast<QLineEdit*>(it->second)) l->selectAll();
}

void QtDialogHost::SetTimer(UINT id, UINT periodMs) {
    auto& t = m_timers[id];
    if (!t) {
        t = std::make_unique<QTimer>();
        t->setTimerType(Qt::PreciseTimer);
        connect(t.get(), &QTimer::timeout, this, [this, id] { m_dlg.OnTimer(id); });
    }
    t->start(static_cast<int>(periodMs));
}

void QtDialogHost::KillTimer(UINT id) {
    auto it = m_timers.find(id);
    if (it != m_timers.end()) it->second->stop();
}

void QtDialogHost::EndModal(int result) {
    if (m_ended) return;
    m_ended = true;
    m_result = result;
    done(result);
}

void QtDialogHost::Destroy() {
    for (auto& [id, t] : m_timers) t->stop();
    hide();
}

void QtDialogHost::Command(int id) {
    if (!m_ended) m_dlg.OnCommand(id);
}

void QtDialogHost::reject() {
    Command(IDCANCEL);
}

// Enter presses the push button that has the focus; from anywhere else, the template's
// default button, and nothing where the template has none (the main window).
void QtDialogHost::keyPressEvent(QKeyEvent* e) {
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    if (enter && focused && focused->isVisible() && focused->isEnabled()) {
        focused->click();
        return;
    }
    QDialog::keyPressEvent(e);
}

void QtDialogHost::closeEvent(QCloseEvent* e) {
    if (m_ended) return e->accept();
    e->ignore();  // the dialog decides; without a system menu there is nothing to close with
    if (m_dlg.Template().HasFrame(kSysMenu)) Command(IDCANCEL);
}

void QtDialogHost::paintEvent(QPaintEvent* e) {
    QDialog::paintEvent(e);
    m_dlg.OnPaint();
}

// Before an edit draws, it asks the dialog for its colours, as the home platform does.
bool QtDialogHost::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::Paint) {
        auto it = m_colourWatch.find(watched);
        if (it != m_colourWatch.end()) ApplyColours(it->second.first, it->second.second);
    }
    return QDialog::eventFilter(watched, e);
}

void QtDialogHost::ApplyColours(int id, QWidget* edit) {
    bool readOnly = edit->property("readOnly").toBool();
    CDC dc;
    CWnd wnd(id);
    HBRUSH brush = m_dlg.OnCtlColor(&dc, &wnd, readOnly ? CTLCOLOR_STATIC : CTLCOLOR_EDIT);
    QPalette pal = edit->palette();
    QColor base = brush ? ToQColor(brush->Color()) : QColor(Qt::white);
    QColor text = ToQColor(dc.GetTextColor());
    if (pal.color(QPalette::Base) == base && pal.color(QPalette::Text) == text) return;
    pal.setColor(QPalette::Base, base);
    pal.setColor(QPalette::Text, text);
    edit->setPalette(pal);
}
