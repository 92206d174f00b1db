#pragma once
#include "common/StatusLine.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

// A lasting database or configuration fault of one kind of intake work (the order search,
// the polling, "執行SQL"), reported once: the main status line is told when it begins,
// the settings window's status label shows it with the time it began and how often it
// recurred. Only a success of the same kind clears it; when its report is still on the
// status line, the report of another kind's fault that is still active takes its place.
class FaultMonitor : public QObject {
    Q_OBJECT
public:
    explicit FaultMonitor(StatusLine& status, QString kind = QStringLiteral("訂單資料庫"),
                          QObject* parent = nullptr)
        : QObject(parent), m_status(status), m_kind(std::move(kind)) {}

    // The monitors of the other kinds, whose reports come back when this one clears.
    void setOthers(QList<const FaultMonitor*> others) { m_others = std::move(others); }

    void fault(const QString& reason, const QDateTime& now) {
        if (m_count > 0 && reason == m_reason) {
            ++m_count;
            emit changed();
            return;
        }
        m_reason = reason;
        m_since = now;
        m_count = 1;
        m_reported = QStringLiteral("%1: %2 (%3 起)")
                         .arg(m_kind, reason, now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        m_status.report(m_reported);
        emit changed();
    }

    void success() {
        if (m_count == 0)
            return;
        m_count = 0;
        m_reason.clear();
        if (m_status.text() == m_reported) {
            QString next;
            for (const FaultMonitor* o : m_others)
                if (o->active())
                    next = o->m_reported;
            m_status.report(next);
        }
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
        return QStringLiteral("%1: %2\n%3 起, 共 %4 次")
            .arg(m_kind, m_reason, m_since.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")))
            .arg(m_count);
    }

signals:
    void changed();

private:
    StatusLine& m_status;
    QString m_kind;
    QList<const FaultMonitor*> m_others;
    QString m_reason;
    QString m_reported;
    QDateTime m_since;
    int m_count = 0;
};

// The intake's three kinds of report, each on its own.
struct IntakeFaults {
    explicit IntakeFaults(StatusLine& status)
        : search(status, QStringLiteral("單號搜尋")), polling(status, QStringLiteral("自動接單")),
          sql(status, QStringLiteral("執行SQL")) {
        search.setOthers({&polling, &sql});
        polling.setOthers({&search, &sql});
        sql.setOthers({&search, &polling});
    }
    // What the settings window's status label shows: every active fault.
    QString text() const {
        QStringList parts;
        for (const FaultMonitor* f : {&search, &polling, &sql})
            if (f->active())
                parts << f->text();
        return parts.join(QLatin1Char('\n'));
    }

    FaultMonitor search;
    FaultMonitor polling;
    FaultMonitor sql;
};
