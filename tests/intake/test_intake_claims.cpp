// The polling's claim against the real order databases under faults: a station killed
// at each point of a claim, two stations polling with one number, and a table lock held
// by another connection (statement time-out, and the station closing within 2 s).
#include "app/IntakeParts.h"
#include "app/Station.h"
#include "config/SettingsFile.h"
#include "devices/MemorySerialPort.h"
#include "intake/Queries.h"
#include "tests/intake/IntakeRig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <memory>

namespace {

using Point = OrderPolling::Point;

OrderLine line(const QString& id, const QString& code) {
    OrderLine l;
    l.idNo = id;
    l.code = code;
    return l;
}

int countAt(const OrderDb& db, int step) {
    return DbFixture::select(
               db, QStringLiteral("select count(*) from vantrell where step_no = %1").arg(step), 0)
        .value(0)
        .value(0)
        .toInt();
}

// Every code of the queue files, with how often it was queued.
QMap<QString, int> queuedCodes(const QStringList& files) {
    QMap<QString, int> codes;
    for (const QString& f : files)
        for (const QByteArray& r : readAllJobs(f).records) {
            const JobRecord j = JobRecord::decode(r);
            for (int n = 1; n <= JobRecord::kLines && j.hasLine(n); ++n)
                ++codes[j.OrderNo + QLatin1Char('/') + j.Code[size_t(n)]];
        }
    return codes;
}

// Steps until a step ends having found nothing (or `limit` steps).
void pollToTheEnd(IntakeRig& rig, OrderPolling& poll, int limit = 40) {
    bool idle = false;
    auto c = QObject::connect(&poll, &OrderPolling::stepFinished, [&](bool queued, bool marked) {
        idle = !queued && !marked && !rig.faults.polling.active();
    });
    for (int i = 0; i < limit && !idle; ++i) {
        while (poll.backoffTicks() > 0)
            poll.tick();
        rig.step(poll);
    }
    QObject::disconnect(c);
}

// The child process of a kill: polls in `work` and is killed (SIGKILL, by itself) when
// the claim reaches `point` (for Appended: after record `record`).
int runChild(const QString& label, const QString& work, int point, int record) {
    DbFixture::attach();
    IntakeRig rig(DbFixture::byLabel(label), work);
    rig.settings.setOption(Option::PollPowder, 1);
    OrderPolling poll(rig.ctx);
    poll.setHook([point, record](Point p, int k) {
        if (int(p) == point && (p != Point::Appended || k == record))
            ::raise(SIGKILL);
    });
    for (int i = 0; i < 10; ++i) {
        poll.tick();
        while (poll.inProgress())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return 0; // never reached the point
}

// K-1 of 12 lines (two job records) and K-2 of two.
QList<OrderLine> twelveAndTwo() {
    QList<OrderLine> lines;
    for (int i = 1; i <= 12; ++i)
        lines << line("K-1", QStringLiteral("A%1").arg(i));
    return lines << line("K-2", "B1") << line("K-2", "B2");
}

// Runs the child of a kill in `work`; true when it was killed.
bool killChild(const OrderDb& db, const WorkDir& work, Point point, int record = 0) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), db.label, work.path(), QString::number(int(point)),
                 QString::number(record)});
    return child.waitForFinished(60000) && child.exitStatus() == QProcess::CrashExit;
}

// Completes the claim journal of `work` as a restart does.
void recoverIn(IntakeRig& rig) {
    OrderPolling poll(rig.ctx);
    poll.recover();
    QTRY_VERIFY_WITH_TIMEOUT(!poll.inProgress() && rig.db.inFlight() == 0, 30000);
}

} // namespace

class TestIntakeClaims : public QObject {
    Q_OBJECT
    OrderDb m_db;

    bool useDatabase(const QList<OrderLine>& lines) {
        QFETCH(QString, db);
        m_db = DbFixture::byLabel(db);
        return m_db.available && DbFixture::createOrders(m_db, lines).ok();
    }

private slots:
    void initTestCase() { DbFixture::setUp(QStringLiteral("ds_test_intake_claims")); }

    // The station is killed at each point of a claim of K-1 (12 lines: two records); after
    // the restart every line of K-1 and K-2 is queued exactly once and marked taken.
    void killAtEachPointOfTheClaim_data() {
        QTest::addColumn<QString>("db");
        QTest::addColumn<int>("point");
        QTest::addColumn<int>("record");
        for (const char* db : {"sqlite", "pg"}) {
            QTest::newRow(qPrintable(QStringLiteral("%1: marked, not journalled").arg(db)))
                << db << int(Point::Claimed) << 0;
            QTest::newRow(qPrintable(QStringLiteral("%1: journalled, not committed").arg(db)))
                << db << int(Point::Journalled) << 0;
            QTest::newRow(qPrintable(QStringLiteral("%1: committed, not appended").arg(db)))
                << db << int(Point::Committed) << 0;
            QTest::newRow(qPrintable(QStringLiteral("%1: first record appended").arg(db)))
                << db << int(Point::Appended) << 1;
            QTest::newRow(qPrintable(QStringLiteral("%1: all appended, journal kept").arg(db)))
                << db << int(Point::Appended) << 2;
        }
    }
    void killAtEachPointOfTheClaim() {
        QFETCH(int, point);
        QFETCH(int, record);
        QList<OrderLine> lines;
        for (int i = 1; i <= 12; ++i)
            lines << line("K-1", QStringLiteral("A%1").arg(i));
        lines << line("K-2", "B1") << line("K-2", "B2");
        if (!useDatabase(lines))
            QSKIP(qPrintable(m_db.why));
        WorkDir work;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--child"), m_db.label, work.path(), QString::number(point),
                     QString::number(record)});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        // Where the kill left it.
        const QString queue = work.file(QStringLiteral("recv/START_DISPEN.txt"));
        const bool journalled = work.exists(QStringLiteral("POLL_CLAIM.txt"));
        QCOMPARE(journalled, point != int(Point::Claimed));
        QCOMPARE(countAt(m_db, 45), point >= int(Point::Committed) ? 12 : 0);
        QCOMPARE(readAllJobs(queue).records.size(), qsizetype(record));

        // The restart completes the claim before any polling (none is switched on yet).
        IntakeRig rig(m_db, work.path());
        OrderPolling poll(rig.ctx);
        poll.recover();
        QTRY_VERIFY_WITH_TIMEOUT(!poll.inProgress() && rig.db.inFlight() == 0, 30000);
        QVERIFY(!work.exists(QStringLiteral("POLL_CLAIM.txt")));
        QCOMPARE(readAllJobs(queue).records.size(),
                 qsizetype(point >= int(Point::Committed) ? 2 : 0));
        rig.settings.setOption(Option::PollPowder, 1);
        pollToTheEnd(rig, poll);
        const QMap<QString, int> codes = queuedCodes({queue});
        QCOMPARE(codes.size(), 14);
        for (auto it = codes.cbegin(); it != codes.cend(); ++it)
            QVERIFY2(it.value() == 1, qPrintable(it.key()));
        QCOMPARE(countAt(m_db, 45), 14);
        QVERIFY(!work.exists(QStringLiteral("POLL_CLAIM.txt")));
    }

    // Killed once the journal says record 1 is in; record 1 is then weighed and leaves the
    // queue, and the restart finds the database down: only record 2 goes in.
    void committedClaimCompletesWithoutTheDatabase() {
        m_db = DbFixture::sqlite();
        QVERIFY(DbFixture::createOrders(m_db, twelveAndTwo()).ok());
        WorkDir work;
        QVERIFY(killChild(m_db, work, Point::Appended, 1));
        const QString queue = work.file(QStringLiteral("recv/START_DISPEN.txt"));
        QCOMPARE(readAllJobs(queue).records.size(), 1);
        QVERIFY(RemoveJob(queue, twinOf(queue), 1).ok());

        IntakeRig rig(
            OrderDb{
                QStringLiteral("down"), {QStringLiteral("ds_no_such_source"), {}, {}, 5}, true, {}},
            work.path());
        recoverIn(rig);
        QVERIFY2(!rig.faults.polling.active(), qPrintable(rig.faults.polling.reason()));
        QVERIFY(!work.exists(QStringLiteral("POLL_CLAIM.txt")));
        const QList<JobRecord> jobs = rig.jobs(QStringLiteral("recv/START_DISPEN.txt"));
        QCOMPARE(jobs.size(), 1);
        QCOMPARE(jobs[0].Code[1], QStringLiteral("A11"));
    }

    // A claim whose commit is not known to have gone through: the order's lines decide.
    // Killed before the commit, the lines then edited or deleted and taken elsewhere:
    // nothing is queued, and the status line says so. Killed after the commit, before the
    // journal said so (its state left out, as an earlier version wrote it): queued once.
    void claimNotKnownCommitted_data() {
        QTest::addColumn<QString>("db");
        QTest::addColumn<int>("point");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<int>("queued");
        QTest::addColumn<QString>("said");
        for (const char* db : {"sqlite", "pg"}) {
            QTest::newRow(qPrintable(QStringLiteral("%1: edited, taken elsewhere").arg(db)))
                << db << int(Point::Journalled)
                << "UPDATE vantrell SET step_no = 45, weight = 2 WHERE id_no = 'K-1'" << 0
                << "單號 K-1 的接單在上次中斷, 訂單已變更或刪除, 未排入";
            QTest::newRow(qPrintable(QStringLiteral("%1: deleted").arg(db)))
                << db << int(Point::Journalled) << "DELETE FROM vantrell WHERE id_no = 'K-1'" << 0
                << "單號 K-1 的接單在上次中斷, 訂單已變更或刪除, 未排入";
            QTest::newRow(qPrintable(QStringLiteral("%1: committed, journal not told").arg(db)))
                << db << int(Point::Committed) << "" << 2 << "單號 K-1 的接單在上次中斷, 已補排入";
        }
    }
    void claimNotKnownCommitted() {
        QFETCH(int, point);
        QFETCH(QString, meanwhile);
        QFETCH(int, queued);
        QFETCH(QString, said);
        if (!useDatabase(twelveAndTwo()))
            QSKIP(qPrintable(m_db.why));
        WorkDir work;
        QVERIFY(killChild(m_db, work, Point(point)));
        if (!meanwhile.isEmpty()) {
            QVERIFY(DbFixture::exec(m_db, {meanwhile}).ok());
        } else {
            QJsonObject o =
                QJsonDocument::fromJson(work.read(QStringLiteral("POLL_CLAIM.txt"))).object();
            QVERIFY(o.value(QStringLiteral("committed")).toBool());
            o.remove(QStringLiteral("committed"));
            o.remove(QStringLiteral("appended"));
            work.write(QStringLiteral("POLL_CLAIM.txt"), QJsonDocument(o).toJson());
        }

        IntakeRig rig(m_db, work.path());
        recoverIn(rig);
        QVERIFY2(!rig.faults.polling.active(), qPrintable(rig.faults.polling.reason()));
        QVERIFY(!work.exists(QStringLiteral("POLL_CLAIM.txt")));
        QCOMPARE(rig.jobs(QStringLiteral("recv/START_DISPEN.txt")).size(), queued);
        QCOMPARE(rig.status.text(), said);
    }

    // An order an earlier version queued but could not mark taken (its POLL_PENDING.txt):
    // marked before anything is claimed, never queued a second time.
    void leftOverPendingListIsMarkedFirst_data() {
        QTest::addColumn<QString>("db");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("pg") << "pg";
    }
    void leftOverPendingListIsMarkedFirst() {
        if (!useDatabase({line("P-1", "A1"), line("P-1", "A2"), line("P-2", "B1")}))
            QSKIP(qPrintable(m_db.why));
        IntakeRig rig(m_db);
        QFile pending(rig.file(QStringLiteral("POLL_PENDING.txt")));
        QVERIFY(pending.open(QIODevice::WriteOnly));
        pending.write("1\tP-1\n");
        pending.close();
        rig.settings.setOption(Option::PollPowder, 1);
        OrderPolling poll(rig.ctx);
        pollToTheEnd(rig, poll);
        const QMap<QString, int> codes =
            queuedCodes({rig.file(QStringLiteral("recv/START_DISPEN.txt"))});
        QCOMPARE(codes.keys(), QStringList{QStringLiteral("P-2/B1")});
        QCOMPARE(countAt(m_db, 45), 3);
        QVERIFY(!QFile::exists(rig.file(QStringLiteral("POLL_PENDING.txt"))));
    }

    // Two stations polling with one number: each line is queued once, by one of them.
    void twoStationsOnOneNumber_data() {
        QTest::addColumn<QString>("db");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("pg") << "pg";
    }
    void twoStationsOnOneNumber() {
        QList<OrderLine> lines;
        int total = 0;
        for (int k = 1; k <= 30; ++k)
            for (int j = 1; j <= (k == 7 ? 12 : 1 + k % 4); ++j, ++total)
                lines << line(QStringLiteral("T-%1").arg(k), QStringLiteral("C%1").arg(j));
        if (!useDatabase(lines))
            QSKIP(qPrintable(m_db.why));
        IntakeRig a(m_db), b(m_db);
        a.settings.setOption(Option::PollPowder, 1);
        b.settings.setOption(Option::PollPowder, 1);
        OrderPolling pa(a.ctx), pb(b.ctx);
        QTimer timer2; // both stations' Timer2, sped up
        timer2.setInterval(2);
        connect(&timer2, &QTimer::timeout, this, [&] {
            pa.tick();
            pb.tick();
        });
        timer2.start();
        QTRY_VERIFY_WITH_TIMEOUT(countAt(m_db, 44) == 0, 120000);
        timer2.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!pa.inProgress() && !pb.inProgress(), 30000);
        pollToTheEnd(a, pa);
        pollToTheEnd(b, pb);
        const QMap<QString, int> codes =
            queuedCodes({a.file(QStringLiteral("recv/START_DISPEN.txt")),
                         b.file(QStringLiteral("recv/START_DISPEN.txt"))});
        QCOMPARE(codes.size(), total);
        for (auto it = codes.cbegin(); it != codes.cend(); ++it)
            QVERIFY2(it.value() == 1, qPrintable(it.key()));
        QCOMPARE(countAt(m_db, 45), total);
        qInfo("station a queued %lld records, station b %lld",
              qlonglong(a.jobs(QStringLiteral("recv/START_DISPEN.txt")).size()),
              qlonglong(b.jobs(QStringLiteral("recv/START_DISPEN.txt")).size()));
    }

    // A lock held by another connection: polling and search give up at their statement
    // time-out and report it; the station closes within 2 s while its step waits.
    void lockHeldByAnotherConnection_data() {
        QTest::addColumn<QString>("db");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("pg") << "pg";
    }
    void lockHeldByAnotherConnection() {
        OrderLine l = line("L-1", "C1");
        if (!useDatabase({l, line("L-2", "C2")}))
            QSKIP(qPrintable(m_db.why));
        DbSession locker(m_db.login);
        QVERIFY(locker.connect().ok());
        if (m_db.label == QLatin1String("pg")) {
            QVERIFY(locker.begin().ok());
            QVERIFY(locker.statement(QStringLiteral("LOCK TABLE vantrell IN ACCESS EXCLUSIVE MODE"))
                        .ok());
        } else {
            QVERIFY(locker.statement(QStringLiteral("BEGIN EXCLUSIVE")).ok());
        }

        IntakeRig rig(m_db);
        rig.ctx.statementTimeoutSecs = 1;
        rig.settings.setOption(Option::PollPowder, 1);
        rig.settings.setOption(Option::DyeBarcode, 1);
        OrderPolling poll(rig.ctx);
        OrderSearch form3(rig.ctx, OrderSearch::Entry::MainWindow);
        QElapsedTimer t;
        t.start();
        rig.step(poll);
        const qint64 stepMs = t.elapsed();
        QVERIFY(rig.faults.polling.active());
        QVERIFY(!rig.search(form3, QStringLiteral("L-1")));
        QVERIFY(rig.faults.search.active());
        qInfo("with the table locked, a polling step gave up after %lld ms: %s", stepMs,
              qPrintable(rig.faults.polling.reason()));
        QVERIFY(stepMs < 8000);

        // The whole station, its polling step waiting for the lock (10 s time-out).
        WorkDir dir;
        StationSettings s;
        s.setText(Setting::DataSourceName, m_db.login.dataSource);
        s.setText(Setting::UserId, m_db.login.user);
        s.setText(Setting::DbPassword, m_db.login.password);
        s.setText(Setting::TableName, QStringLiteral("vantrell"));
        s.setText(Setting::ReceivePath, dir.path());
        s.setText(Setting::PollSeconds, QStringLiteral("1"));
        s.setOption(Option::PollPowder, 1);
        QVERIFY(SettingsFile::save(dir.file(QStringLiteral("set.txt")), s).ok());
        StationOptions o;
        o.workDir = dir.path();
        o.portFactory = [] { return std::make_unique<MemorySerialPort>(); };
        auto station = std::make_unique<Station>(o);
        station->start();
        QTRY_VERIFY_WITH_TIMEOUT(station->intake().polling.inProgress(), 5000);
        QTest::qWait(300); // inside the statement
        t.restart();
        station.reset();
        const qint64 closeMs = t.elapsed();
        qInfo("closing the station while its polling step waited for the lock took %lld ms",
              closeMs);
        QVERIFY2(closeMs < 2000, qPrintable(QString::number(closeMs)));

        // Once the lock is gone the order goes in, once.
        if (m_db.label == QLatin1String("pg"))
            locker.rollback();
        else
            QVERIFY(locker.statement(QStringLiteral("ROLLBACK")).ok());
        locker.disconnect();
        pollToTheEnd(rig, poll);
        QCOMPARE(rig.jobs(QStringLiteral("recv/START_DISPEN.txt")).size(), 2);
        QCOMPARE(countAt(m_db, 45), 2);
    }
};

int main(int argc, char** argv) {
    if (argc == 6 && qstrcmp(argv[1], "--child") == 0) {
        QCoreApplication app(argc, argv);
        return runChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                        atoi(argv[4]), atoi(argv[5]));
    }
    QApplication app(argc, argv);
    TestIntakeClaims t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_intake_claims.moc"
