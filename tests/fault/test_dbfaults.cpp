// The order database server stopped in the middle of a polling step and of an order
// search (a real PostgreSQL server of this test, stopped with pg_ctl -m immediate while a
// query runs; the order table is a view that takes a while per row, so that the stop lands
// inside the step). Nothing is written and no update is half done; once the server is back
// the polling takes the order exactly once and marks it taken.
#include "intake/OrderPolling.h"
#include "intake/OrderSearch.h"
#include "intake/Queries.h"
#include "tests/fault/SmallDisk.h"
#include "tests/intake/DbFixture.h"
#include "tests/intake/IntakeRig.h"

#include <QDirIterator>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

QString g_pgDir, g_pgPort;

bool run(const QString& program, const QStringList& args, QString* out = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (out)
        *out = QString::fromLocal8Bit(p.readAllStandardOutput());
    return true;
}

QStringList asPostgres(QStringList args) {
    if (::getuid() == 0)
        args = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--")} +
               args;
    return args;
}

QString pgBin(const char* tool) {
    return QStringLiteral("/usr/lib/postgresql/15/bin/") + QLatin1String(tool);
}

bool pgCtl(const QStringList& args) {
    const QStringList full = asPostgres(
        QStringList{pgBin("pg_ctl"), QStringLiteral("-D"), g_pgDir + QStringLiteral("/data")} +
        args);
    return ::getuid() == 0 ? run(QStringLiteral("runuser"), full) : run(full.first(), full.mid(1));
}

bool stopServer() {
    return pgCtl({QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("-w"),
                  QStringLiteral("stop")});
}
bool startServer() {
    return pgCtl({QStringLiteral("-l"), g_pgDir + QStringLiteral("/server.log"),
                  QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("30"),
                  QStringLiteral("-o"),
                  QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                      .arg(g_pgPort, g_pgDir),
                  QStringLiteral("start")});
}

OrderLine orderLine(const QString& id, const QString& code, const QString& weight,
                    int prodType = 2) {
    OrderLine l;
    l.prodType = prodType;
    l.idNo = id;
    l.code = code;
    l.weight = weight;
    return l;
}

// The order table as a view that sleeps `seconds` per row it reads.
Outcome makeSlow(const OrderDb& db, double seconds) {
    return DbFixture::exec(
        db, {QStringLiteral("ALTER TABLE vantrell RENAME TO vantrell_t"),
             QStringLiteral("CREATE OR REPLACE FUNCTION ds_slow() RETURNS boolean AS "
                            "$$ BEGIN PERFORM pg_sleep(%1); RETURN true; END $$ LANGUAGE plpgsql")
                 .arg(seconds),
             QStringLiteral("CREATE VIEW vantrell AS SELECT * FROM vantrell_t WHERE ds_slow()")});
}

int countAt(const OrderDb& db, int step) {
    const auto rows = DbFixture::select(
        db, QStringLiteral("select count(*) from vantrell_t where step_no = %1").arg(step), 0);
    return rows.isEmpty() ? -1 : rows.first().first().toInt();
}

// The files of the working folder with their bytes; an empty file is left out, as opening
// a missing record file creates it empty.
QMap<QString, QByteArray> snapshot(const QString& dir) {
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.size() > 0)
            files.insert(f.fileName(), f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("?"));
    }
    return files;
}

} // namespace

class TestDbFaults : public QObject {
    Q_OBJECT
    QTemporaryDir m_base;
    OrderDb m_db;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void serverStopsDuringPolling_data();
    void serverStopsDuringPolling();
    void serverStopsDuringSearch();
    void pendingListOnFullDisk();
};

void TestDbFaults::initTestCase() {
    // A server of this test alone: stopping it must not disturb other tests.
    g_pgDir = m_base.filePath(QStringLiteral("pg"));
    // The server runs as the postgres user, which must reach its folder.
    QFile::setPermissions(m_base.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                             QFileDevice::ExeOther);
    QString out;
    const QString script =
        QDir(qEnvironmentVariable("DS_SOURCE_DIR")).filePath(QStringLiteral("scripts/pg-start.sh"));
    if (!run(QStringLiteral("bash"), {script, g_pgDir}, &out))
        QSKIP("no PostgreSQL server could be started here");
    // "export A=1 B=2" lines
    for (const QString& line : out.split(QLatin1Char('\n'))) {
        for (const QString& kv : line.mid(7).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const qsizetype eq = kv.indexOf(QLatin1Char('='));
            if (eq <= 0)
                continue;
            QString value = kv.mid(eq + 1);
            if (value.startsWith(QLatin1Char('\'')) || value.startsWith(QLatin1Char('$')))
                continue; // the password is quoted for the shell; it is the script's default
            qputenv(kv.left(eq).toLatin1().constData(), value.toLocal8Bit());
            if (kv.left(eq) == QLatin1String("DS_PG_PORT"))
                g_pgPort = value;
        }
    }
    qputenv("DS_PG_PASSWORD",
            qEnvironmentVariable("DS_PG_PASSWORD_FOR_TESTS", QStringLiteral("ds;pw}1")).toUtf8());
    QVERIFY(!g_pgPort.isEmpty());
    DbFixture::setUp(QStringLiteral("ds_test_dbfaults"));
    m_db = DbFixture::pg();
    QVERIFY2(m_db.available, qPrintable(m_db.why));
}

// Each case starts with the server up and the plain order table (a failed case may have
// left the server stopped or the slow view in place).
void TestDbFaults::init() {
    if (!pgCtl({QStringLiteral("status")}))
        QVERIFY(startServer());
    QVERIFY(DbFixture::exec(m_db, {QStringLiteral("DROP VIEW IF EXISTS vantrell")}).ok());
    QVERIFY(DbFixture::exec(m_db, {QStringLiteral("DROP TABLE IF EXISTS vantrell_t")}).ok());
}

void TestDbFaults::cleanupTestCase() {
    if (!g_pgDir.isEmpty())
        run(QStringLiteral("bash"), {QDir(qEnvironmentVariable("DS_SOURCE_DIR"))
                                         .filePath(QStringLiteral("scripts/pg-stop.sh")),
                                     g_pgDir});
}

void TestDbFaults::serverStopsDuringPolling_data() {
    QTest::addColumn<QString>("during"); // the start of the query text at which the server stops
    QTest::newRow("first query") << "SELECT";
    QTest::newRow("update") << "UPDATE";
}

void TestDbFaults::serverStopsDuringPolling() {
    QFETCH(QString, during);
    QVERIFY(DbFixture::createOrders(m_db,
                                    {orderLine("F-1", "C1", "1.5"), orderLine("F-1", "C2", "2.5")})
                .ok());
    QVERIFY(makeSlow(m_db, 0.4).ok());
    IntakeRig rig(m_db);
    rig.settings.setOption(Option::PollPowder, 1);
    OrderPolling poll(rig.ctx);
    const auto before = snapshot(rig.work);

    poll.tick();
    QTRY_VERIFY_WITH_TIMEOUT(rig.queryBox.text().startsWith(during, Qt::CaseInsensitive), 30000);
    QVERIFY(stopServer());
    QTRY_VERIFY_WITH_TIMEOUT(!poll.inProgress() && rig.db.inFlight() == 0, 30000);
    QVERIFY(rig.faults.polling.active());
    QVERIFY(!rig.status.text().isEmpty());
    const QList<JobRecord> cut = rig.jobs(QStringLiteral("recv/START_DISPEN.txt"));
    if (during == QLatin1String("SELECT"))
        QCOMPARE(snapshot(rig.work), before); // nothing written at all
    else
        QCOMPARE(cut.size(), 0); // the claim was not committed: nothing is queued

    QVERIFY(startServer());
    // The update of the order's lines is one statement: all of them or none.
    const int taken = countAt(m_db, 45);
    QVERIFY2(taken == 0 || taken == 2, qPrintable(QString::number(taken)));
    // Polling resumes by itself: the order goes in once and both lines are marked taken.
    for (int i = 0; i < 200 && countAt(m_db, 45) < 2; ++i) {
        while (poll.backoffTicks() > 0)
            poll.tick();
        rig.step(poll);
    }
    QCOMPARE(countAt(m_db, 45), 2);
    QCOMPARE(countAt(m_db, 44), 0);
    const QList<JobRecord> jobs = rig.jobs(QStringLiteral("recv/START_DISPEN.txt"));
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(jobs[0].OrderNo, QStringLiteral("F-1"));
    QCOMPARE(jobs[0].Code[2], QStringLiteral("C2"));
    QVERIFY(!QFileInfo::exists(poll.journalFile()));
    QVERIFY(!rig.faults.polling.active());
}

void TestDbFaults::serverStopsDuringSearch() {
    QVERIFY(DbFixture::createOrders(
                m_db, {orderLine("S-1", "C1", "1.5", 1), orderLine("S-1", "C2", "2.5", 1)})
                .ok());
    QVERIFY(makeSlow(m_db, 0.4).ok());
    IntakeRig rig(m_db);
    rig.settings.setOption(Option::DyeBarcode, 1); // the main window's direct query
    OrderSearch form3(rig.ctx, OrderSearch::Entry::MainWindow);
    const auto before = snapshot(rig.work);
    QSignalSpy done(&form3, &OrderSearch::finished);
    form3.enter(QStringLiteral("S-1"));
    QTRY_VERIFY_WITH_TIMEOUT(
        rig.queryBox.text().startsWith(QStringLiteral("SELECT"), Qt::CaseInsensitive), 30000);
    QVERIFY(stopServer());
    QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 30000);
    QCOMPARE(done.first().first().toBool(), false);
    QCOMPARE(snapshot(rig.work), before);
    QVERIFY(!rig.status.text().isEmpty());

    QVERIFY(startServer());
    QVERIFY2(rig.search(form3, QStringLiteral("S-1")),
             qPrintable(rig.status.text() + QLatin1String(" / ") + rig.queryBox.text()));
    // The order went in once, as a search that had never been cut off.
    const auto after = snapshot(rig.work);
    QCOMPARE(after.size(), before.size() + 1);
    QList<JobRecord> found;
    for (const QString& name : after.keys())
        if (!before.contains(name))
            for (const QByteArray& r : readAllJobs(name).records)
                found << JobRecord::decode(r);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].OrderNo, QStringLiteral("S-1"));
    QCOMPARE(found[0].Code[2], QStringLiteral("C2"));
}

// The claim journal cannot be written (a full disk under the working folder): the claim is
// rolled back, so nothing is marked taken or queued; the operator is told, and the order
// goes in once the disk has room.
void TestDbFaults::pendingListOnFullDisk() {
    SmallDisk disk(64);
    if (!disk.mounted())
        QSKIP("mounting a tmpfs is not permitted here");
    QVERIFY(DbFixture::createOrders(m_db, {orderLine("P-1", "C1", "1.5")}).ok());
    IntakeRig rig(m_db, disk.path());
    QTemporaryDir receive;
    rig.settings.setText(Setting::ReceivePath, receive.path()); // the receive folder has room
    rig.settings.setOption(Option::PollPowder, 1);
    OrderPolling poll(rig.ctx);
    const auto taken = [this] {
        return DbFixture::select(
                   m_db, QStringLiteral("select count(*) from vantrell where step_no = 45"), 0)
            .value(0)
            .value(0)
            .toInt();
    };
    disk.fill();
    rig.step(poll);
    const QString queue = receive.filePath(QStringLiteral("START_DISPEN.txt"));
    QCOMPARE(readAllJobs(queue).records.size(), 0);
    QCOMPARE(taken(), 0);
    QVERIFY2(rig.status.text().contains(QLatin1String("POLL_CLAIM.txt")),
             qPrintable(rig.status.text()));
    QVERIFY(!QFileInfo::exists(poll.journalFile()));

    QVERIFY(QFile::remove(disk.file(QStringLiteral("filler"))));
    while (poll.backoffTicks() > 0)
        poll.tick();
    rig.step(poll);
    QCOMPARE(readAllJobs(queue).records.size(), 1);
    QCOMPARE(taken(), 1);
}

QTEST_MAIN(TestDbFaults)
#include "test_dbfaults.moc"
