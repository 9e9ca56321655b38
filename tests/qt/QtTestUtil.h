// Helpers for driving modal Qt dialogs from a test: the check runs once the dialog is up.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <functional>

// Runs action on the active modal window as soon as one is shown (polled on the event loop).
inline void WhenModalShown(std::function<void(QWidget*)> action, QWidget* notThis = nullptr) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, action, notThis] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || w == notThis || !w->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        action(w);
    });
    poll->start();
}

template <typename T>
T* Ctl(QWidget* dlg, int id) {
    return dlg->findChild<T*>(QString("ctl%1").arg(id));
}
