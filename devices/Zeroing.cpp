#include "devices/Zeroing.h"

#include "common/StatusLine.h"
#include "common/TickTimer.h"
#include "devices/BalanceFrames.h"
#include "devices/SerialPort.h"

Zeroing::Zeroing(SerialPort& comm1, TickTimer& timer1, TickTimer& timer6, StatusLine& status,
                 QObject* parent)
    : QObject(parent), m_comm1(comm1), m_timer1(timer1), m_timer6(timer6), m_status(status) {}

void Zeroing::request(Balance b) {
    m_target = b;
    m_timer6.setEnabled(true);
}

void Zeroing::tick() {
    ++m_zeroTick;
    if (m_zeroTick == 2)
        m_timer1.setEnabled(false);
    if (m_zeroTick == 40) {
        m_timer1.setEnabled(true);
        m_timer6.setEnabled(false);
        m_zeroTick = 0;
    }
    if (m_zeroTick == 20) {
        // A port that is not open gets no command; the sequence still finishes.
        const QByteArray command = BalanceFrames::zeroCommand(BalanceFrames::slaveOf(m_target));
        const Outcome o = m_comm1.isOpen() ? m_comm1.write(command)
                                           : Outcome::failure(QStringLiteral("MSComm1 未開啟"));
        if (!o)
            m_status.report(QStringLiteral("歸零指令未送出: %1").arg(o.reason()));
    }
}
