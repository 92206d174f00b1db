#pragma once
#include "common/Outcome.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <functional>
#include <memory>

// The login of the order database: an ODBC data source name (or a whole connection
// string holding DRIVER=), a user and a password, as the station settings give them.
struct DbLogin {
    QString dataSource;
    QString user;
    QString password;
    int loginTimeoutSecs = 10;
    int statementTimeoutSecs = 10; // every statement gives up after this (0: never)
};

// Rows read from a result, each field as text: a Null reads as blank, a floating-point
// value as its shortest decimal of at most 15 significant digits.
struct DbRows {
    static constexpr int kMaxRows = 1001; // the staging table holds rows 0..1000
    QList<QStringList> rows;
    QStringList names;      // the result's field names
    QStringList keys;       // per row: the field named by the query's key field, as stored
    int lastField = -1;     // the last field index read
    bool truncated = false; // more rows than kMaxRows were returned
};

// A statement as it is sent: its text with a `?` marker for each value from the data or
// the operator, and those values, bound in order as parameters, so that whatever a value
// holds it can only ever be a value. `shown` is the text as the operator reads it in the
// query box: each value in single quotes, every quote in it doubled, where its marker
// stands. A plain text (the plant's configuration, the operator's own query) binds nothing.
struct SqlText {
    QString sql;
    QStringList values;
    QString shown;

    SqlText() = default;
    SqlText(const QString& plain) : sql(plain), shown(plain) {} // NOLINT: a plain text converts
    // Appends configured text as it stands.
    SqlText& text(const QString& t) {
        sql += t;
        shown += t;
        return *this;
    }
    // Appends a bound value.
    SqlText& value(const QString& v);
};

class QSqlQuery;
class StatementWatch;

// One connection to the order database, used on one thread from connect to disconnect.
// Each session has a connection name of its own, so sessions on different threads never
// share a connection.
//
// Every statement has a time-out: the driver is asked for it (SQL_ATTR_QUERY_TIMEOUT), and
// on the order database's thread a watch cancels a statement that runs a second longer,
// for drivers that ignore the attribute. The SQLite driver ignores both while it waits
// for a lock; its busy time-out (Timeout= of the data source) ends that wait.
class DbSession {
public:
    explicit DbSession(DbLogin login);
    ~DbSession();
    DbSession(const DbSession&) = delete;
    DbSession& operator=(const DbSession&) = delete;

    Outcome connect();
    // Runs `sql` and reads fields 0..lastField of every row (at most kMaxRows). A field
    // index beyond the result's last field is a failure. With `keyField`, that field (by
    // name, in any case) of each row goes to `out.keys` as well.
    Outcome query(const SqlText& sql, int lastField, DbRows& out, const QString& keyField = {});
    // Runs a statement that returns no rows; `rowsAffected` gets the count it changed.
    Outcome statement(const SqlText& sql, int* rowsAffected = nullptr);
    // A transaction, repeatable read where the driver offers it.
    Outcome begin();
    Outcome commit();
    void rollback();
    void disconnect();

private:
    Outcome exec(QSqlQuery& q, const SqlText& sql);

    DbLogin m_login;
    QString m_name;
    bool m_open = false;
    std::shared_ptr<StatementWatch> m_watch; // the database thread's, or none
};

// The rows of one query on a connection of its own (connect, query, disconnect): the work
// of a search and of "執行SQL", run on the database thread.
struct QueryResult {
    Outcome outcome = Outcome::success();
    DbRows rows;
};
QueryResult readRows(const DbLogin& login, const SqlText& sql, int lastField);

// A user name or password as ODBC wants it inside a connection string: as it stands, or
// in braces with every '}' doubled when it holds ';', '{' or '}'.
QString odbcValue(const QString& value);

// The database work runs on a worker thread of its own, one job after another; each
// job's result is applied on the thread that owns this object (the user-interface
// thread), in the order the jobs were submitted. Nothing here ever blocks the caller.
//
// close() (and the destructor) cancels the statement in progress and waits at most
// kCloseWaitMs for the thread; a thread still held by the driver (a login that waits for
// a server) is left to end by itself, and its result is dropped.
class OrderDatabase : public QObject {
    Q_OBJECT
public:
    static constexpr int kCloseWaitMs = 1000;

    explicit OrderDatabase(QObject* parent = nullptr);
    ~OrderDatabase() override;

    template <class R> void submit(std::function<R()> work, std::function<void(const R&)> apply) {
        if (m_closed)
            return;
        ++m_inFlight;
        std::shared_ptr<Link> link = m_link;
        QMetaObject::invokeMethod(
            m_worker,
            [self = this, link, work = std::move(work), apply = std::move(apply)] {
                if (link->closing())
                    return;
                auto result = std::make_shared<R>(work());
                // Runs only while this object exists (it is the call's context) and is
                // not closed.
                link->post([self, result, apply] {
                    --self->m_inFlight;
                    apply(*result);
                    emit self->idle();
                });
            },
            Qt::QueuedConnection);
    }

    // A function that runs its argument on the owner's thread, after what was posted
    // before (work functions use it to show their progress). Callable from any thread, also
    // after this object is gone; what it posts is dropped once the database is closed.
    using Poster = std::function<void(std::function<void()>)>;
    Poster poster() const {
        return [link = m_link](std::function<void()> f) { link->post(std::move(f)); };
    }

    // Jobs submitted whose result has not been applied yet.
    int inFlight() const { return m_inFlight; }

    void close();
    // True when a closed database thread was left running (the program should end
    // without waiting for it).
    static bool threadLeftRunning();

signals:
    void idle(); // after each result is applied

private:
    // What the worker thread shares with this object, and outlives it when the thread
    // is left running.
    struct Link : std::enable_shared_from_this<Link> {
        QMutex mutex;
        OrderDatabase* owner = nullptr; // null once closed
        bool closing() {
            QMutexLocker lock(&mutex);
            return owner == nullptr;
        }
        void post(std::function<void()> f) {
            QMutexLocker lock(&mutex);
            if (owner)
                QMetaObject::invokeMethod(
                    owner,
                    [link = shared_from_this(), f = std::move(f)] {
                        if (!link->closing())
                            f();
                    },
                    Qt::QueuedConnection);
        }
    };

    std::shared_ptr<Link> m_link;
    std::shared_ptr<StatementWatch> m_watch;
    QThread* m_thread;
    QObject* m_worker;
    int m_inFlight = 0;
    bool m_closed = false;
};
