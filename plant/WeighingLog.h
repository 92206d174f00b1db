#pragma once
#include "weighing/WeighingEvents.h"

#include <QDate>
#include <QObject>
#include <QString>

#include <memory>
#include <thread>

// The weighing log's writer. record() appends the event to data/weighings.pending and
// syncs it before it returns (a kill at any moment after it loses no event); a thread of
// its own writes what that file holds to the log's database and then drops it from the
// file, so that a slow or absent database never holds up the timers. A kill between the
// two leaves the events in the file; they are written again at the next start and the
// table ignores those it already holds (one station, one time: the event's identity).
// While the database cannot be written, the events wait in order in that file and are
// written, each once, when it can be again (tried every retryMs); the first failure is
// reported once through `report`. An event that cannot be appended (a full disk) waits in
// memory; what is still in memory when the log closes goes to that file, also when the
// writer's thread is held by its driver, and is written at the next start.
// An event the database refuses for its values (SQLSTATE class 22 or 23: a text too long
// for a column of a table an older station made) is set aside into data/weighings.refused
// (a JSON line with its "reason"), reported, and the events behind it are written; a fault
// of the connection keeps every event waiting, in order.
class WeighingLog : public QObject {
    Q_OBJECT
public:
    struct Config {
        QString workDir;
        QString odbc; // blank: the embedded SQLite log, data/weighings.db
        int retryMs = 2000;
    };
    static QString pendingFile(const QString& workDir);
    // The dead-letter file: events the database refused, one JSON object a line.
    static QString refusedFile(const QString& workDir);
    // How many events of the days from..to wait in a folder's pending file, that is, are
    // not in the log's database yet and so not in an export of it.
    static int waiting(const QString& workDir, const QDate& from, const QDate& to);

    explicit WeighingLog(Config config, QObject* parent = nullptr);
    ~WeighingLog() override;

    // Thread-safe; the event is complete (time and station stamped). Costs one synced
    // append (about a millisecond on a local disk).
    void record(const WeighingEvent& e);
    // Waits until every event recorded so far is in the database (true) or `ms` pass.
    bool waitWritten(int ms);
    // Asks for the waiting events to be tried at once (tests).
    void retryNow();

signals:
    // From the writer's thread: a failure of the log, said once until it is written again.
    // Emitted under the log's lock: connect it queued (the default across threads).
    void report(const QString& text);

private:
    struct Worker;
    std::shared_ptr<Worker> m_w; // shared with the writer's thread
    std::thread m_thread;
};
