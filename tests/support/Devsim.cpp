#include "tests/support/Devsim.h"

#include "tests/support/TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

Devsim::Devsim(const QStringList& extraArgs) {
    m_process.setProgram(builtProgram(QStringLiteral("devsim")));
    m_process.setArguments(QStringList{QStringLiteral("--dir"), m_dir.path()} + extraArgs);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return;
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired() && !m_ready) {
        for (const QString& e : events())
            m_ready = m_ready || e.startsWith(QLatin1String("ready"));
        if (!m_ready)
            m_process.waitForFinished(20); // returns at once when it ended, else waits 20 ms
        if (m_process.state() == QProcess::NotRunning)
            return;
    }
}

Devsim::~Devsim() {
    if (m_process.state() != QProcess::NotRunning) {
        command(QStringLiteral("quit"));
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
}

void Devsim::command(const QString& line) {
    m_process.write((line + QLatin1Char('\n')).toUtf8());
    m_process.waitForBytesWritten(1000);
}

QStringList Devsim::events() const {
    QFile f(m_dir.filePath(QStringLiteral("events.log")));
    QStringList out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& l : f.readAll().split('\n')) {
        const qsizetype blank = l.indexOf(' ');
        if (blank > 0)
            out << QString::fromUtf8(l.mid(blank + 1));
    }
    return out;
}
