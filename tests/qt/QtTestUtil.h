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

// Answers the modal windows that come up while a test drives the console: message boxes
// are read and closed, dialogs are handed to the next queued answer.
class ModalOperator {
  public:
    explicit ModalOperator(QWidget* mainWindow) : m_main(mainWindow) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Look(); });
        m_timer.start();
    }
    void Answer(std::function<void(QWidget*)> f) { m_answers.push_back(std::move(f)); }
    QStringList messages;
    size_t PendingAnswers() const { return m_answers.size(); }

  private:
    void Look() {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || w == m_main || !w->isVisible()) return;
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            messages << box->text();
            box->accept();
            return;
        }
        if (m_answers.empty()) return;
        auto f = std::move(m_answers.front());
        m_answers.erase(m_answers.begin());
        f(w);
    }
    QWidget* m_main;
    QTimer m_timer;
    std::vector<std::function<void(QWidget*)>> m_answers;
};
