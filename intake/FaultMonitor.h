#pragma once
#include "common/StatusLine.h"

#include <QDateTime>
#include <QObject>
#include <QString>

// A lasting database or configuration fault of the order intake, reported once: the main
// status line is told when it begins (and when it clears), the settings window's status
// label shows it with the time it began and how often it recurred. A step that succeeds
// clears it.
class FaultMonitor : public QObject {
    Q_OBJECT
public:
    explicit FaultMonitor(StatusLine& status, QObject* parent = nullptr) : QObject(parent), m_status(status) {}

    void fault(const QString& reason, const QDateTime& now) {
        if (m_count > 0 && reason == m_reason) {
            ++m_count;
            emit changed();
            return;
        }
        m_reason = reason;
        m_since = now;
        m_count = 1;
        m_reported = QStringLiteral("訂單資料庫: %1 (%2 起)").arg(reason, now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        m_status.report(m_reported);
        emit changed();
    }

    void success() {
        if (m_count == 0)
            return;
        m_count = 0;
        m_reason.clear();
        if (m_status.text() == m_reported)
            m_status.clear();
        m_reported.clear();
        emit changed();
    }

    bool active() const { return m_count > 0; }
    int count() const { return m_count; }
    const QString& reason() const { return m_reason; }
    const QDateTime& since() const { return m_since; }
    // The settings window's status label.
    QString text() const {
        if (m_count == 0)
            return QString();
        return QStringLiteral("%1\n%2 起, 共 %3 次")
            .arg(m_reason, m_since.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")))
            .arg(m_count);
    }

signals:
    void changed();

private:
    StatusLine& m_status;
    QString m_reason;
    QString m_reported;
    QDateTime m_since;
    int m_count = 0;
};
