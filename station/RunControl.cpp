#include "station/RunControl.h"

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
