#include "history/WeighingLogDetails.h"

#include <QAtomicInt>
#include <QDate>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <tuple>
#include <vector>

namespace {

QString key(const QString& orderNo, int line) {
    return orderNo + QChar(0x1f) + QString::number(line);
}

// "2024-03-02T09:05:06+08:00" as a history stamp "2024/03/02 09:05:06".
QString asStamp(const QString& iso) {
    QString s = iso.left(19);
    if (s.size() == 19) {
        s[4] = s[7] = QLatin1Char('/');
        s[10] = QLatin1Char(' ');
    }
    return s;
}

QDate dateOf(qint32 d) {
    return QDate(d / 10000, d / 100 % 100, d % 100);
}

struct Accepted {
    QString at; // as a history stamp
    QString balance;
};

} // namespace

WeighingLogDetails::WeighingLogDetails(QString databaseFile, QString largeName, QString smallName)
    : m_file(std::move(databaseFile)), m_large(std::move(largeName)),
      m_small(std::move(smallName)) {}

void WeighingLogDetails::fill(HistorySet& set) const {
    std::ignore = fillFrom(set); // blank balances say it on the screen
}

Outcome WeighingLogDetails::fillFrom(HistorySet& set) const {
    if (!QFileInfo(m_file).isFile())
        return Outcome::failure(QStringLiteral("沒有計量記錄 %1").arg(m_file));
    QDate first, last;
    for (const HistoryOrder& o : set.orders) {
        const QDate d = dateOf(o.date);
        if (!d.isValid())
            continue;
        if (!first.isValid() || d < first)
            first = d;
        if (!last.isValid() || d > last)
            last = d;
    }
    if (!first.isValid())
        return Outcome::success();
    QString error;
    QHash<QString, std::vector<Accepted>> accepted; // "order\x1fline", in time order
    static QAtomicInt serial;
    const QString name = QStringLiteral("history-details-%1").arg(serial.fetchAndAddRelaxed(1));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(m_file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("SELECT order_no, line, balance, at FROM weighing_event "
                                     "WHERE event = 'accepted' AND at >= ? AND at < ?"));
            q.addBindValue(first.toString(Qt::ISODate));
            q.addBindValue(last.addDays(1).toString(Qt::ISODate));
            if (!q.exec())
                error = q.lastError().text();
            while (error.isEmpty() && q.next())
                accepted[key(q.value(0).toString().trimmed(), q.value(1).toInt())].push_back(
                    {asStamp(q.value(3).toString()), q.value(2).toString()});
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (accepted.isEmpty())
        return error.isEmpty() ? Outcome::success() : Outcome::failure(error);
    for (auto& events : accepted)
        std::stable_sort(events.begin(), events.end(),
                         [](const Accepted& a, const Accepted& b) { return a.at < b.at; });
    set.balances.assign(set.lines.size(), QString());
    for (size_t i = 0; i < set.lines.size(); ++i) {
        const HistoryOrder& o = set.orders[size_t(set.lines[i].order)];
        const auto it = accepted.constFind(key(o.orderNo, set.lines[i].line));
        if (it == accepted.cend())
            continue;
        // The last acceptance up to the finish: an order weighed again later has its own.
        const auto after =
            std::upper_bound(it->begin(), it->end(), o.stamp,
                             [](const QString& t, const Accepted& a) { return t < a.at; });
        if (after == it->begin())
            continue;
        const QString& b = std::prev(after)->balance;
        set.balances[i] = b == QLatin1String("large")   ? m_large
                          : b == QLatin1String("small") ? m_small
                                                        : b;
    }
    return Outcome::success();
}
