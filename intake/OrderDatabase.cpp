#include "intake/OrderDatabase.h"

#include "common/Numbers.h"

#include <QAtomicInteger>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <QVariant>

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Cancels the statement in progress on the order database's thread: when it has run a
// second past its time-out (for drivers that do not time out by themselves), or at once
// when the database is closed. SQLCancel is the ODBC call meant for use from another thread.
class StatementWatch {
public:
    using Clock = std::chrono::steady_clock;

    StatementWatch() : m_thread([this] { run(); }) {}
    ~StatementWatch() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    // The statement `handle` runs until `deadline`; false when the database is closing.
    bool arm(void* handle, Clock::time_point deadline) {
        std::lock_guard lock(m_mutex);
        if (m_closing)
            return false;
        m_handle = handle;
        m_deadline = deadline;
        m_wake.notify_all();
        return true;
    }
    void disarm() {
        std::lock_guard lock(m_mutex);
        m_handle = nullptr;
    }
    void closing() {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        if (m_handle)
            ::SQLCancel(m_handle);
    }
    bool isClosing() {
        std::lock_guard lock(m_mutex);
        return m_closing;
    }

private:
    void run() {
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            if (!m_handle) {
                m_wake.wait(lock);
                continue;
            }
            if (Clock::now() < m_deadline) {
                m_wake.wait_until(lock, m_deadline);
                continue;
            }
            ::SQLCancel(m_handle);
            m_handle = nullptr;
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    void* m_handle = nullptr;
    Clock::time_point m_deadline;
    bool m_closing = false;
    bool m_stop = false;
    std::thread m_thread;
};

namespace {

QAtomicInteger<quint64> g_sessions;
std::atomic<bool> g_threadLeftRunning{false};
// The watch of the order database thread this code runs on, if any.
thread_local std::shared_ptr<StatementWatch> t_watch;

SQLHANDLE odbcHandle(const QVariant& v) {
    return v.isValid() && v.data() ? *static_cast<const SQLHANDLE*>(v.data()) : nullptr;
}

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

SqlText& SqlText::value(const QString& v) {
    sql += QLatin1Char('?');
    values << v;
    QString q = v;
    q.replace(QLatin1Char('\''), QLatin1String("''"));
    shown += QLatin1Char('\'') + q + QLatin1Char('\'');
    return *this;
}

QString odbcValue(const QString& value) {
    if (!value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('{')) &&
        !value.contains(QLatin1Char('}')))
        return value;
    QString v = value;
    v.replace(QLatin1Char('}'), QLatin1String("}}"));
    return QLatin1Char('{') + v + QLatin1Char('}');
}

DbSession::DbSession(DbLogin login)
    : m_login(std::move(login)), m_name(QStringLiteral("ds_order_db_%1").arg(++g_sessions)),
      m_watch(t_watch) {}

DbSession::~DbSession() {
    disconnect();
}

Outcome DbSession::connect() {
    disconnect();
    if (m_login.dataSource.trimmed().isEmpty())
        return Outcome::failure(QStringLiteral("未設定資料庫名稱ODBC"));
    if (m_watch && m_watch->isClosing())
        return Outcome::failure(QStringLiteral("工作站關閉中"));
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

// Prepares, sets the time-out on the statement handle and executes, under the watch.
Outcome DbSession::exec(QSqlQuery& q, const SqlText& sql) {
    if (!q.prepare(sql.sql))
        return Outcome::failure(errorText(q.lastError()));
    for (const QString& v : sql.values)
        q.addBindValue(v);
    const SQLHANDLE h = odbcHandle(q.result()->handle());
    const int secs = m_login.statementTimeoutSecs;
    if (h && secs > 0)
        ::SQLSetStmtAttr(h, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(secs)), 0);
    if (h && m_watch) {
        // No time-out: still armed, so that closing cancels it (a year is "never", and
        // unlike time_point::max() it does not overflow in the wait).
        const auto deadline =
            StatementWatch::Clock::now() +
            (secs > 0 ? std::chrono::seconds(secs + 1) : std::chrono::hours(24 * 365));
        if (!m_watch->arm(h, deadline))
            return Outcome::failure(QStringLiteral("工作站關閉中"));
    }
    if (!q.exec())
        return Outcome::failure(errorText(q.lastError()));
    return Outcome::success();
}

namespace {
// Disarms the watch when a statement's work (execution and fetching) is over.
struct Armed {
    StatementWatch* watch;
    ~Armed() {
        if (watch)
            watch->disarm();
    }
};
} // namespace

Outcome DbSession::query(const SqlText& sql, int lastField, DbRows& out, const QString& keyField) {
    out = DbRows();
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.isOpen())
        return Outcome::failure(QStringLiteral("未連線"));
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const Armed armed{m_watch.get()};
    if (Outcome o = exec(q, sql); !o)
        return Outcome::failure(QStringLiteral("查詢失敗: %1").arg(o.reason()));
    const QSqlRecord rec = q.record();
    for (int i = 0; i < rec.count(); ++i)
        out.names << rec.fieldName(i);
    if (lastField >= rec.count())
        return Outcome::failure(QStringLiteral("欄位總數 %1 超過查詢結果的欄位 (0..%2)")
                                    .arg(lastField)
                                    .arg(rec.count() - 1));
    const int key = keyField.isEmpty() ? -1 : rec.indexOf(keyField);
    if (!keyField.isEmpty() && key < 0)
        return Outcome::failure(QStringLiteral("查詢結果沒有欄位 %1").arg(keyField));
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
        if (key >= 0)
            out.keys << fieldText(q, key);
    }
    if (q.lastError().isValid())
        return Outcome::failure(QStringLiteral("讀取失敗: %1").arg(errorText(q.lastError())));
    out.lastField = lastField;
    return Outcome::success();
}

Outcome DbSession::statement(const SqlText& sql, int* rowsAffected) {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.isOpen())
        return Outcome::failure(QStringLiteral("未連線"));
    QSqlQuery q(db);
    const Armed armed{m_watch.get()};
    if (Outcome o = exec(q, sql); !o)
        return Outcome::failure(QStringLiteral("更新失敗: %1").arg(o.reason()));
    if (rowsAffected)
        *rowsAffected = q.numRowsAffected();
    return Outcome::success();
}

Outcome DbSession::begin() {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.isOpen())
        return Outcome::failure(QStringLiteral("未連線"));
    // Repeatable read: the claim's update sees the lines its read saw, or fails. A driver
    // without it (SQLite, whose transactions are serializable) keeps its own level.
    if (const SQLHANDLE h = odbcHandle(db.driver()->handle()))
        ::SQLSetConnectAttr(h, SQL_ATTR_TXN_ISOLATION,
                            reinterpret_cast<SQLPOINTER>(SQLULEN(SQL_TXN_REPEATABLE_READ)), 0);
    if (!db.transaction())
        return Outcome::failure(QStringLiteral("交易無法開始: %1").arg(errorText(db.lastError())));
    return Outcome::success();
}

Outcome DbSession::commit() {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.isOpen() || !db.commit())
        return Outcome::failure(QStringLiteral("交易無法完成: %1").arg(errorText(db.lastError())));
    return Outcome::success();
}

void DbSession::rollback() {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (db.isOpen())
        db.rollback();
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

OrderDatabase::OrderDatabase(QObject* parent)
    : QObject(parent), m_link(std::make_shared<Link>()),
      m_watch(std::make_shared<StatementWatch>()), m_thread(new QThread), m_worker(new QObject) {
    m_link->owner = this;
    m_thread->setObjectName(QStringLiteral("order-db"));
    m_worker->moveToThread(m_thread);
    m_thread->start();
    QMetaObject::invokeMethod(
        m_worker, [watch = m_watch] { t_watch = watch; }, Qt::QueuedConnection);
}

OrderDatabase::~OrderDatabase() {
    close();
}

void OrderDatabase::close() {
    if (m_closed)
        return;
    m_closed = true;
    {
        QMutexLocker lock(&m_link->mutex);
        m_link->owner = nullptr;
    }
    m_watch->closing();
    QObject* worker = m_worker;
    m_thread->quit();
    if (m_thread->wait(kCloseWaitMs)) {
        delete m_thread;
        delete worker;
        return;
    }
    // Held by the driver: the thread ends by itself once the driver lets go, and then
    // deletes itself and its worker.
    g_threadLeftRunning = true;
    QThread* thread = m_thread;
    QObject::connect(thread, &QThread::finished, thread, [thread, worker] {
        delete worker;
        thread->deleteLater();
    });
}

bool OrderDatabase::threadLeftRunning() {
    return g_threadLeftRunning;
}

QueryResult readRows(const DbLogin& login, const SqlText& sql, int lastField) {
    QueryResult r;
    DbSession session(login);
    r.outcome = session.connect();
    if (r.outcome)
        r.outcome = session.query(sql, lastField, r.rows);
    session.disconnect();
    return r;
}
