#include "plant/LogStore.h"

#include "common/CsvCell.h"
#include <QDir>
#include <QFileInfo>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlResult>
#include <QUuid>
#include <QVariant>

#include <sql.h>
#include <sqlext.h>

namespace {
// Texts without a length: the log stores what it is given (a wedge scan can be any length).
// Tables made by older stations have lengths; a row such a table refuses is set aside.
const QString kCreate = QStringLiteral(
    "CREATE TABLE weighing_event (at VARCHAR(40) NOT NULL, station TEXT NOT NULL, "
    "order_no TEXT, line INTEGER, code TEXT, lot TEXT, target_g TEXT, actual_g TEXT, "
    "tolerance_g TEXT, balance TEXT, event TEXT, detail TEXT)");
const QString kIndex =
    QStringLiteral("CREATE INDEX IF NOT EXISTS weighing_event_at ON weighing_event (at, station)");

// Whether a statement failed on the row itself (the server refuses its values: SQLSTATE
// class 22, data exception, or 23, integrity constraint), not on the connection or the
// server's state. Such a row is refused again however often it is sent.
bool refusesRow(const QSqlQuery& q, bool odbc) {
    if (!odbc) {
        // SQLITE_TOOBIG, SQLITE_CONSTRAINT, SQLITE_MISMATCH (extended codes keep them low)
        const int code = q.lastError().nativeErrorCode().toInt() & 0xff;
        return code == 18 || code == 19 || code == 20;
    }
    // QODBC hands its statement handle out; its own error text leaves the SQLSTATE out.
    const QSqlResult* r = q.result();
    const QVariant h = r ? r->handle() : QVariant();
    if (h.metaType() != QMetaType::fromType<SQLHANDLE>())
        return false;
    SQLHANDLE stmt = *static_cast<const SQLHANDLE*>(h.constData());
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR text[512];
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(
            SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, text, sizeof text, &length)))
        return false;
    return (state[0] == '2' && (state[1] == '2' || state[1] == '3'));
}
} // namespace

QStringList LogStore::columns() {
    return {QStringLiteral("at"),       QStringLiteral("station"),  QStringLiteral("order_no"),
            QStringLiteral("line"),     QStringLiteral("code"),     QStringLiteral("lot"),
            QStringLiteral("target_g"), QStringLiteral("actual_g"), QStringLiteral("tolerance_g"),
            QStringLiteral("balance"),  QStringLiteral("event"),    QStringLiteral("detail")};
}

QString LogStore::isoText(const QDateTime& t) {
    const QDateTime local = t.toLocalTime();
    const int offset = local.offsetFromUtc();
    QString s = QDateTime::fromMSecsSinceEpoch(local.toMSecsSinceEpoch(), Qt::OffsetFromUTC, offset)
                    .toString(Qt::ISODateWithMs);
    if (s.endsWith(QLatin1Char('Z'))) { // an offset of 0 is written as one too
        s.chop(1);
        s += QStringLiteral("+00:00");
    }
    return s;
}

QString LogStore::embeddedFile(const QString& workDir) {
    return QDir(workDir).filePath(QStringLiteral("data/weighings.db"));
}

Outcome LogStore::exportLog(const QString& workDir, const QString& odbc, const QDate& from,
                            const QDate& to, const std::function<void(const QByteArray&)>& out) {
    LogStore store(odbc, odbc.isEmpty() ? embeddedFile(workDir) : QString());
    if (Outcome o = store.open(false); !o)
        return o;
    out(QByteArray("\xEF\xBB\xBF"));
    return store.exportCsv(from, to, out);
}

LogStore::LogStore(QString odbc, QString sqliteFile)
    : m_odbc(std::move(odbc)), m_file(std::move(sqliteFile)),
      m_name(QStringLiteral("weighing-log-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
}

LogStore::~LogStore() {
    close();
}

void LogStore::close() {
    if (QSqlDatabase::contains(m_name)) {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    m_open = false;
}

Outcome LogStore::fail(const QString& what, const QSqlError& error) {
    m_open = false; // connected afresh next time (see closeIfFailed)
    return Outcome::failure(QStringLiteral("%1: %2").arg(what, error.text().trimmed()));
}

Outcome LogStore::closeIfFailed(Outcome o) {
    if (!o)
        close();
    return o;
}

Outcome LogStore::open(bool create) {
    return closeIfFailed(openOnce(create));
}

Outcome LogStore::write(const QList<WeighingEvent>& events, QList<Refusal>* refused) {
    const qsizetype before = refused ? refused->size() : 0;
    const Outcome o = closeIfFailed(writeOnce(events, refused));
    if (!o && refused)
        refused->resize(before); // nothing was written: they are tried again with the rest
    return o;
}

Outcome LogStore::exportCsv(const QDate& from, const QDate& to,
                            const std::function<void(const QByteArray&)>& out) {
    return closeIfFailed(exportOnce(from, to, out));
}

Outcome LogStore::openOnce(bool create) {
    if (m_open)
        return Outcome::success();
    QSqlDatabase db;
    if (m_odbc.isEmpty()) {
        if (!create && !QFileInfo::exists(m_file))
            return Outcome::failure(QStringLiteral("%1: 沒有計量紀錄").arg(m_file));
        QDir().mkpath(QFileInfo(m_file).absolutePath());
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(m_file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    } else {
        db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_name);
        db.setDatabaseName(m_odbc);
        db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=5"));
    }
    if (!db.open())
        return fail(QStringLiteral("計量紀錄資料庫無法連線"), db.lastError());
    QSqlQuery q(db);
    // The embedded log: a commit is one synced append to the write-ahead log, and the
    // export may read while the station writes.
    if (m_odbc.isEmpty() && (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
                             !q.exec(QStringLiteral("PRAGMA synchronous=FULL"))))
        return fail(QStringLiteral("計量紀錄資料庫無法連線"), q.lastError());
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM weighing_event WHERE 1 = 0"))) {
        // Missing: created here (another station may have created it meanwhile).
        if (!q.exec(kCreate) &&
            !q.exec(QStringLiteral("SELECT COUNT(*) FROM weighing_event WHERE 1 = 0")))
            return fail(QStringLiteral("計量紀錄表無法建立"), q.lastError());
    }
    if (!q.exec(kIndex))
        return fail(QStringLiteral("計量紀錄索引無法建立"), q.lastError());
    m_open = true;
    return Outcome::success();
}

Outcome LogStore::writeOnce(const QList<WeighingEvent>& events, QList<Refusal>* refused) {
    if (Outcome o = openOnce(true); !o)
        return o;
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    QList<WeighingEvent> rest = events;
    // A row the server refuses ends the transaction (PostgreSQL takes nothing more in it):
    // it is set aside and the others are written again from the start, without it.
    for (;;) {
        if (!db.transaction())
            return fail(QStringLiteral("計量紀錄無法寫入"), db.lastError());
        QSqlQuery seen(db), insert(db);
        seen.prepare(
            QStringLiteral("SELECT COUNT(*) FROM weighing_event WHERE at = ? AND station = ? AND "
                           "event = ? AND line = ?"));
        insert.prepare(
            QStringLiteral("INSERT INTO weighing_event (at, station, order_no, line, code, "
                           "lot, target_g, actual_g, tolerance_g, balance, event, detail) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        qsizetype refusedAt = -1;
        for (qsizetype i = 0; i < rest.size(); ++i) {
            const WeighingEvent& e = rest.at(i);
            const QString at = isoText(e.at);
            seen.addBindValue(at);
            seen.addBindValue(e.station);
            seen.addBindValue(e.event);
            seen.addBindValue(e.line);
            if (!seen.exec() || !seen.next()) {
                const QSqlError error = seen.lastError();
                seen.finish();
                db.rollback();
                return fail(QStringLiteral("計量紀錄無法寫入"), error);
            }
            const bool there = seen.value(0).toInt() > 0;
            seen.finish();
            if (there)
                continue;
            for (const QVariant& v : {QVariant(at), QVariant(e.station), QVariant(e.orderNo),
                                      QVariant(e.line), QVariant(e.code), QVariant(e.lot),
                                      QVariant(e.target), QVariant(e.actual), QVariant(e.tolerance),
                                      QVariant(e.balance), QVariant(e.event), QVariant(e.detail)})
                insert.addBindValue(v);
            if (!insert.exec()) {
                const QSqlError error = insert.lastError();
                const bool rowRefused = refusesRow(insert, !m_odbc.isEmpty());
                insert.finish();
                db.rollback();
                if (!rowRefused || !refused)
                    return fail(QStringLiteral("計量紀錄無法寫入"), error);
                refused->append({e, error.text().trimmed()});
                refusedAt = i;
                break;
            }
        }
        if (refusedAt >= 0) {
            rest.removeAt(refusedAt);
            continue;
        }
        if (!db.commit())
            return fail(QStringLiteral("計量紀錄無法寫入"), db.lastError());
        return Outcome::success();
    }
}

Outcome LogStore::exportOnce(const QDate& from, const QDate& to,
                             const std::function<void(const QByteArray&)>& out) {
    if (Outcome o = openOnce(false); !o)
        return o;
    QSqlQuery q(QSqlDatabase::database(m_name, false));
    q.setForwardOnly(true);
    // The day after `to` bounds the range; after 9999-12-31 there is none to write (an ISO
    // date has four digits of year), and nothing to bound.
    const QDate after = to.addDays(1);
    const bool bounded = after.isValid() && after.year() <= 9999;
    q.prepare(QStringLiteral("SELECT ") + columns().join(QStringLiteral(", ")) +
              QStringLiteral(" FROM weighing_event WHERE at >= ?") +
              (bounded ? QStringLiteral(" AND at < ?") : QString()) +
              QStringLiteral(" ORDER BY at, station"));
    q.addBindValue(from.toString(Qt::ISODate));
    if (bounded)
        q.addBindValue(after.toString(Qt::ISODate));
    if (!q.exec())
        return fail(QStringLiteral("計量紀錄無法讀取"), q.lastError());
    const int n = int(columns().size());
    QByteArray chunk = columns().join(QLatin1Char(',')).toUtf8() + "\r\n";
    while (q.next()) {
        for (int i = 0; i < n; ++i) {
            if (i)
                chunk += ',';
            chunk += Csv::cell(q.value(i).toString()).toUtf8();
        }
        chunk += "\r\n";
        if (chunk.size() > 1 << 16) {
            out(chunk);
            chunk.clear();
        }
    }
    if (q.lastError().isValid())
        return fail(QStringLiteral("計量紀錄無法讀取"), q.lastError());
    out(chunk);
    return Outcome::success();
}
