#include "weighing/RunControl.h"

void RunControl::setBackground(Background b) {
    if (b != m_background) {
        m_background = b;
        emit backgroundChanged(b);
    }
}

void RunControl::failStartup() {
    m_startupFailed = true;
    m_timers.Timer2.setInterval(200);
    m_timers.Timer2.setEnabled(true);
    m_timers.Timer3.setInterval(200);
    m_timers.Timer3.setEnabled(true);
    m_timers.Timer4.setInterval(3000);
    m_timers.Timer4.setEnabled(true);
    m_timers.Timer5.setEnabled(false);
    setBackground(Background::Failed);
}

void RunControl::run() {
    m_timers.Timer2.setEnabled(true);
    setBackground(m_startupFailed ? Background::Failed : Background::Running);
}

void RunControl::stop() {
    m_timers.Timer2.setEnabled(false);
    setBackground(Background::Stopped);
}

QString RunControl::runCommand() {
    const bool wasRunning = m_timers.Timer2.enabled();
    run();
    return wasRunning ? QStringLiteral("計量本來就在進行 (RUN)")
                      : QStringLiteral("計量繼續進行 (RUN)");
}

QString RunControl::stopCommand() {
    const bool wasRunning = m_timers.Timer2.enabled();
    stop();
    return wasRunning ? QStringLiteral("計量已暫停 (STOP), 按 RUN 繼續")
                      : QStringLiteral("計量本來就已暫停 (STOP), 按 RUN 繼續");
}
