#include "tests/support/QueueRig.h"
#include "weighing/RunControl.h"
#include "weighing/StationTimers.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

namespace {

QString rawEntry(const QString& order) {
    return order.leftJustified(50, QLatin1Char(' '));
}

// The queue commands with the steps these tests share.
struct CommandsRig : QueueRig {
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
        CommandsRig b;
        b.addRecipes({"A", "B", "C"});
        QSignalSpy spy(&b.commands, &QueueCommands::recipeListChanged);
        b.commands.refresh();
        QVERIFY(b.said.once(QStringLiteral("共 3 筆")));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toStringList(),
                 (QStringList{rawEntry("C"), rawEntry("B"), rawEntry("A")}));
    }

    void queueTopRecipeCopiesLastRecord() {
        CommandsRig b;
        b.addRecipes({"A", "B", "C"});
        b.commands.queue(0, rawEntry("C"));
        QVERIFY(b.said.once(QStringLiteral("已排入計量 單號 C")));
        const ReadAllJobsResult q = readAllJobs(b.queue());
        QCOMPARE(q.records.size(), 1);
        QCOMPARE(q.records.at(0), ReadJob(b.quick(), 3).bytes);
        // The queue command leaves List2 to the sequencer's refresh.
        QVERIFY(b.weighing.queueEntries.isEmpty());
    }

    void queueTwiceGivesTwoIdenticalRecords() {
        CommandsRig b;
        b.addRecipes({"A", "B", "C"});
        b.commands.queue(2, rawEntry("A"));
        QVERIFY(b.said.once(QStringLiteral("單號 A")));
        b.commands.queue(2, rawEntry("A"));
        QVERIFY(b.said.once(QStringLiteral("單號 A")));
        const ReadAllJobsResult q = readAllJobs(b.queue());
        QCOMPARE(q.records.size(), 2);
        QCOMPARE(q.records.at(0), ReadJob(b.quick(), 1).bytes);
        QCOMPARE(q.records.at(1), q.records.at(0));
    }

    void queueWithNothingChosenDoesNothing() {
        CommandsRig b;
        b.addRecipes({"A"});
        b.commands.queue(-1, QString());
        QVERIFY(b.said.once(QStringLiteral("未排入")));
        QVERIFY(!b.dir.exists(QStringLiteral("START_DISPEN.txt")));
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
        CommandsRig b;
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
        CommandsRig b;
        b.addRecipes({"A"});
        QVERIFY(QDir(b.dir.path())
                    .mkdir(QStringLiteral("START_DISPEN.txt"))); // cannot be opened as a file
        b.commands.queue(0, rawEntry("A"));
        QVERIFY(b.status.text().contains(QStringLiteral("排入計量失敗")));
        QCOMPARE(JobCount(b.quick()).count, 1);
    }

    void deleteEntry2Of3KeepsTheOthersInOrder() {
        CommandsRig b;
        b.addQueued({"X", "Y", "Z"});
        b.weighing2ndLine(); // the sequencer weighs X; deleting Y must not disturb it
        QSignalSpy reset(&b.commands, &QueueCommands::sequencerReset);
        b.commands.deleteQueued(1, QStringLiteral("Y---B7"));
        QVERIFY(b.said.once(QStringLiteral("已刪除 單號 Y (計量佇列第 2 筆)")));
        QCOMPARE(b.queuedOrders(), (QStringList{"X", "Z"}));
        QCOMPARE(b.weighing.queueEntries, (QStringList{"X---B7", "Z---B7"}));
        QCOMPARE(b.weighing.State, SequencerState::Weigh);
        QCOMPARE(b.weighing.Counter, 5);
        QVERIFY(b.weighing.boxVisible[0]);
        QCOMPARE(reset.count(), 0);
        QVERIFY(!QFile::exists(b.dir.file(QStringLiteral("START_DISPEN2.txt"))));
    }

    void deleteTheOnlyJobWhileItIsWeighed() {
        CommandsRig b;
        b.withLightBus(true);
        b.addQueued({"A"});
        b.weighing2ndLine();
        QSignalSpy reset(&b.commands, &QueueCommands::sequencerReset);
        b.commands.deleteQueued(0, QStringLiteral("A---B7"));
        QVERIFY(b.said.once(QStringLiteral("單號 A (計量佇列第 1 筆), 計量已中止")));
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
        CommandsRig b;
        b.withLightBus(true);
        b.addQueued({"X", "Y", "Z"});
        b.weighing2ndLine();
        QSignalSpy reset(&b.commands, &QueueCommands::sequencerReset);
        b.commands.deleteQueued(0, QStringLiteral("X---B7"));
        QVERIFY(b.said.once(QStringLiteral("單號 X (計量佇列第 1 筆), 計量已中止")));
        // Y and Z wait, untouched; the sequencer is idle and starts Y afresh.
        QCOMPARE(b.queuedOrders(), (QStringList{"Y", "Z"}));
        b.expectDisplayCleared();
        QCOMPARE(reset.count(), 1);
        QVERIFY(b.timer5.enabled());
    }

    void deleteOfAWaitingFirstJobWhileIdleLeavesTheSequencer() {
        CommandsRig b;
        b.addQueued({"X", "Y"});
        b.weighing.prompt = QStringLiteral("kept");
        QSignalSpy reset(&b.commands, &QueueCommands::sequencerReset);
        b.commands.deleteQueued(0, QStringLiteral("X---B7"));
        QVERIFY(b.said.once(QStringLiteral("單號 X (計量佇列第 1 筆)")));
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
        CommandsRig b;
        b.addQueued({"X", "Y", "Z"});
        QVERIFY(RemoveJob(b.queue(), b.dir.file(QStringLiteral("START_DISPEN2.txt")), 1).ok());
        b.commands.deleteQueued(position, entry);
        QCOMPARE(b.queuedOrders(), (QStringList{"Y", "Z"}));
        QCOMPARE(b.weighing.queueEntries, (QStringList{"Y---B7", "Z---B7"}));
        QVERIFY(b.status.text().contains(QStringLiteral("未刪除")));
        QCOMPARE(b.said.texts().size(), 1);
    }

    void deleteWithNothingChosenDoesNothing() {
        CommandsRig b;
        b.addQueued({"X"});
        b.weighing2ndLine();
        b.commands.deleteQueued(-1, QString());
        QVERIFY(b.said.once(QStringLiteral("未刪除")));
        QCOMPARE(b.queuedOrders(), (QStringList{"X"}));
        QCOMPARE(b.weighing.State, SequencerState::Weigh);
    }

    void failedDeleteKeepsQueueAndWeighing() {
        CommandsRig b;
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
        CommandsRig b;
        b.withLightBus(true);
        b.addQueued({"X", "Y"});
        b.weighing2ndLine();
        b.weighing.queueEntries = {"X---B7", "Y---B7"};
        QSignalSpy reset(&b.commands, &QueueCommands::sequencerReset);
        b.commands.cancelAll();
        QVERIFY(b.said.once(QStringLiteral("已取消全部 2 筆 (單號 X, Y), 計量已中止")));
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
        CommandsRig b;
        if (configured)
            b.withLightBus(open);
        b.weighing2ndLine();
        b.commands.cancelAll(); // no queue file is not an error
        QVERIFY(b.said.once(QStringLiteral("沒有可取消的工作, 計量已中止")));
        QCOMPARE(b.timer5.enabled(), sweep);
        b.expectDisplayCleared();
        QVERIFY(b.lightPort.writes.isEmpty());
    }

    void failedCancelAllKeepsQueueAndWeighing() {
        CommandsRig b;
        b.weighing2ndLine();
        // A queue that cannot be deleted (here a folder in its place, with content).
        QVERIFY(QDir(b.dir.path()).mkpath(QStringLiteral("START_DISPEN.txt/x")));
        b.commands.cancelAll();
        QVERIFY(b.dir.exists(QStringLiteral("START_DISPEN.txt")));
        QCOMPARE(b.weighing.State, SequencerState::Weigh);
        QVERIFY(b.weighing.boxVisible[0]);
        QVERIFY(b.status.text().contains(QStringLiteral("取消全部失敗")));
    }

    // Every command answers once: what it did, which order and how many, or why it did
    // nothing. Recipes A, B, C in the store (C on top); `queued` waits in the queue.
    void everyCommandAnswers_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("queued");
        QTest::addColumn<bool>("weighing");
        QTest::addColumn<QString>("answer");
        const QStringList xy{"X", "Y"};
        QTest::newRow("refresh") << "refresh" << xy << false << "配方清單已更新, 共 3 筆";
        QTest::newRow("queue, nothing chosen")
            << "queue -1" << xy << false << "請先在配方清單選擇一筆, 未排入";
        QTest::newRow("queue the top recipe") << "queue 0" << xy << false << "已排入計量 單號 C";
        QTest::newRow("DEL, nothing chosen")
            << "delete -1" << xy << true << "請先在計量佇列選擇一筆, 未刪除";
        QTest::newRow("DEL a waiting job")
            << "delete 1" << xy << true << "已刪除 單號 Y (計量佇列第 2 筆)";
        QTest::newRow("DEL the job being weighed")
            << "delete 0" << xy << true << "已刪除 單號 X (計量佇列第 1 筆), 計量已中止";
        QTest::newRow("DEL the first job while idle")
            << "delete 0" << xy << false << "已刪除 單號 X (計量佇列第 1 筆)";
        QTest::newRow("cancel all, empty queue")
            << "cancel" << QStringList() << false << "計量佇列是空的, 沒有可取消的工作";
        QTest::newRow("cancel all while weighing")
            << "cancel" << xy << true << "已取消全部 2 筆 (單號 X, Y), 計量已中止";
        QTest::newRow("cancel all of seven, five named")
            << "cancel" << QStringList{"J1", "J2", "J3", "J4", "J5", "J6", "J7"} << false
            << "已取消全部 7 筆 (單號 J1, J2, J3, J4, J5 等)";
    }
    void everyCommandAnswers() {
        QFETCH(QString, command);
        QFETCH(QStringList, queued);
        QFETCH(bool, weighing);
        QFETCH(QString, answer);
        CommandsRig b;
        b.addRecipes({"A", "B", "C"});
        b.addQueued(queued);
        if (weighing)
            b.weighing2ndLine();
        const int p = command.section(QLatin1Char(' '), 1).toInt();
        if (command == "refresh")
            b.commands.refresh();
        else if (command.startsWith("queue"))
            b.commands.queue(p, p < 0 ? QString() : rawEntry("C"));
        else if (command.startsWith("delete"))
            b.commands.deleteQueued(p, b.weighing.queueEntries.value(p));
        else
            b.commands.cancelAll();
        QCOMPARE(b.said.texts(), QStringList{answer});
    }

    // RUN and STOP say what they did, also when there was nothing to do.
    void runAndStopAnswer_data() {
        QTest::addColumn<QStringList>("menu");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("answer");
        QTest::newRow("STOP") << QStringList{"STOP"} << false << "計量已暫停 (STOP), 按 RUN 繼續";
        QTest::newRow("STOP twice")
            << QStringList{"STOP", "STOP"} << false << "計量本來就已暫停 (STOP), 按 RUN 繼續";
        QTest::newRow("RUN while running")
            << QStringList{"RUN"} << true << "計量本來就在進行 (RUN)";
        QTest::newRow("STOP, RUN") << QStringList{"STOP", "RUN"} << true << "計量繼續進行 (RUN)";
    }
    void runAndStopAnswer() {
        QFETCH(QStringList, menu);
        QFETCH(bool, running);
        QFETCH(QString, answer);
        StationTimers timers;
        timers.Timer2.setEnabled(true); // as the start-up leaves it
        RunControl run(timers);
        QString said;
        for (const QString& item : menu)
            said = item == "RUN" ? run.runCommand() : run.stopCommand();
        QCOMPARE(said, answer);
        QCOMPARE(timers.Timer2.enabled(), running);
    }
};

QTEST_GUILESS_MAIN(TestQueue)
#include "test_queue.moc"
