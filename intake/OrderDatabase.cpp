#include "intake/OrderDatabase.h"

#include "common/Numbers.h"

#include <QAtomicInteger>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace {

QAtomicInteger<quint64> g_sessions;

QString errorText(const QSqlError& e) {
    QString t = e.text().trimmed();
    if (t.isEmpty())
        t = QStringLiteral("unknown database error");
    return t.simplified();
}

QString fieldText(const QSqlQuery& q, int i) {
    if (q.isNull(i))
        return QString();
    const QVariant v = q.value(i);
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        // At most 15 significant digits: a REAL 12.3 reads "12.3", not "12.3000001907".
        return shortestDecimal(QString::number(v.toDouble(), 'g', 15).toDouble());
    default:
        return v.toString();
    }
}

} // namespace

QString odbcValue(const QString& value) {
    if (!value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('{')) && !value.contains(QLatin1Char('}')))
        return value;
    QString v = value;
    v.replace(QLatin1Char('}'), QLatin1String("}}"));
    return QLatin1Char('{') + v + QLatin1Char('}');
}

DbSession::DbSession(DbLogin login)
    : m_login(std::move(login)), m_name(QStringLiteral("ds_order_db_%1").arg(++g_sessions)) {}

DbSession::~DbSession() { disconnect(); }

Outcome DbSession::connect() {
    disconnect();
    if (m_login.dataSource.trimmed().isEmpty())
        return Outcome::failure(QStringLiteral("未設定資料庫名稱ODBC"));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_name);
    if (!db.isValid())
        return Outcome::failure(QStringLiteral("QODBC driver not available"));
    db.setDatabaseName(m_login.dataSource);
    // An empty UID= would override the user of the data source: leave empty values out.
    if (!m_login.user.isEmpty())
        db.setUserName(odbcValue(m_login.user));
    if (!m_login.password.isEmpty())
        db.setPassword(odbcValue(m_login.password));
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(m_login.loginTimeoutSecs));
    m_open = true;
    if (!db.open())
        return Outcome::failure(QStringLiteral("連線失敗: %1").arg(errorText(db.lastError())));
    return Outcome::success();
}

Outcome DbSession::query(const QString& sql, int lastField, DbRows& out) {
    out = DbRows();
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.isOpen())
        return Outcome::failure(QStringLiteral("未連線"));
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(sql))
        return Outcome::failure(QStringLiteral("查詢失敗: %1").arg(errorText(q.lastError())));
    const QSqlRecord rec = q.record();
    for (int i = 0; i < rec.count(); ++i)
        out.names << rec.fieldName(i);
    if (lastField >= rec.count())
        return Outcome::failure(QStringLiteral("欄位總數 %1 超過查詢結果的欄位 (0..%2)").arg(lastField).arg(rec.count() - 1));
    while (q.next()) {
        if (out.rows.size() == DbRows::kMaxRows) {
            out.truncated = true;
            break;
        }
        QStringList row;
        row.reserve(lastField + 1);
        for (int i = 0; i <= lastField; ++i)
            row << fieldText(q, i);
        out.rows << row;
    }
    if (q.lastError().isValid())
        return Outcome::failure(QStringLiteral("讀取失敗: %1").arg(errorText(q.lastError())));
    out.lastField = lastField;
    return Outcome::success();
}

Outcome DbSession::firstValue(const QString& sql, const QString& field, QString& value, bool& found) {
    found = false;
    value.clear();
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.isOpen())
        return Outcome::failure(QStringLiteral("未連線"));
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(sql))
        return Outcome::failure(QStringLiteral("查詢失敗: %1").arg(errorText(q.lastError())));
    const int i = q.record().indexOf(field);
    if (i < 0)
        return Outcome::failure(QStringLiteral("查詢結果沒有欄位 %1").arg(field));
    if (q.next()) {
        found = true;
        value = fieldText(q, i);
    } else if (q.lastError().isValid()) {
        return Outcome::failure(QStringLiteral("讀取失敗: %1").arg(errorText(q.lastError())));
    }
    return Outcome::success();
}

Outcome DbSession::statement(const QString& sql, int* rowsAffected) {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.isOpen())
        return Outcome::failure(QStringLiteral("未連線"));
    QSqlQuery q(db);
    if (!q.exec(sql))
        return Outcome::failure(QStringLiteral("更新失敗: %1").arg(errorText(q.lastError())));
    if (rowsAffected)
        *rowsAffected = q.numRowsAffected();
    return Outcome::success();
}

void DbSession::disconnect() {
    if (!m_open)
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
    m_open = false;
}

OrderDatabase::OrderDatabase(QObject* parent) : QObject(parent), m_worker(new QObject) {
    m_thread.setObjectName(QStringLiteral("order-db"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

OrderDatabase::~OrderDatabase() {
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

QueryResult readRows(const DbLogin& login, const QString& sql, int lastField) {
    QueryResult r;
    DbSession session(login);
    r.outcome = session.connect();
    if (r.outcome)
        r.outcome = session.query(sql, lastField, r.rows);
    session.disconnect();
    return r;
}
