#include "tests/support/QueueRig.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

namespace {

QString rawEntry(const QString& order) {
    return order.leftJustified(50, QLatin1Char(' '));
}

// The queue commands with the steps these tests share.
struct Bench : QueueRig {
    void withLightBus(bool open) {
        settings.setText(Setting::LightPort, QStringLiteral("/dev/ttyLIGHT"));
        if (open)
            QVERIFY(lightPort.open(QStringLiteral("/dev/ttyLIGHT")).ok());
        lightPort.answer = &MemorySerialPort::moduleAnswer;
    }
    void addRecipes(const QStringList& orders) {
        for (const QString& o : orders)
            QVERIFY(AppendJob(quick(), job(o)).ok());
    }
    // The display as the sequencer leaves it in the middle of weighing line 2 of a job.
    void weighing2ndLine() {
        weighing.State = SequencerState::Weigh;
        weighing.Line = 2;
        weighing.Counter = 5;
        weighing.prompt = QStringLiteral("染料不足 請加入第 ( 2 ) 張染料卡指定染料");
        for (int i = 0; i < 3; ++i) {
            weighing.boxText[size_t(i)] = QStringLiteral("line %1").arg(i + 1);
            weighing.boxVisible[size_t(i)] = true;
        }
        weighing.boxText[10] = QStringLiteral("A");
        weighing.LineStatus = {3, // the blink phase
                               LineStatusCode::Idle, LineStatusCode::Active,
                               LineStatusCode::Waiting};
        weighing.LineStatus[WeighingModel::kOverall] = OverallStatus::TooLittle;
    }
    void expectDisplayCleared() {
        QCOMPARE(weighing.State, SequencerState::Idle);
        QCOMPARE(weighing.Counter, 0);
        QCOMPARE(weighing.prompt, QString());
        for (int i = 0; i <= 10; ++i)
            QCOMPARE(weighing.boxText[size_t(i)], QString());
        for (int i = 0; i < 10; ++i)
            QVERIFY(!weighing.boxVisible[size_t(i)]);
        QCOMPARE(weighing.LineStatus[WeighingModel::kOverall], qint16(OverallStatus::Idle));
    }
    // Runs the all-lights-off sweep to its end and returns the frames it wrote.
    QList<QByteArray> runSweep() {
        lightPort.writes.clear();
        for (int i = 0; i < 200 && timer5.enabled(); ++i) {
            busClock.advanceMs(10);
            lightBus.tick();
        }
        return lightPort.writes;
    }
};

} // namespace

class TestQueue : public QObject {
    Q_OBJECT
private slots:
    void refreshListsNewestFirst() {
        Bench b;
        b.addRecipes({"A", "B", "C"});
        QSignalSpy spy(&b.commands, &QueueCommands::recipeListChanged);
        b.commands.refresh();
        QVERIFY(b.said.none());
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toStringList(),
                 (QStringList{rawEntry("C"), rawEntry("B"), rawEntry("A")}));
    }

    void queueTopRecipeCopiesLastRecord() {
        Bench b;
        b.addRecipes({"A", "B", "C"});
        b.commands.queue(0, rawEntry("C"));
        QVERIFY(b.said.none());
        const ReadAllJobsResult q = ReadAllJobs(b.queue());
        QCOMPARE(q.records.size(), 1);
        QCOMPARE(q.records.at(0), ReadJob(b.quick(), 3).bytes);
        // The queue command leaves List2 to the sequencer's refresh.
        QVERIFY(b.weighing.queueEntries.isEmpty());
    }

    void queueTwiceGivesTwoIdenticalRecords() {
        Bench b;
        b.addRecipes({"A", "B", "C"});
        b.commands.queue(2, rawEntry("A"));
        QVERIFY(b.said.none());
        b.commands.queue(2, rawEntry("A"));
        QVERIFY(b.said.none());
        const ReadAllJobsResult q = ReadAllJobs(b.queue());
        QCOMPARE(q.records.size(), 2);
        QCOMPARE(q.records.at(0), ReadJob(b.quick(), 1).bytes);
        QCOMPARE(q.records.at(1), q.records.at(0));
    }

    void queueWithNothingChosenDoesNothing() {
        Bench b;
        b.addRecipes({"A"});
        b.commands.queue(-1, QString());
        QVERIFY(b.said.none());
        QVERIFY(!b.dir.exists(QStringLiteral("START_DISPEN.txt")));
        QCOMPARE(b.status.text(), QString());
    }

    void queueRefusesAStaleListPosition_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("entry");
        // The list was filled as C, B, A; then an import appended D, so position 0 is D.
        QTest::newRow("record appended since") << 0 << rawEntry("C");
        QTest::newRow("position past the end") << 4 << rawEntry("A");
        QTest::newRow("entry text differs") << 1 << rawEntry("X");
    }
    void queueRefusesAStaleListPosition() {
        QFETCH(int, position);
        QFETCH(QString, entry);
        Bench b;
        b.addRecipes({"A", "B", "C", "D"});
        QSignalSpy spy(&b.commands, &QueueCommands::recipeListChanged);
        b.commands.queue(position, entry);
        QCOMPARE(JobCount(b.queue()).count, 0);
        QCOMPARE(spy.count(), 1); // the list is refilled
        QCOMPARE(spy.at(0).at(0).toStringList().first(), rawEntry("D"));
        QVERIFY(b.status.text().contains(QStringLiteral("未排入")));
        QCOMPARE(b.said.texts().size(), 1); // said once
    }

    void queueIntoAnUnwritableQueueKeepsItAndSaysWhy() {
        Bench b;
        b.addRecipes({"A"});
        QVERIFY(QDir(b.dir.path())
                    .mkdir(QStringLiteral("START_DISPEN.txt"))); // cannot be opened as a file
        b.commands.queue(0, rawEntry("A"));
        QVERIFY(b.status.text().contains(QStringLiteral("排入計量失敗")));
        QCOMPARE(JobCount(b.quick()).count, 1);
    }

    void deleteEntry2Of3KeepsTheOthersInOrder() {
        Bench b;
        b.addQueued({"X", "Y", "Z"});
        b.weighing2ndLine(); // the sequencer weighs X; deleting Y must not disturb it
        QSignalSpy reset(&b.commands, &QueueCommands::sequencerReset);
        b.commands.deleteQueued(1, QStringLiteral("Y---B7"));
        QVERIFY(b.said.none());
        QCOMPARE(b.queuedOrders(), (QStringList{"X", "Z"}));
        QCOMPARE(b.weighing.queueEntries, (QStringList{"X---B7", "Z---B7"}));
        QCOMPARE(b.weighing.State, SequencerState::Weigh);
        QCOMPARE(b.weighing.Counter, 5);
        QVERIFY(b.weighing.boxVisible[0]);
        QCOMPARE(reset.count(), 0);
        QVERIFY(!QFile::exists(b.dir.file(QStringLiteral("START_DISPEN2.txt"))));
    }

    void deleteTheOnlyJobWhileItIsWeighed() {
        Bench b;
        b.withLightBus(true);
        b.addQueued({"A"});
        b.weighing2ndLine();
        QSignalSpy reset(&b.commands, &QueueCommands::sequencerReset);
        b.commands.deleteQueued(0, QStringLiteral("A---B7"));
        QVERIFY(b.said.none());
        QCOMPARE(QFileInfo(b.queue()).size(), 0);
        b.expectDisplayCleared();
        QCOMPARE(b.weighing.LineStatus[0], qint16(0)); // the blink phase
        for (int i = 1; i <= 10; ++i)
            QCOMPARE(b.weighing.LineStatus[size_t(i)], qint16(LineStatusCode::Idle));
        QCOMPARE(reset.count(), 1);
        QVERIFY(b.timer5.enabled()); // the line's light goes off with the sweep
        QCOMPARE(b.runSweep().size(), 16);
    }

    void deleteTheRunningJobWithOthersWaitingResetsTheSequencer() {
        Bench b;
        b.withLightBus(true);
        b.addQueued({"X", "Y", "Z"});
        b.weighing2ndLine();
        QSignalSpy reset(&b.commands, &QueueCommands::sequencerReset);
        b.commands.deleteQueued(0, QStringLiteral("X---B7"));
        QVERIFY(b.said.none());
        // Y and Z wait, untouched; the sequencer is idle and starts Y afresh.
        QCOMPARE(b.queuedOrders(), (QStringList{"Y", "Z"}));
        b.expectDisplayCleared();
        QCOMPARE(reset.count(), 1);
        QVERIFY(b.timer5.enabled());
    }

    void deleteOfAWaitingFirstJobWhileIdleLeavesTheSequencer() {
        Bench b;
        b.addQueued({"X", "Y"});
        b.weighing.prompt = QStringLiteral("kept");
        QSignalSpy reset(&b.commands, &QueueCommands::sequencerReset);
        b.commands.deleteQueued(0, QStringLiteral("X---B7"));
        QVERIFY(b.said.none());
        QCOMPARE(b.queuedOrders(), (QStringList{"Y"}));
        QCOMPARE(reset.count(), 0);
        QCOMPARE(b.weighing.prompt, QStringLiteral("kept"));
        QVERIFY(!b.timer5.enabled());
    }

    void deleteRefusesAnEntryThatNoLongerNamesItsRecord_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("entry");
        // List2 showed X, Y, Z; X was removed since by another program.
        QTest::newRow("records moved up") << 1 << QStringLiteral("Y---B7");
        QTest::newRow("position past the end") << 2 << QStringLiteral("Z---B7");
        QTest::newRow("same order, other barrel") << 0 << QStringLiteral("Y---B8");
    }
    void deleteRefusesAnEntryThatNoLongerNamesItsRecord() {
        QFETCH(int, position);
        QFETCH(QString, entry);
        Bench b;
        b.addQueued({"X", "Y", "Z"});
        QVERIFY(RemoveJob(b.queue(), b.dir.file(QStringLiteral("START_DISPEN2.txt")), 1).ok());
        b.commands.deleteQueued(position, entry);
        QCOMPARE(b.queuedOrders(), (QStringList{"Y", "Z"}));
        QCOMPARE(b.weighing.queueEntries, (QStringList{"Y---B7", "Z---B7"}));
        QVERIFY(b.status.text().contains(QStringLiteral("未刪除")));
        QCOMPARE(b.said.texts().size(), 1);
    }

    void deleteWithNothingChosenDoesNothing() {
        Bench b;
        b.addQueued({"X"});
        b.weighing2ndLine();
        b.commands.deleteQueued(-1, QString());
        QVERIFY(b.said.none());
        QCOMPARE(b.queuedOrders(), (QStringList{"X"}));
        QCOMPARE(b.weighing.State, SequencerState::Weigh);
    }

    void failedDeleteKeepsQueueAndWeighing() {
        Bench b;
        b.addQueued({"X", "Y"});
        b.weighing2ndLine();
        const QByteArray before = b.dir.read(QStringLiteral("START_DISPEN.txt"));
        QVERIFY(QDir(b.dir.path())
                    .mkdir(QStringLiteral("START_DISPEN2.txt"))); // the twin cannot be written
        b.commands.deleteQueued(0, QStringLiteral("X---B7"));
        QCOMPARE(b.dir.read(QStringLiteral("START_DISPEN.txt")), before);
        QCOMPARE(b.weighing.State, SequencerState::Weigh);
        QVERIFY(b.status.text().contains(QStringLiteral("刪除失敗")));
    }

    void cancelAllDuringWeighing() {
        Bench b;
        b.withLightBus(true);
        b.addQueued({"X", "Y"});
        b.weighing2ndLine();
        b.weighing.queueEntries = {"X---B7", "Y---B7"};
        QSignalSpy reset(&b.commands, &QueueCommands::sequencerReset);
        b.commands.cancelAll();
        QVERIFY(b.said.none());
        QVERIFY(!b.dir.exists(QStringLiteral("START_DISPEN.txt")));
        b.expectDisplayCleared();
        QVERIFY(b.weighing.queueEntries.isEmpty());
        QCOMPARE(reset.count(), 1);
        const QList<QByteArray> frames = b.runSweep();
        QCOMPARE(frames.size(), 16);
        QCOMPARE(hex(frames.first()), hex(LightBus::frame(8, LightBus::ModuleOff)));
    }

    void cancelAllSweepsOnlyAnOpenLightBus_data() {
        QTest::addColumn<bool>("configured");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("sweep");
        QTest::newRow("no light bus") << false << false << false;
        QTest::newRow("configured, port not open (failed start-up)") << true << false << false;
        QTest::newRow("configured and open") << true << true << true;
    }
    void cancelAllSweepsOnlyAnOpenLightBus() {
        QFETCH(bool, configured);
        QFETCH(bool, open);
        QFETCH(bool, sweep);
        Bench b;
        if (configured)
            b.withLightBus(open);
        b.weighing2ndLine();
        b.commands.cancelAll(); // no queue file is not an error
        QVERIFY(b.said.none());
        QCOMPARE(b.timer5.enabled(), sweep);
        b.expectDisplayCleared();
        QVERIFY(b.lightPort.writes.isEmpty());
    }

    void failedCancelAllKeepsQueueAndWeighing() {
        Bench b;
        b.weighing2ndLine();
        // A queue that cannot be deleted (here a folder in its place, with content).
        QVERIFY(QDir(b.dir.path()).mkpath(QStringLiteral("START_DISPEN.txt/x")));
        b.commands.cancelAll();
        QVERIFY(b.dir.exists(QStringLiteral("START_DISPEN.txt")));
        QCOMPARE(b.weighing.State, SequencerState::Weigh);
        QVERIFY(b.weighing.boxVisible[0]);
        QVERIFY(b.status.text().contains(QStringLiteral("取消全部失敗")));
    }
};

QTEST_GUILESS_MAIN(TestQueue)
#include "test_queue.moc"
