#include "winsys/qt/QtWindowSystem.h"

#include <QApplication>
#include <QFontDatabase>
#include <QMessageBox>
#include <cstdio>

#include "winsys/Dialog.h"
#include "winsys/qt/QtDialogHost.h"

std::string ChineseFontFamily() {
    const QStringList families = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    for (const char* preferred : {"WenQuanYi Zen Hei", "Noto Sans CJK SC", "Noto Sans SC"})
        if (families.contains(QString::fromUtf8(preferred))) return preferred;
    if (families.isEmpty()) {
        static bool warned = false;
        if (!warned)
            std::fprintf(stderr,
                         "kx880: no font with Chinese glyphs is installed "
                         "(install fonts-wqy-zenhei); texts will show as boxes\n");
        warned = true;
        return {};
    }
    return families.front().toStdString();
}

int QtWindowSystem::RunModal(CDialog& dlg) {
    QtDialogHost host(dlg, *this);
    dlg.AttachHost(&host);
    if (dlg.OnInitDialog()) host.FocusFirstTabStop();
    if (!host.Ended()) host.exec();
    dlg.DestroyWindow();
    dlg.AttachHost(nullptr);
    return host.Result();
}

int QtWindowSystem::MessageBox(const std::string& text, BoxOwner owner) {
    QString body = QString::fromStdString(text).replace("\r\n", "\n");
    const bool app = owner == BoxOwner::Application;
    // A window's own box without a caption of its own is titled as the system titles it.
    QMessageBox box(app ? QMessageBox::Warning : QMessageBox::NoIcon,
                    QString::fromUtf8(app ? m_title.c_str() : "错误"), body, QMessageBox::Ok,
                    QApplication::activeModalWidget());
    QPalette pal = box.palette();
    COLORREF bk = DialogBkColor(), fg = DialogTextColor();
    pal.setColor(QPalette::Window, QColor(GetRValue(bk), GetGValue(bk), GetBValue(bk)));
    pal.setColor(QPalette::WindowText, QColor(GetRValue(fg), GetGValue(fg), GetBValue(fg)));
    box.setPalette(pal);
    std::string family = ChineseFontFamily();
    if (!family.empty()) box.setFont(QFont(QString::fromStdString(family), 9));
    box.exec();
    return IDOK;
}
