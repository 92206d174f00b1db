#pragma once
#include "common/Outcome.h"
#include "weighing/WeighingEvents.h"

#include <QDate>
#include <QList>
#include <QString>
#include <functional>

class QSqlError;

// The table of the weighing log, weighing_event, in the embedded SQLite file or in an
// ODBC data source that all stations of a plant share. The table (and an index on the
// time) is created when it is missing. A connection belongs to the thread that opened it.
class LogStore {
public:
    static QStringList columns();
    // "2026-12-08T13:20:55.120+08:00": local time with its offset, to the millisecond.
    static QString isoText(const QDateTime& t);
    // The embedded log of a working folder.
    static QString embeddedFile(const QString& workDir);
    // The CSV export of the log of a working folder (`odbc` blank: the embedded one), with
    // a byte-order mark first for spreadsheet programs.
    static Outcome exportLog(const QString& workDir, const QString& odbc, const QDate& from,
                             const QDate& to, const std::function<void(const QByteArray&)>& out);

    // `odbc` blank: the SQLite file `sqliteFile`.
    LogStore(QString odbc, QString sqliteFile);
    ~LogStore();
    LogStore(const LogStore&) = delete;
    LogStore& operator=(const LogStore&) = delete;

    Outcome open(bool create = true);
    void close();
    bool isOpen() const { return m_open; }
    // An event the server refuses (its values: a text too long for a column of an older
    // table, a constraint), with the server's words.
    struct Refusal {
        WeighingEvent event;
        QString reason;
    };
    // Writes the events in one transaction. An event already in the table (same station,
    // same time, event and line: a batch whose commit was not confirmed) is not written
    // again. With `refused`, an event the server refuses is left out and added there, and
    // the others are written; without it, or when the connection fails, nothing is written.
    Outcome write(const QList<WeighingEvent>& events, QList<Refusal>* refused = nullptr);
    // The events of the days from..to (both included), ordered by time, as CSV lines
    // (UTF-8, CRLF) handed to `out` in pieces, a header line first. No byte-order mark.
    Outcome exportCsv(const QDate& from, const QDate& to,
                      const std::function<void(const QByteArray&)>& out);

private:
    Outcome openOnce(bool create);
    Outcome writeOnce(const QList<WeighingEvent>& events, QList<Refusal>* refused);
    Outcome exportOnce(const QDate& from, const QDate& to,
                       const std::function<void(const QByteArray&)>& out);
    // A failure closes the connection, once the caller's handles on it are gone.
    Outcome fail(const QString& what, const QSqlError& error);
    Outcome closeIfFailed(Outcome o);

    QString m_odbc, m_file, m_name;
    bool m_open = false;
};
