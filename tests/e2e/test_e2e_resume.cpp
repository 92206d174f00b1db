// The station killed (SIGKILL) at random moments over a whole three-line order that devsim's
// automatic operator weighs, and started again after each kill. The station runs as a child
// process: this program started again with DS_RESUME_STATION naming the working folder. The
// operator pours what the station shows is still missing, so the amounts are deterministic:
// whatever the kills, the one history record at the end equals an uninterrupted run's, and
// no line the station accepted is ever asked for again.
#include "app/Station.h"
#include "config/SettingsFile.h"
#include "devices/LightMap.h"
#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "tests/support/Devsim.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

namespace {

struct Dye {
    int light;
    const char* code;
    const char* target;
};
// Threshold 1000 g: lines 1 and 3 on the small balance, line 2 on the large one.
const Dye kDyes[] = {{3, "RED 01", "12.34"}, {12, "YEL-2", "1500.5"}, {120, "BLUE", "0.5"}};
constexpr int kKills = 8;

int runStation(const QString& dir) {
    Station station(StationOptions{dir, {}, nullptr});
    station.start();
    station.setSpeedUp(5);
    return qApp->exec();
}

} // namespace

class TestE2eResume : public QObject {
    Q_OBJECT
private slots:
    void killedAndRestartedOrderEqualsAnUninterruptedOne();
};

void TestE2eResume::killedAndRestartedOrderEqualsAnUninterruptedOne() {
    WorkDir dir;
    Devsim sim({QStringLiteral("--auto"), dir.path()});
    QVERIFY(sim.ready());
    QVERIFY(sim.saveTextModeSettings(dir.path(), QStringLiteral("1000")));
    LightMap map;
    JobRecord job;
    job.OrderNo = QStringLiteral("RESUME-1");
    for (int i = 0; i < 3; ++i) {
        map.setCode(kDyes[i].light,
                    QString::fromLatin1(kDyes[i].code).section(QLatin1Char(' '), 0, 0));
        job.Code[size_t(i + 1)] = QString::fromLatin1(kDyes[i].code);
        job.Weight[size_t(i + 1)] = QString::fromLatin1(kDyes[i].target);
    }
    QVERIFY(map.save(dir.file(QStringLiteral("DYE_LIGHT.txt"))).ok());
    const QString queue = dir.file(QStringLiteral("START_DISPEN.txt"));
    QVERIFY(AppendJob(queue, job).ok());

    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator rnd(seed);
    const QString historyName = historyFileName(QDateTime::currentDateTime());
    const QString history = dir.file(historyName);
    auto pours = [&] { return int(sim.events().filter(QStringLiteral("auto pour")).size()); };
    auto journal = [&] { return QFileInfo::exists(dir.file(QStringLiteral("JOURNAL.txt"))); };
    int kills = 0, killed = 0;
    for (;;) {
        QProcess station;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DS_RESUME_STATION"), dir.path());
        station.setProcessEnvironment(env);
        station.setProcessChannelMode(QProcess::ForwardedChannels);
        station.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(station.waitForStarted(5000));
        if (kills == kKills) {
            QVERIFY2(waitFor([&] { return JobCount(queue).count == 0 && !journal(); }, 60000),
                     qPrintable(sim.events().join(QLatin1Char('\n')).right(3000)));
            station.terminate();
            QVERIFY(station.waitForFinished(5000));
            break;
        }
        // Half of the kills fall anywhere (start-up, resuming, asking for a container), half
        // into a line: while the dye is poured, weighed, settles or is accepted.
        if (rnd.bounded(2) == 0) {
            const int before = pours();
            waitFor([&] { return pours() > before; }, 15000);
        }
        runFor(int(rnd.bounded(300, 2500)));
        station.kill();
        QVERIFY(station.waitForFinished(5000));
        ++killed;
        // An order finished before the kill: the last start only completes what is left.
        kills = JobCount(queue).count == 0 ? kKills : kills + 1;
    }

    const QStringList events = sim.events();
    QVERIFY2(events.filter(QStringLiteral("relit accepted")).isEmpty(),
             qPrintable(events.join(QLatin1Char('\n'))));
    QCOMPARE(QFileInfo(history).size(), qint64(HistoryRecord::kLength)); // logged once
    const HistoryRecord h = HistoryRecord::decode(dir.read(historyName));
    QCOMPARE(h.OrderNo, job.OrderNo);
    for (int i = 1; i <= 3; ++i) {
        QCOMPARE(h.Code[size_t(i)], QString::fromLatin1(kDyes[i - 1].code));
        QCOMPARE(h.Target[size_t(i)], QString::fromLatin1(kDyes[i - 1].target));
        QCOMPARE(h.Actual[size_t(i)], QString::fromLatin1(kDyes[i - 1].target));
    }
    QVERIFY(h.Code[4].isEmpty());
    qInfo("%d kills, %lld resumed pours", killed,
          qlonglong(events.filter(QRegularExpression(QStringLiteral("already [1-9]"))).size()));
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString dir = qEnvironmentVariable("DS_RESUME_STATION");
    if (!dir.isEmpty())
        return runStation(dir);
    TestE2eResume t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_e2e_resume.moc"
