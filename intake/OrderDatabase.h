#pragma once
#include "common/Outcome.h"

#include <QList>
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
};

// Rows read from a result, each field as text: a Null reads as blank, a floating-point
// value as its shortest decimal of at most 15 significant digits.
struct DbRows {
    static constexpr int kMaxRows = 1001; // the staging table holds rows 0..1000
    QList<QStringList> rows;
    QStringList names;    // the result's field names
    int lastField = -1;   // the last field index read
    bool truncated = false; // more rows than kMaxRows were returned
};

// One connection to the order database, used on one thread from connect to disconnect.
// Each session has a connection name of its own, so sessions on different threads never
// share a connection.
class DbSession {
public:
    explicit DbSession(DbLogin login);
    ~DbSession();
    DbSession(const DbSession&) = delete;
    DbSession& operator=(const DbSession&) = delete;

    Outcome connect();
    // Runs `sql` and reads fields 0..lastField of every row (at most kMaxRows). A field
    // index beyond the result's last field is a failure.
    Outcome query(const QString& sql, int lastField, DbRows& out);
    // Runs `sql` and gives the field named `field` (in any case) of the first row;
    // `found` is false when there is no row.
    Outcome firstValue(const QString& sql, const QString& field, QString& value, bool& found);
    // Runs a statement that returns no rows; `rowsAffected` gets the count it changed.
    Outcome statement(const QString& sql, int* rowsAffected = nullptr);
    void disconnect();

private:
    DbLogin m_login;
    QString m_name;
    bool m_open = false;
};

// The rows of one query on a connection of its own (connect, query, disconnect): the work
// of a search and of "執行SQL", run on the database thread.
struct QueryResult {
    Outcome outcome = Outcome::success();
    DbRows rows;
};
QueryResult readRows(const DbLogin& login, const QString& sql, int lastField);

// A user name or password as ODBC wants it inside a connection string: as it stands, or
// in braces with every '}' doubled when it holds ';', '{' or '}'.
QString odbcValue(const QString& value);

// The database work runs on a worker thread of its own, one job after another; each
// job's result is applied on the thread that owns this object (the user-interface
// thread), in the order the jobs were submitted. Nothing here ever blocks the caller.
class OrderDatabase : public QObject {
    Q_OBJECT
public:
    explicit OrderDatabase(QObject* parent = nullptr);
    ~OrderDatabase() override; // waits for the job in progress

    template <class R>
    void submit(std::function<R()> work, std::function<void(const R&)> apply) {
        ++m_inFlight;
        QMetaObject::invokeMethod(
            m_worker,
            [this, work = std::move(work), apply = std::move(apply)] {
                auto result = std::make_shared<R>(work());
                QMetaObject::invokeMethod(
                    this,
                    [this, result, apply] {
                        --m_inFlight;
                        apply(*result);
                        emit idle();
                    },
                    Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    }

    // Jobs submitted whose result has not been applied yet.
    int inFlight() const { return m_inFlight; }

signals:
    void idle(); // after each result is applied

private:
    QThread m_thread;
    QObject* m_worker;
    int m_inFlight = 0;
};
