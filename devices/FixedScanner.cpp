#include "devices/FixedScanner.h"

#include "common/StatusLine.h"

FixedScanner::FixedScanner(SerialPort& port, QString setting, StatusLine& status,
                           std::function<void(const QString&)> onCode)
    : m_port(port), m_setting(std::move(setting)), m_status(status), m_onCode(std::move(onCode)) {}

void FixedScanner::tick() {
    if (!m_port.isOpen() || m_port.isLost()) {
        if (m_wait > 0) {
            --m_wait;
            return;
        }
        m_wait = kReopenTicks;
        m_partial.clear();
        if (Outcome o = m_port.open(m_setting); !o) {
            if (!m_reported)
                m_status.report(QStringLiteral("掃描器無法開啟: %1").arg(o.reason()));
            m_reported = true;
            return;
        }
        if (m_reported)
            m_status.report(QStringLiteral("掃描器已連線 %1").arg(m_port.device()));
        m_reported = false;
    }
    feed(m_port.read(-1));
}

void FixedScanner::feed(const QByteArray& bytes) {
    for (const char c : bytes) {
        if (c != '\r' && c != '\n') {
            if (m_partial.size() >= kMaxCode)
                m_overlong = true;
            else
                m_partial.append(c);
            continue;
        }
        const QString code = QString::fromUtf8(m_partial).trimmed();
        const bool drop = m_overlong;
        m_partial.clear();
        m_overlong = false;
        if (!drop && !code.isEmpty())
            m_onCode(code);
    }
}
