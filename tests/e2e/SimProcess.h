// The simulator program on a pseudo-terminal, started for one test and linked at a path of
// the test's own.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <string>

#include "serial/SerialDevice.h"

class SimProcess {
  public:
    // link: where the terminal appears; a new path when none is given.
    explicit SimProcess(QStringList args, QString link = {}) {
        m_link = !link.isEmpty() ? link
                                 : QString("/tmp/kx880-e2e-%1-%2")
                                       .arg(QCoreApplication::applicationPid())
                                       .arg(++s_count);
        args << "--link" << m_link << "--verbose";
        m_proc.start(KX880_SIM_PATH, args);
        m_proc.waitForReadyRead(5000);
        m_path = m_proc.readAllStandardOutput().trimmed();
    }
    ~SimProcess() { Stop(); }
    bool Running() { return m_proc.state() == QProcess::Running && !m_path.isEmpty(); }
    std::string Link() const { return m_link.toStdString(); }
    // Where the console reaches it: the link, or the URL a simulator behind TCP printed.
    std::string Address() const { return m_path.contains("://") ? m_path.toStdString() : Link(); }
    void Stop() {
        if (m_proc.state() == QProcess::NotRunning) return;
        m_proc.terminate();
        m_proc.waitForFinished(3000);
    }
    void Kill() {
        m_proc.kill();
        m_proc.waitForFinished(3000);
    }
    // The requests the meter received so far (its verbose log), as hex lines.
    QStringList Requests() {
        // What the meter wrote last may still sit in the pipe: let the process reader catch up.
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 100) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        m_log += m_proc.readAllStandardError();
        QStringList out;
        for (const QString& line : m_log.split('\n'))
            if (line.contains("] <-")) out << line.section("<-", 1).trimmed();
        return out;
    }

  private:
    static inline int s_count = 0;
    QProcess m_proc;
    QString m_link, m_path, m_log;
};
