// The weighing log against real databases: the embedded SQLite file always, the shared log
// on the PostgreSQL server that scripts/test.sh starts (skipped without it, failed under CI).
#include "common/FileOps.h"
#include "plant/EventSpool.h"
#include "plant/LogStore.h"
#include "plant/WeighingLog.h"
#include "tests/intake/DbFixture.h"
#include "tests/plant/Blackhole.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <atomic>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

WeighingEvent weighingEvent(int k, const QString& station = QStringLiteral("st1"),
                            const QDateTime& at = QDateTime(QDate(2026, 3, 31),
                                                            QTime(23, 59, 59))) {
    WeighingEvent e;
    e.at = at.addMSecs(k);
    e.station = station;
    e.orderNo = QStringLiteral("單號%1").arg(k);
    e.line = k % 11;
    e.code = QStringLiteral("R-101");
    e.lot = k % 2 ? QStringLiteral("L,\"7\"") : QString();
    e.target = QStringLiteral("12.34");
    e.actual = QStringLiteral("12.35");
    e.tolerance = QStringLiteral("0.02");
    e.balance = QStringLiteral("small");
    e.event = QStringLiteral("accepted");
    e.detail = QStringLiteral("k=%1").arg(k);
    return e;
}

// An environment value for inside {} of an ODBC connection string.
QString braced(const char* name) {
    return qEnvironmentVariable(name).replace(QLatin1Char('}'), QStringLiteral("}}"));
}

QStringList rows(const QString& odbc, const QString& file) {
    QStringList out;
    LogStore store(odbc, file);
    const Outcome o = store.exportCsv(QDate(2000, 1, 1), QDate(2100, 1, 1),
                                      [&](const QByteArray& b) { out << QString::fromUtf8(b); });
    if (!o)
        return {o.reason()};
    QStringList lines = out.join(QString()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    lines.removeFirst(); // the header
    return lines;
}

} // namespace

class TestWeighingLog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { DbFixture::setUp(QStringLiteral("ds_weighlog")); }

    // Written off the caller's thread, every column as given, the export by local day.
    void sqliteLogAndExport() {
        WorkDir dir;
        {
            WeighingLog log({dir.path(), {}, 100});
            for (int k : {0, 1000, 2001}) // 23:59:59, then 00:00:00 and 00:00:01 of April 1
                log.record(weighingEvent(k));
            QVERIFY(log.waitWritten(5000));
        }
        QVERIFY(QFile::exists(dir.file("data/weighings.db")));
        QByteArray csv;
        QVERIFY(LogStore::exportLog(dir.path(), {}, QDate(2026, 4, 1), QDate(2026, 4, 1),
                                    [&](const QByteArray& b) { csv += b; })
                    .ok());
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"
                               "at,station,order_no,line,code,lot,target_g,"
                               "actual_g,tolerance_g,balance,event,detail\r\n"));
        const QList<QByteArray> lines = csv.split('\n');
        QCOMPARE(lines.size(), 4); // header, two events of April 1, the end
        const QString offset = LogStore::isoText(weighingEvent(1000).at).right(6);
        QCOMPARE(QString::fromUtf8(lines.at(1)),
                 "2026-04-01T00:00:00.000" + offset +
                     ",st1,單號1000,10,R-101,,12.34,12.35,0.02,small,accepted,k=1000\r");
        QVERIFY(lines.at(2).contains(",\"L,\"\"7\"\"\","));
    }

    // The last day there is: a range up to 9999-12-31 holds its events; cells a spreadsheet
    // would run go out as text, numbers (a negative one too) as they are.
    void exportToLastDayAsText() {
        WorkDir dir;
        {
            WeighingLog log({dir.path(), {}, 100});
            WeighingEvent e = weighingEvent(0, QStringLiteral("=st"),
                                            QDateTime(QDate(9999, 12, 31), QTime(23, 59, 58)));
            e.lot = QStringLiteral("@SUM(A1)");
            e.code = QStringLiteral("+1+2");
            e.actual = QStringLiteral("-0.25");
            e.detail = QStringLiteral("-2+3,x");
            log.record(e);
            QVERIFY(log.waitWritten(5000));
        }
        QByteArray csv;
        QVERIFY(LogStore::exportLog(dir.path(), {}, QDate(9999, 12, 1), QDate(9999, 12, 31),
                                    [&](const QByteArray& b) { csv += b; })
                    .ok());
        const QList<QByteArray> lines = csv.split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines.at(1).endsWith(",'=st,單號0,0,'+1+2,'@SUM(A1),12.34,-0.25,0.02,small,"
                                      "accepted,\"'-2+3,x\"\r"),
                 lines.at(1).constData());
    }

    // A log that cannot be written: the events wait in the spool in order, one report; once
    // it can, each is written once and the spool is gone.
    void outageSpoolsInOrderOnce() {
        WorkDir dir;
        QDir(dir.path()).mkpath("data/weighings.db"); // a folder: SQLite cannot open it
        WeighingLog log({dir.path(), {}, 50});
        QSignalSpy reports(&log, &WeighingLog::report);
        for (int k = 0; k < 5; ++k)
            log.record(weighingEvent(k));
        QVERIFY(!log.waitWritten(600));
        for (int k = 5; k < 8; ++k)
            log.record(weighingEvent(k));
        QVERIFY(!log.waitWritten(300));
        QCOMPARE(EventSpool::read(WeighingLog::pendingFile(dir.path())).size(), 8);
        QTRY_COMPARE(reports.size(), 1);
        QVERIFY(QDir(dir.file("data/weighings.db")).removeRecursively());
        log.retryNow();
        QVERIFY(log.waitWritten(5000));
        QCOMPARE(EventSpool::size(WeighingLog::pendingFile(dir.path())), 0);
        const QStringList r = rows({}, dir.file("data/weighings.db"));
        QCOMPARE(r.size(), 8);
        for (int k = 0; k < 8; ++k)
            QVERIFY2(r.at(k).endsWith(QStringLiteral("k=%1").arg(k)), qPrintable(r.at(k)));
        QCOMPARE(reports.size(), 1);
    }

    // A crash after the commit and before the spool was removed: the next start finds
    // those events in the spool again and writes none of them twice.
    void spoolOfWrittenEventsIsNotWrittenTwice() {
        WorkDir dir;
        QList<WeighingEvent> events;
        for (int k = 0; k < 4; ++k)
            events << weighingEvent(k);
        {
            LogStore store({}, dir.file("data/weighings.db"));
            QVERIFY(store.write(events.mid(0, 3)).ok());
        }
        QVERIFY(EventSpool::append(WeighingLog::pendingFile(dir.path()), events).ok());
        {
            WeighingLog log({dir.path(), {}, 50});
            QVERIFY(log.waitWritten(5000));
        }
        QCOMPARE(rows({}, dir.file("data/weighings.db")).size(), 4);
    }

    // The writer's process killed (SIGKILL) right after record() returns, and at moments
    // after it: at once, before the writer drops what it wrote to the table from the
    // spool, and after short delays. Each restart writes what the killed one left; in the
    // end every event is in the table exactly once.
    void killedAfterRecordLosesNoneAndRepeatsNone() {
        WorkDir dir;
        const int kills = 24;
        for (int k = 0; k < kills; ++k) {
            const pid_t pid = ::fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                static std::atomic<bool> recorded = false;
                if (k % 3 == 1) // the table holds the events, the spool still too
                    FileOps::setStepHook([](const char* step) {
                        if (recorded &&
                            (qstrcmp(step, "unlink") == 0 || qstrcmp(step, "rename") == 0))
                            ::raise(SIGKILL);
                    });
                WeighingLog log({dir.path(), {}, 50});
                log.record(weighingEvent(k));
                recorded = true;
                if (k % 3 == 2)
                    ::usleep(useconds_t(k * 500));
                if (k % 3 != 1 || log.waitWritten(5000)) // 1: killed by the hook first
                    ::raise(SIGKILL);
                ::_exit(1);
            }
            int status = 0;
            QCOMPARE(::waitpid(pid, &status, 0), pid);
            QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL,
                     qPrintable(QStringLiteral("child %1 was not killed").arg(k)));
        }
        {
            WeighingLog log({dir.path(), {}, 50});
            QVERIFY(log.waitWritten(5000));
        }
        const QStringList r = rows({}, dir.file("data/weighings.db"));
        for (int k = 0; k < kills; ++k)
            QVERIFY2(r.filter(QRegularExpression(QStringLiteral(",k=%1$").arg(k))).size() == 1,
                     qPrintable(QStringLiteral("event %1: %2 time(s)")
                                    .arg(k)
                                    .arg(r.filter(QStringLiteral(",k=%1").arg(k)).size())));
        QCOMPARE(r.size(), kills);
        QCOMPARE(EventSpool::size(WeighingLog::pendingFile(dir.path())), 0);
    }

    // The export command: no display, BOM first, bad dates refused.
    void exportCommand() {
        WorkDir dir;
        {
            WeighingLog log({dir.path(), {}, 100});
            log.record(
                weighingEvent(0, QStringLiteral("st1"), QDateTime(QDate(2026, 5, 2), QTime(8, 0))));
            QVERIFY(log.waitWritten(5000));
        }
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.start(builtProgram("dyestation"), {"--export-log", "2026-05-01", "2026-05-02"});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY(out.startsWith("\xEF\xBB\xBF"
                               "at,"));
        QCOMPARE(out.count("\r\n"), 2);
        p.start(builtProgram("dyestation"), {"--export-log", "2026-05-02", "yesterday"});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 2);

        // Events the database has not taken yet: the export says so, by its exit status.
        QVERIFY(EventSpool::append(WeighingLog::pendingFile(dir.path()),
                                   {weighingEvent(1, QStringLiteral("st1"),
                                                  QDateTime(QDate(2026, 5, 2), QTime(9, 0))),
                                    weighingEvent(2, QStringLiteral("st1"),
                                                  QDateTime(QDate(2026, 5, 3), QTime(9, 0)))})
                    .ok());
        p.start(builtProgram("dyestation"), {"--export-log", "2026-05-01", "2026-05-02"});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 3);
        QCOMPARE(p.readAllStandardOutput().count("\r\n"), 2); // the database's rows as before
        QVERIFY(p.readAllStandardError().contains("1 event(s)"));
        p.start(builtProgram("dyestation"), {"--export-log", "2026-05-04", "2026-05-05"});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 0);
    }

    // Two stations on one shared log on PostgreSQL: the table is created by the first.
    void sharedLogOnPostgres() {
        const OrderDb pg = DbFixture::pg();
        if (!pg.available)
            QSKIP(qPrintable(pg.why));
        const QString odbc =
            QStringLiteral("DRIVER=%1;SERVER=%2;PORT=%3;DATABASE=ds_weighlog;UID=%4;PWD={%5};"
                           "SSLmode=disable")
                .arg(DbFixture::pgDriverPath(),
                     qEnvironmentVariable("DS_PG_HOST", QStringLiteral("127.0.0.1")),
                     qEnvironmentVariable("DS_PG_PORT"), qEnvironmentVariable("DS_PG_USER"),
                     braced("DS_PG_PASSWORD"));
        WorkDir a, b;
        {
            WeighingLog logA({a.path(), odbc, 100}), logB({b.path(), odbc, 100});
            QStringList reports;
            for (WeighingLog* log : {&logA, &logB})
                connect(log, &WeighingLog::report, this, [&](const QString& r) { reports << r; });
            for (int k = 0; k < 20; ++k) {
                logA.record(weighingEvent(k, QStringLiteral("A")));
                logB.record(weighingEvent(k, QStringLiteral("B")));
            }
            QVERIFY2(logA.waitWritten(10000) && logB.waitWritten(10000),
                     qPrintable((QCoreApplication::processEvents(), reports.join('\n'))));
        }
        const QStringList r = rows(odbc, {});
        QCOMPARE(r.size(), 40);
        QCOMPARE(r.filter(",A,").size(), 20);
    }

    // A shared table made by an older station, with lengths: the event it refuses (a
    // container scan too long for `lot`) is set aside into the dead-letter file with the
    // server's reason and reported; the events behind it are written, in order, and a
    // restart with the refused event still in the spool sets it aside no second time.
    void refusedEventIsSetAside() {
        const OrderDb pg = DbFixture::pg();
        if (!pg.available)
            QSKIP(qPrintable(pg.why));
        QVERIFY(DbFixture::exec(pg, {QStringLiteral("DROP TABLE IF EXISTS weighing_event")}));
        const QString odbc =
            QStringLiteral("DRIVER=%1;SERVER=%2;PORT=%3;DATABASE=ds_weighlog;UID=%4;PWD={%5};"
                           "SSLmode=disable")
                .arg(DbFixture::pgDriverPath(),
                     qEnvironmentVariable("DS_PG_HOST", QStringLiteral("127.0.0.1")),
                     qEnvironmentVariable("DS_PG_PORT"), qEnvironmentVariable("DS_PG_USER"),
                     braced("DS_PG_PASSWORD"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), "old");
            db.setDatabaseName(odbc);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(
                "CREATE TABLE weighing_event (at VARCHAR(40) NOT NULL, station VARCHAR(100) NOT "
                "NULL, order_no VARCHAR(100), line INTEGER, code VARCHAR(100), lot VARCHAR(200), "
                "target_g VARCHAR(30), actual_g VARCHAR(30), tolerance_g VARCHAR(30), "
                "balance VARCHAR(10), event VARCHAR(20), detail VARCHAR(1000))"));
        }
        QSqlDatabase::removeDatabase("old");
        WorkDir dir;
        WeighingEvent bad = weighingEvent(1);
        bad.lot = QString(256, QLatin1Char('L'));
        {
            WeighingLog log({dir.path(), odbc, 100});
            QStringList reports;
            connect(&log, &WeighingLog::report, this, [&](const QString& r) { reports << r; });
            log.record(weighingEvent(0));
            log.record(bad);
            log.record(weighingEvent(2));
            QVERIFY(log.waitWritten(10000));
            QTRY_COMPARE(reports.size(), 1);
            QVERIFY2(reports.at(0).contains(EventSpool::id(bad)) &&
                         reports.at(0).contains("character varying(200)"),
                     qPrintable(reports.at(0)));
        }
        QStringList r = rows(odbc, {});
        QCOMPARE(r.size(), 2);
        QVERIFY(r.at(0).endsWith(",k=0") && r.at(1).endsWith(",k=2"));
        const QString refused = WeighingLog::refusedFile(dir.path());
        const auto setAside = [&] {
            QList<QJsonObject> out;
            for (const QByteArray& line : dir.read("data/weighings.refused").split('\n'))
                if (!line.isEmpty())
                    out << QJsonDocument::fromJson(line).object();
            return out;
        };
        QCOMPARE(setAside().size(), 1);
        QCOMPARE(setAside().at(0).value("lot").toString(), bad.lot);
        QVERIFY(setAside().at(0).value("reason").toString().contains("too long"));
        QCOMPARE(EventSpool::size(WeighingLog::pendingFile(dir.path())), 0);

        // A kill before the spool was emptied: the three come back at the next start.
        QVERIFY(EventSpool::append(WeighingLog::pendingFile(dir.path()),
                                   {weighingEvent(0), bad, weighingEvent(2), weighingEvent(3)}));
        {
            WeighingLog log({dir.path(), odbc, 100});
            QVERIFY(log.waitWritten(10000));
        }
        r = rows(odbc, {});
        QCOMPARE(r.size(), 3);
        QVERIFY(r.at(2).endsWith(",k=3"));
        QCOMPARE(setAside().size(), 1);
        QVERIFY(QFile::exists(refused));
        QVERIFY(DbFixture::exec(pg, {QStringLiteral("DROP TABLE weighing_event")}));
    }

    // A shared log whose server does not answer (a login waits for its time-out): the
    // events recorded before and during the login are in the spool, once each and in
    // order, when the log is closed at once; the writer left behind ends by itself when
    // its login gives up, and adds none of them again.
    void silentServerAtClose() {
        const auto threads = [] {
            return QDir(QStringLiteral("/proc/self/task"))
                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                .size();
        };
        const qsizetype before = threads();
        Blackhole hole;
        const QString odbc =
            QStringLiteral("DRIVER=%1;SERVER=127.0.0.1;PORT=%2;DATABASE=x;UID=x;SSLmode=disable")
                .arg(DbFixture::pgDriverPath())
                .arg(hole.port());
        WorkDir dir;
        QElapsedTimer t;
        {
            WeighingLog log({dir.path(), odbc, 100});
            for (int k = 0; k < 3; ++k)
                log.record(weighingEvent(k));
            QTest::qWait(300); // the writer waits for the login
            for (int k = 3; k < 5; ++k)
                log.record(weighingEvent(k));
            t.start();
        }
        QVERIFY2(t.elapsed() < 2500, qPrintable(QString::number(t.elapsed())));
        const QList<WeighingEvent> spooled = EventSpool::read(WeighingLog::pendingFile(dir.path()));
        QCOMPARE(spooled.size(), 5);
        for (int k = 0; k < 5; ++k)
            QCOMPARE(spooled.at(k).detail, QStringLiteral("k=%1").arg(k));
        QTRY_VERIFY_WITH_TIMEOUT(threads() <= before, 15000);
        QCOMPARE(EventSpool::read(WeighingLog::pendingFile(dir.path())).size(), 5);
    }
};

QTEST_GUILESS_MAIN(TestWeighingLog)
#include "test_weighinglog.moc"
