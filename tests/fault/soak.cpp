// Soak: jobs of up to ten lines weighed back to back by the device simulator's automatic
// operator, with the station's logic timers running ten times faster. Afterwards every
// job is in the history exactly once with its lines, the queue is empty, no light is lit,
// and the resident memory grew by no more than 2 MB between the 50th and the last job.
// DS_SOAK_JOBS sets the number of jobs (300).
#include "app/Station.h"
#include "common/Numbers.h"
#include "config/SettingsFile.h"
#include "devices/LightMap.h"
#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "tests/support/Devsim.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <unistd.h>

namespace {

qint64 residentKb() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> v = f.readAll().split(' ');
    return v.value(1).toLongLong() * (::sysconf(_SC_PAGESIZE) / 1024);
}

QString code(int position) {
    return QStringLiteral("D%1").arg(position, 3, 10, QLatin1Char('0'));
}

// Job n (1-based): every tenth has ten lines, the others one; codes at distinct
// lights, small and large targets mixed (the threshold is 1000 g). The first line's dye
// stands in light module 1: the sweep that starts a job clears the modules one after the
// other over 1.3 s, and a light switched on in a module it has not reached yet is switched
// off again, which leaves the automatic operator (who pours only under a lit light)
// waiting for ever.
JobRecord soakJob(int n) {
    JobRecord j;
    j.OrderNo = QStringLiteral("SOAK-%1").arg(n, 4, 10, QLatin1Char('0'));
    j.OutputPos = QString::number(n % 7);
    const int lines = n % 10 == 0 ? JobRecord::kLines : 1;
    for (int i = 1; i <= lines; ++i) {
        const int position =
            i == 1 ? 1 + n % 8 : 9 + (n * 13 + i * 11) % (LightMap::kPositions - 8);
        j.Code[size_t(i)] = code(position);
        j.Weight[size_t(i)] = (i + n) % 3 == 0 ? QStringLiteral("%1.5").arg(1000 + (n * i) % 900)
                                               : QStringLiteral("%1.%2")
                                                     .arg(1 + (n + i) % 400)
                                                     .arg((n * i) % 100, 2, 10, QLatin1Char('0'));
    }
    return j;
}

} // namespace

class Soak : public QObject {
    Q_OBJECT
private slots:
    void backToBack();
};

void Soak::backToBack() {
    const int jobs = qEnvironmentVariableIsSet("DS_SOAK_JOBS")
                         ? qEnvironmentVariableIntValue("DS_SOAK_JOBS")
                         : 300;
    WorkDir dir;
    Devsim sim(
        {QStringLiteral("--auto"), dir.path(), QStringLiteral("--rate"), QStringLiteral("50")});
    QVERIFY(sim.ready());

    QVERIFY(sim.saveTextModeSettings(dir.path(), QStringLiteral("1000")));
    LightMap map;
    for (int p = 1; p <= LightMap::kPositions; ++p)
        map.setCode(p, code(p));
    QVERIFY(map.save(dir.file(QStringLiteral("DYE_LIGHT.txt"))).ok());
    const QString queue = dir.file(QStringLiteral("START_DISPEN.txt"));
    for (int n = 1; n <= jobs; ++n)
        QVERIFY(AppendJob(queue, soakJob(n)).ok());

    Station station(StationOptions{dir.path(), {}, nullptr});
    station.start();
    QVERIFY2(!station.runControl().StartupFailed(), qPrintable(station.status().text()));
    station.setSpeedUp(10);

    // Watch the history grow; note the memory at the 50th job and at the last.
    const QString historyName = historyFileName(QDateTime::currentDateTime());
    qint64 done = 0, rssAt50 = -1, rssAtEnd = -1;
    QElapsedTimer clock;
    clock.start();
    QTimer watch;
    watch.setInterval(100);
    connect(&watch, &QTimer::timeout, this, [&] {
        const qint64 n = QFileInfo(dir.file(historyName)).size() / HistoryRecord::kLength;
        if (n == done)
            return;
        done = n;
        if (done == qMin(50, jobs))
            rssAt50 = residentKb();
        if (done == jobs)
            rssAtEnd = residentKb();
        if (done % 25 == 0 || done == jobs)
            qInfo("%lld jobs in %.1f s, resident %lld kB", done, clock.elapsed() / 1000.0,
                  residentKb());
    });
    watch.start();
    QTRY_VERIFY_WITH_TIMEOUT(done >= jobs, jobs * 60000);
    watch.stop();
    QTRY_COMPARE_WITH_TIMEOUT(JobCount(queue).count, qint64(0), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(station.weighing().State, SequencerState::Idle, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!station.timers().Timer5.enabled(), 10000);

    // Exactly one record per job, in order, with the job's lines as weighed.
    const QByteArray bytes = dir.read(historyName);
    QCOMPARE(bytes.size(), qsizetype(jobs) * HistoryRecord::kLength);
    for (int n = 1; n <= jobs; ++n) {
        const HistoryRecord h = HistoryRecord::decode(
            bytes.mid(qsizetype(n - 1) * HistoryRecord::kLength, HistoryRecord::kLength));
        const JobRecord j = soakJob(n);
        QCOMPARE(h.OrderNo, j.OrderNo);
        for (int i = 1; i <= JobRecord::kLines; ++i) {
            QCOMPARE(h.Code[size_t(i)], j.Code[size_t(i)]);
            QCOMPARE(h.Target[size_t(i)], j.Weight[size_t(i)]);
            if (!j.hasLine(i))
                continue;
            const qint64 off =
                (Decimal::parse(h.Actual[size_t(i)]) - Decimal::parse(j.Weight[size_t(i)])).units();
            QVERIFY2(qAbs(off) <= Decimal::kScale / 10,
                     qPrintable(QStringLiteral("%1 line %2: %3 for %4")
                                    .arg(j.OrderNo)
                                    .arg(i)
                                    .arg(h.Actual[size_t(i)], j.Weight[size_t(i)])));
        }
    }

    // No light left lit.
    sim.command(QStringLiteral("status"));
    QTRY_VERIFY_WITH_TIMEOUT(!sim.events().filter(QStringLiteral("status ")).isEmpty(), 5000);
    const QString status = sim.events().filter(QStringLiteral("status ")).last();
    QVERIFY2(status.endsWith(QLatin1String("lit none")), qPrintable(status));

    qInfo("%d jobs in %.1f s; resident %lld kB at job %d, %lld kB at the end", jobs,
          clock.elapsed() / 1000.0, rssAt50, qMin(50, jobs), rssAtEnd);
    QVERIFY(rssAt50 > 0 && rssAtEnd > 0);
    QVERIFY2(rssAtEnd - rssAt50 <= 2048, "resident memory grew by more than 2 MB");
}

QTEST_MAIN(Soak)
#include "soak.moc"
