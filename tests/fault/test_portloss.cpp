// A balance port or the light-bus port vanishing in the middle of a job and coming back:
// the device simulator pulls the line while a line is being weighed and plugs it in again
// a moment later. The station tells the operator, reconnects by itself, and the job ends
// as it would have: one history record with every line weighed, an empty queue, no light
// left lit.
#include "app/Station.h"
#include "common/Numbers.h"
#include "config/SettingsFile.h"
#include "devices/LightMap.h"
#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "tests/support/Devsim.h"
#include "tests/support/TestSupport.h"

#include <QTest>

namespace {

struct Line {
    int light;
    const char* code;
    const char* target;
};
// Threshold 1000 g: lines 1 and 3 on the small balance, line 2 on the large one. Line 1's
// dye is in module 1, which the job's opening sweep clears first.
const Line kLines[] = {{3, "RED-3", "12.34"}, {20, "YEL-20", "1500.5"}, {45, "BLU-45", "7.25"}};

} // namespace

class TestPortLoss : public QObject {
    Q_OBJECT
private slots:
    void lineVanishesMidJob_data();
    void lineVanishesMidJob();
};

void TestPortLoss::lineVanishesMidJob_data() {
    QTest::addColumn<QString>("line");   // devsim's name of the line pulled
    QTest::addColumn<QString>("during"); // the event after which it is pulled
    QTest::addColumn<QString>("told");   // part of what the status line must have said
    QTest::newRow("large balance while it is weighed") << "large"
                                                       << "auto pour large line 2"
                                                       << "MSComm2";
    QTest::newRow("small balance between its lines") << "small"
                                                     << "auto pour large line 2"
                                                     << "MSComm1";
    QTest::newRow("light bus while a light is on") << "lights"
                                                   << "auto pour large line 2"
                                                   << "燈號";
}

void TestPortLoss::lineVanishesMidJob() {
    QFETCH(QString, line);
    QFETCH(QString, during);
    QFETCH(QString, told);
    WorkDir dir;
    Devsim sim(
        {QStringLiteral("--auto"), dir.path(), QStringLiteral("--rate"), QStringLiteral("50")});
    QVERIFY(sim.ready());

    QVERIFY(sim.saveTextModeSettings(dir.path(), QStringLiteral("1000")));
    LightMap map;
    JobRecord job;
    job.OrderNo = QStringLiteral("LOSS-%1").arg(line);
    for (int i = 0; i < 3; ++i) {
        map.setCode(kLines[i].light, QString::fromLatin1(kLines[i].code));
        job.Code[size_t(i + 1)] = QString::fromLatin1(kLines[i].code);
        job.Weight[size_t(i + 1)] = QString::fromLatin1(kLines[i].target);
    }
    QVERIFY(map.save(dir.file(QStringLiteral("DYE_LIGHT.txt"))).ok());
    const QString queue = dir.file(QStringLiteral("START_DISPEN.txt"));
    QVERIFY(AppendJob(queue, job).ok());

    // Declared before the station: its close still reports (the lights switched off).
    QStringList reports;
    Station station(StationOptions{dir.path(), {}, nullptr});
    connect(&station.status(), &StatusLine::reported, this,
            [&](const QString& t) { reports << t; });
    station.start();
    QVERIFY2(!station.runControl().StartupFailed(), qPrintable(station.status().text()));
    station.setSpeedUp(5);

    QTRY_VERIFY_WITH_TIMEOUT(!sim.events().filter(during).isEmpty(), 30000);
    // A balance goes once its pour has ended (the last step comes 1.1 s after it began): it
    // comes back reading what it read before, and the line goes on. (A reading that changed
    // while the balance was away asks for a new container.)
    if (line == QLatin1String("large"))
        QTest::qWait(1300);
    sim.command(QStringLiteral("unplug ") + line);
    QTRY_VERIFY_WITH_TIMEOUT(sim.hasEvent(QStringLiteral("unplugged ") + line), 5000);
    QTest::qWait(1500); // the line stays away for a while (real time: the port is really gone)
    sim.command(QStringLiteral("plug ") + line);

    const QString historyFile = dir.file(historyFileName(QDateTime::currentDateTime()));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(historyFile).size() == HistoryRecord::kLength, 60000);
    QTRY_COMPARE_WITH_TIMEOUT(JobCount(queue).count, qint64(0), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(station.weighing().State, SequencerState::Idle, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!station.timers().Timer5.enabled(), 10000);

    const HistoryRecord h =
        HistoryRecord::decode(dir.read(historyFileName(QDateTime::currentDateTime())));
    QCOMPARE(h.OrderNo, job.OrderNo);
    for (int i = 1; i <= 3; ++i) {
        QCOMPARE(h.Code[size_t(i)], job.Code[size_t(i)]);
        const qint64 off =
            (Decimal::parse(h.Actual[size_t(i)]) - Decimal::parse(job.Weight[size_t(i)])).units();
        QVERIFY2(qAbs(off) <= Decimal::kScale / 10, qPrintable(h.Actual[size_t(i)]));
    }
    QVERIFY2(!reports.filter(told).isEmpty(), qPrintable(reports.join(QLatin1String(" | "))));

    sim.command(QStringLiteral("status"));
    QTRY_VERIFY_WITH_TIMEOUT(!sim.events().filter(QStringLiteral("status ")).isEmpty(), 5000);
    const QString status = sim.events().filter(QStringLiteral("status ")).last();
    QVERIFY2(status.endsWith(QLatin1String("lit none")), qPrintable(status));
}

QTEST_MAIN(TestPortLoss)
#include "test_portloss.moc"
