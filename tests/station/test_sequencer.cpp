#include "common/Clock.h"
#include "common/StatusLine.h"
#include "config/StationSettings.h"
#include "devices/BalanceReadings.h"
#include "devices/LightBus.h"
#include "devices/LightMap.h"
#include "devices/MemorySerialPort.h"
#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "jobs/UndoStore.h"
#include "station/QueueCommands.h"
#include "tests/support/Reports.h"
#include "tests/support/SequencerRig.h"
#include "tests/support/TestSupport.h"
#include "weighing/Completion.h"
#include "weighing/RunControl.h"
#include "weighing/Sequencer.h"
#include "weighing/StationTimers.h"
#include "weighing/WeighingEvents.h"
#include "weighing/WeighingModel.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <memory>

namespace {

struct Line {
    QString code, weight, b01 = {};
};

JobRecord makeJob(const QString& orderNo, const QList<Line>& lines) {
    JobRecord j;
    j.OrderNo = orderNo;
    j.OutputPos = QStringLiteral("7");
    for (int i = 0; i < lines.size(); ++i) {
        j.Code[size_t(i + 1)] = lines[i].code;
        j.Weight[size_t(i + 1)] = lines[i].weight;
        j.B01[size_t(i + 1)] = lines[i].b01;
    }
    return j;
}

struct Rig : SequencerRig {
    // The main window's queue commands on the same files and display.
    QueueCommands commands{{dir.file(QStringLiteral("QUICK.txt")), queue(),
                            dir.file(QStringLiteral("START_DISPEN2.txt"))},
                           model,
                           settings,
                           comm3,
                           bus,
                           status};

    // From idle to weighing line `line` with both balances at 0 (the 30-tick zero wait).
    bool toWeighing() { return until(SequencerState::Weigh, 400); }
    // Weighs the current line by putting its target on its balance until it is accepted.
    void weighCurrentLine() {
        const int n = model.Line;
        const Balance b = LineBalanceCode::balance(model.LineBalance[size_t(n - 1)]);
        setReading(b, model.LineTable[lineSlot(n, LineSlot::Target)]);
        ticks(Sequencer::kSettleTicks);
        setReading(b, QStringLiteral("0"));
    }
    // Weighs every line of the running job on target and runs to idle.
    void weighWholeJob() {
        for (int guard = 0; guard < 20 && model.State != SequencerState::Finish; ++guard) {
            if (!until(SequencerState::Weigh, 400))
                return;
            weighCurrentLine();
            ticks(1); // state 8
        }
        until(SequencerState::Idle, 50);
    }
    QList<HistoryRecord> history(const QString& month = QStringLiteral("202403")) const {
        QList<HistoryRecord> out;
        const QByteArray all = dir.read(QStringLiteral("data/DATE_%1.txt").arg(month));
        for (int off = 0; off + HistoryRecord::kLength <= all.size(); off += HistoryRecord::kLength)
            out << HistoryRecord::decode(all.mid(off, HistoryRecord::kLength));
        return out;
    }
};

} // namespace

namespace {
// The station's files as a crash left them, moved (the same files: a rename keeps the
// queue file's identity) into the working folder of a fresh station.
void restartInto(const Rig& crashed, Rig& next) {
    for (const QString& f :
         {QStringLiteral("START_DISPEN.txt"), QString::fromLatin1(Completion::kJournal)})
        if (crashed.dir.exists(f))
            QVERIFY(QFile::rename(crashed.dir.file(f), next.dir.file(f)));
}
} // namespace

class TestSequencer : public QObject {
    Q_OBJECT
private slots:
    void balanceChoice_data();
    void balanceChoice();
    void tolerance_data();
    void tolerance();
    void settlingCountRestartsWhenTheReadingLeaves();
    void zeroWaits_data();
    void zeroWaits();
    void startsOnARefreshTick();
    void lineChangeAndLights();
    void lightBusBackRelightsTheLine();
    void noLightsAfterAFailedStartup();
    void tenLines();
    void gapLineIsWeighedInItsOwnSlot();
    void messagesInTheSecondLanguage();
    void staleBalanceHoldsTheCount_data();
    void staleBalanceHoldsTheCount();
    void quietBalanceHoldsTheSettling();
    void whatTheBalanceHoldsIsWhatARestartCredits_data();
    void whatTheBalanceHoldsIsWhatARestartCredits();
    void balanceMarksHoldTheSettling_data();
    void balanceMarksHoldTheSettling();
    void changeBarrelKeepsTheAmount_data();
    void changeBarrelKeepsTheAmount();
    void changeBarrelCannotBeTakenBackAfterTheZero();
    void changeBarrelGivesTheNewBarrelTheFullZeroWait();
    void addAndDeductBox();
    void endOfJobRemovesInTheHistoryStep();
    void historyFailureKeepsTheJobAndRetries();
    void pendingFinishIsCompletedBeforeAnyJobStarts();
    void resumeRecordsTheAcceptedLinesAgainAsTimed();
    void resumeAfterRestart_data();
    void resumeAfterRestart();
    void faultyRecordIsSetAsideAndTheQueueGoesOn_data();
    void faultyRecordIsSetAsideAndTheQueueGoesOn();
    void delOfALaterJobKeepsTheResume();
    void journalOfAJobRemovedWhileDownIsDropped();
    void undoOfARemovalDuringWeighingResumesTheJob_data();
    void undoOfARemovalDuringWeighingResumesTheJob();
    void undoBehindAnotherJobResumesAtItsTurn();
    void aJournalThatCannotBeReinstatedIsSaid();
    void emptyFirstLineIsRemovedAtOnce();
    void unreadableQueueKeepsIdle();
    void printing_data();
    void printing();
    void jobDeletedWhileWeighedIsNotRemovedTwice();
};

void TestSequencer::balanceChoice_data() {
    QTest::addColumn<QString>("threshold");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("balance");
    QTest::newRow("equal goes large") << "1000"
                                      << "1000" << 1;
    QTest::newRow("just below goes small") << "1000"
                                           << "999.99" << 2;
    QTest::newRow("above") << "1000"
                           << "1000.01" << 1;
    QTest::newRow("blank threshold is 0") << ""
                                          << "0.5" << 1;
}

void TestSequencer::balanceChoice() {
    QFETCH(QString, threshold);
    QFETCH(QString, target);
    QFETCH(int, balance);
    Rig r;
    r.settings.setText(Setting::WeightDecision, threshold);
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("RED 01"), target}}));
    QVERIFY(r.until(SequencerState::AskContainer));
    QCOMPARE(r.model.LineBalance[0], balance);
    QCOMPARE(r.model.LineTable[lineSlot(1, LineSlot::Balance)], QString::number(balance));
    QCOMPARE(r.model.LineStatus[1], qint16(LineStatusCode::Waiting));
    QCOMPARE(r.model.boxText[0],
             QStringLiteral("RED 01\r\n\r\n%1\r\n%2")
                 .arg(target, balance == 1 ? QStringLiteral("大天平") : QStringLiteral("小天平")));
    r.ticks(1);
    QCOMPARE(r.model.prompt, balance == 1
                                 ? QStringLiteral("請在大天平(28KG)放上容器,按下歸零按鈕")
                                 : QStringLiteral("請在小天平(3000g)放上容器,按下歸零按鈕"));
    QCOMPARE(r.model.LineStatus[WeighingModel::kOverall], qint16(OverallStatus::Container));
}

void TestSequencer::tolerance_data() {
    QTest::addColumn<QString>("tolCount");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("reading");
    QTest::addColumn<int>("status"); // the line's status
    const int within = LineStatusCode::Within, over = LineStatusCode::TooMuch,
              under = LineStatusCode::Active;
    // Small balance (targets below 1000 g): tolerance steps of 0.01 g.
    QTest::newRow("small exact") << "2"
                                 << "10.00"
                                 << "10.00" << within;
    QTest::newRow("small inside") << "2"
                                  << "10.00"
                                  << "10.01" << within;
    QTest::newRow("small upper bound") << "2"
                                       << "10.00"
                                       << "10.02" << within;
    QTest::newRow("small lower bound") << "2"
                                       << "10.00"
                                       << "9.98" << within;
    QTest::newRow("small just over") << "2"
                                     << "10.00"
                                     << "10.03" << over;
    QTest::newRow("small just under") << "2"
                                      << "10.00"
                                      << "9.97" << under;
    QTest::newRow("small too much") << "2"
                                    << "10.00"
                                    << "10.05" << over;
    QTest::newRow("small too little") << "2"
                                      << "10.00"
                                      << "9.95" << under;
    QTest::newRow("binary bound case") << "2"
                                       << "0.12"
                                       << "0.14" << within;
    QTest::newRow("binary lower bound") << "2"
                                        << "0.12"
                                        << "0.10" << within;
    QTest::newRow("blank count is 2") << ""
                                      << "10.00"
                                      << "10.02" << within;
    QTest::newRow("blank count is 2, over") << ""
                                            << "10.00"
                                            << "10.03" << over;
    QTest::newRow("count 5") << "5"
                             << "10.00"
                             << "10.05" << within;
    QTest::newRow("count 0 exact only") << "0"
                                        << "10.00"
                                        << "10.01" << over;
    // Large balance: tolerance steps of 0.1 g.
    QTest::newRow("large upper bound") << "2"
                                       << "2000"
                                       << "2000.2" << within;
    QTest::newRow("large lower bound") << "2"
                                       << "2000"
                                       << "1999.8" << within;
    QTest::newRow("large just over") << "2"
                                     << "2000"
                                     << "2000.3" << over;
    QTest::newRow("large just under") << "2"
                                      << "2000"
                                      << "1999.7" << under;
    QTest::newRow("large bound 0.3") << "3"
                                     << "1000.1"
                                     << "1000.4" << within;
    QTest::newRow("balance digits") << "2"
                                    << "12.34"
                                    << "0012.35" << within;
    QTest::newRow("negative reading") << "2"
                                      << "12.34"
                                      << "-12.34" << under;
}

void TestSequencer::tolerance() {
    QFETCH(QString, tolCount);
    QFETCH(QString, target);
    QFETCH(QString, reading);
    QFETCH(int, status);
    Rig r;
    r.settings.setText(Setting::ToleranceCount, tolCount);
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("5")},
                                         {QStringLiteral("C2"), QStringLiteral("5")},
                                         {QStringLiteral("RED"), target}}));
    for (int line = 1; line < 3; ++line) {
        QVERIFY(r.toWeighing());
        r.weighCurrentLine();
        r.ticks(1);
    }
    QVERIFY(r.toWeighing());
    QCOMPARE(r.model.Line, 3);
    const Balance b = LineBalanceCode::balance(r.model.LineBalance[2]);
    r.setReading(b, reading);
    r.ticks(1);
    QCOMPARE(r.model.LineStatus[3], qint16(status));
    const QString shown = Decimal::parse(reading).toString();
    QCOMPARE(r.model.LineTable[lineSlot(3, LineSlot::Actual)], shown);
    QCOMPARE(r.model.boxText[2],
             QStringLiteral("RED\r\n\r\n%1 => %2\r\n%3")
                 .arg(target, shown,
                      b == Balance::Large ? QStringLiteral("大天平") : QStringLiteral("小天平")));
    switch (status) {
    case LineStatusCode::Within:
        QCOMPARE(r.model.LineStatus[WeighingModel::kOverall], qint16(OverallStatus::Within));
        QCOMPARE(r.model.prompt, QStringLiteral("染料剛好 請等待天平穩定"));
        QCOMPARE(r.model.Counter, 1);
        break;
    case LineStatusCode::TooMuch:
        QCOMPARE(r.model.LineStatus[WeighingModel::kOverall], qint16(OverallStatus::TooMuch));
        QCOMPARE(r.model.prompt, QStringLiteral("染料超過 請取出第 ( 3 ) 張染料卡指定染料"));
        QCOMPARE(r.model.Counter, 0);
        break;
    default:
        QCOMPARE(r.model.LineStatus[WeighingModel::kOverall], qint16(OverallStatus::TooLittle));
        QCOMPARE(r.model.prompt, QStringLiteral("染料不足 請加入第 ( 3 ) 張染料卡指定染料"));
        QCOMPARE(r.model.Counter, 0);
    }
}

void TestSequencer::settlingCountRestartsWhenTheReadingLeaves() {
    Rig r;
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("10")},
                                         {QStringLiteral("C2"), QStringLiteral("20")}}));
    QVERIFY(r.toWeighing());
    r.setReading(Balance::Small, QStringLiteral("10"));
    r.ticks(14);
    r.setReading(Balance::Small, QStringLiteral("10.5")); // the 15th tick is out of tolerance
    r.ticks(1);
    QCOMPARE(r.model.Counter, 0);
    r.setReading(Balance::Small, QStringLiteral("10"));
    r.ticks(15);
    QCOMPARE(r.model.State, SequencerState::Weigh);
    QCOMPARE(r.model.Counter, 15);
    r.ticks(1); // the 16th tick in a row accepts
    QCOMPARE(r.model.State, SequencerState::NextLine);
    QCOMPARE(r.model.Counter, 0);
    QCOMPARE(r.model.LineStatus[1], qint16(LineStatusCode::Idle));
    QCOMPARE(r.model.LineTable[lineSlot(1, LineSlot::Actual)], QStringLiteral("10"));
    r.ticks(1);
    QCOMPARE(r.model.State, SequencerState::PrepareLine);
    QCOMPARE(r.model.Line, 2);
}

void TestSequencer::zeroWaits_data() {
    QTest::addColumn<QString>("atPrompt");  // reading when the container is asked for
    QTest::addColumn<int>("zeroAfter");     // ticks of state 4/5 before the reading is 0
    QTest::addColumn<int>("expectedTicks"); // ticks in state 4/5 until the light comes on
    QTest::newRow("already 0 waits 30") << "0" << 0 << 30;
    QTest::newRow("zeroed at once waits 3") << "5.00" << 0 << 3;
    // The zero must hold for 3 ticks: a pan emptied for a moment is not a zeroed container.
    QTest::newRow("zeroed on tick 2 holds 3") << "5.00" << 1 << 4;
    QTest::newRow("zeroed on tick 10 holds 3") << "5.00" << 9 << 12;
}

void TestSequencer::zeroWaits() {
    QFETCH(QString, atPrompt);
    QFETCH(int, zeroAfter);
    QFETCH(int, expectedTicks);
    Rig r;
    r.setReading(Balance::Small, atPrompt);
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("10")}}));
    QVERIFY(r.until(SequencerState::AskContainer));
    r.ticks(1);
    QCOMPARE(r.model.State, atPrompt == QStringLiteral("0") ? 4 : 5);
    int n = 0;
    while (r.model.State != SequencerState::BeginWeighing && n < 100) {
        if (n == zeroAfter)
            r.setReading(Balance::Small, QStringLiteral("0"));
        r.ticks(1);
        ++n;
    }
    QCOMPARE(n, expectedTicks);
    QCOMPARE(r.model.LineStatus[1], qint16(LineStatusCode::Waiting));
    r.ticks(1);
    QCOMPARE(r.model.State, SequencerState::Weigh);
    QCOMPARE(r.model.LineStatus[1], qint16(LineStatusCode::Active));
}

void TestSequencer::startsOnARefreshTick() {
    Rig r;
    r.ticks(2);
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("10")}}));
    r.ticks(1);
    QCOMPARE(r.model.State, SequencerState::Idle);
    r.ticks(1); // the fourth tick refreshes the queue and starts the job
    QCOMPARE(r.model.State, SequencerState::PrepareLine);
    QCOMPARE(r.model.queueEntries, QStringList{QStringLiteral("A1---7")});
    QCOMPARE(r.model.boxText[10], QStringLiteral("A1"));
    QVERIFY(r.model.boxVisible[0]);
}

void TestSequencer::lineChangeAndLights() {
    Rig r;
    r.settings.setText(Setting::LightPort, QStringLiteral("3"));
    r.lightMap.setCode(1, QStringLiteral("RED"));
    r.lightMap.setCode(120, QStringLiteral("BLUE"));
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("RED 01"), QStringLiteral("10")},
                                         {QStringLiteral("BLUE"), QStringLiteral("20")},
                                         {QStringLiteral("NOWHERE"), QStringLiteral("30")}}));
    QVERIFY(r.until(SequencerState::PrepareLine));
    QVERIFY(r.timers.Timer5.enabled()); // all lights off at the start
    QCOMPARE(r.model.LineLight[1], 1);
    QCOMPARE(r.model.LineLight[2], 120);
    QCOMPARE(r.model.LineLight[3], 0);
    r.timers.Timer5.setEnabled(false);
    QVERIFY(r.until(SequencerState::Weigh));
    QCOMPARE(hex(r.comm3.allWritten()), QStringLiteral("01 05 00 00 FF 00 8C 3A"));
    r.comm3.writes.clear();
    r.weighCurrentLine();
    r.ticks(2); // state 8, then line 2 is prepared and line 1's light goes off
    QCOMPARE(r.model.Line, 2);
    QCOMPARE(hex(r.comm3.allWritten()), QStringLiteral("01 05 00 00 00 00 CD CA"));
    r.comm3.writes.clear();
    QVERIFY(r.until(SequencerState::Weigh));
    QCOMPARE(hex(r.comm3.allWritten()),
             QStringLiteral("0F 05 00 07 FF 00 ") + hex(r.comm3.allWritten().right(2)));
    QCOMPARE(r.comm3.allWritten(), LightBus::frame(120, LightBus::On));
    r.comm3.writes.clear();
    r.weighCurrentLine();
    QVERIFY(r.until(SequencerState::Weigh));
    // Line 3's dye has no shelf position: light 120 goes off, nothing comes on.
    QCOMPARE(r.comm3.writes, QList<QByteArray>{LightBus::frame(120, LightBus::Off)});
    r.weighCurrentLine();
    QVERIFY(r.until(SequencerState::Finish));
    r.ticks(1);
    QVERIFY(r.timers.Timer5.enabled()); // and all lights off at the end
}

// The light-bus adapter pulled while a line is weighed and put back: the line's shelf,
// dark after the adapter came back, is lit again, however many opens failed meanwhile.
void TestSequencer::lightBusBackRelightsTheLine() {
    Rig r;
    r.settings.setText(Setting::LightPort, QStringLiteral("3"));
    r.lightMap.setCode(9, QStringLiteral("RED"));
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("RED"), QStringLiteral("10")}}));
    QVERIFY(r.until(SequencerState::Weigh));
    r.timers.Timer5.setEnabled(false);
    r.comm3.writes.clear();
    r.comm3.lost = true;
    r.comm3.failOpen = true;
    r.ticks(5);
    QVERIFY(r.comm3.writes.isEmpty());
    r.comm3.failOpen = false;
    r.ticks(1);
    QCOMPARE(r.comm3.writes, QList<QByteArray>{LightBus::frame(9, LightBus::On)});
    r.ticks(5);
    QCOMPARE(r.comm3.writes.size(), 1); // once
}

void TestSequencer::noLightsAfterAFailedStartup() {
    Rig r;
    r.settings.setText(Setting::LightPort, QStringLiteral("3"));
    r.lightMap.setCode(1, QStringLiteral("RED"));
    r.run.failStartup();
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("RED"), QStringLiteral("10")}}));
    r.weighWholeJob();
    QCOMPARE(r.model.State, SequencerState::Idle);
    QVERIFY(r.comm3.writes.isEmpty());
    QVERIFY(!r.timers.Timer5.enabled());
    QCOMPARE(r.history().size(), 1);
}

void TestSequencer::tenLines() {
    Rig r;
    QList<Line> lines;
    for (int i = 1; i <= 10; ++i)
        lines << Line{QStringLiteral("D%1").arg(i), QStringLiteral("%1.5").arg(i * 150),
                      QStringLiteral("b%1").arg(i)};
    r.add(makeJob(QStringLiteral("TEN"), lines));
    r.add(makeJob(QStringLiteral("NEXT"), {{QStringLiteral("X"), QStringLiteral("1")}}));
    QList<int> weighed;
    for (int guard = 0; guard < 12 && r.model.State != SequencerState::Finish; ++guard) {
        QVERIFY(r.toWeighing());
        weighed << r.model.Line;
        r.weighCurrentLine();
        r.ticks(1);
    }
    QCOMPARE(weighed, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    QVERIFY(r.until(SequencerState::Idle, 20));
    QCOMPARE(r.queued(), 1);
    const QList<HistoryRecord> h = r.history();
    QCOMPARE(h.size(), 1);
    QCOMPARE(h[0].OrderNo, QStringLiteral("TEN"));
    for (int i = 1; i <= 10; ++i) {
        QCOMPARE(h[0].Code[size_t(i)], QStringLiteral("D%1").arg(i));
        QCOMPARE(h[0].Target[size_t(i)], QStringLiteral("%1.5").arg(i * 150));
        QCOMPARE(h[0].Actual[size_t(i)], QStringLiteral("%1.5").arg(i * 150));
        QCOMPARE(h[0].B01[size_t(i)], QStringLiteral("b%1").arg(i));
    }
}

void TestSequencer::gapLineIsWeighedInItsOwnSlot() {
    Rig r;
    r.settings.setText(Setting::LightPort, QStringLiteral("3"));
    r.lightMap.setCode(2, QStringLiteral("B"));
    r.lightMap.setCode(4, QStringLiteral("D"));
    r.add(makeJob(QStringLiteral("GAP"), {{QStringLiteral("A"), QStringLiteral("1")},
                                          {QStringLiteral("B"), QStringLiteral("2")},
                                          {QString(), QString()},
                                          {QStringLiteral("D"), QStringLiteral("4")}}));
    QVERIFY(r.until(SequencerState::PrepareLine));
    QVERIFY(r.model.boxVisible[3]);
    QVERIFY(r.model.boxText[2].isEmpty());
    QCOMPARE(r.model.LineStatus[4], qint16(LineStatusCode::Waiting));
    QList<int> weighed;
    for (int guard = 0; guard < 5 && r.model.State != SequencerState::Finish; ++guard) {
        QVERIFY(r.toWeighing());
        weighed << r.model.Line;
        r.comm3.writes.clear();
        r.setReading(Balance::Small, QStringLiteral("0.5"));
        r.ticks(1);
        if (r.model.Line == 4)
            QCOMPARE(r.model.prompt, QStringLiteral("染料不足 請加入第 ( 4 ) 張染料卡指定染料"));
        r.weighCurrentLine();
        r.ticks(1);
    }
    QCOMPARE(weighed, (QList<int>{1, 2, 4}));
    QVERIFY(r.until(SequencerState::Idle, 20));
    const QList<HistoryRecord> h = r.history();
    QCOMPARE(h.size(), 1);
    QCOMPARE(h[0].Code[2], QStringLiteral("B"));
    QVERIFY(h[0].Code[3].isEmpty());
    QVERIFY(h[0].Actual[3].isEmpty());
    QCOMPARE(h[0].Code[4], QStringLiteral("D"));
    QCOMPARE(h[0].Actual[4], QStringLiteral("4"));
    QCOMPARE(r.queued(), 0);
}

void TestSequencer::messagesInTheSecondLanguage() {
    Rig r;
    r.settings.setText(Setting::Language, QStringLiteral("1"));
    for (int i = 0; i < 9; ++i)
        r.model.Label3[size_t(i)] = QStringLiteral("<L%1>").arg(i);
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("2000")},
                                         {QStringLiteral("C2"), QStringLiteral("5")},
                                         {QStringLiteral("C3"), QStringLiteral("5")}}));
    QVERIFY(r.until(SequencerState::ZeroAlready));
    QCOMPARE(r.model.prompt, QStringLiteral("<L3>"));
    QVERIFY(r.model.boxText[0].endsWith(QStringLiteral("\r\n<L0>")));
    QVERIFY(r.model.boxText[1].endsWith(QStringLiteral("\r\n<L1>")));
    QVERIFY(r.toWeighing());
    r.setReading(Balance::Large, QStringLiteral("2000"));
    r.ticks(1);
    QCOMPARE(r.model.prompt, QStringLiteral("<L4>"));
    QVERIFY(r.model.boxText[0].endsWith(QStringLiteral(" => 2000\r\n<L0>")));
    r.ticks(15);
    r.setReading(Balance::Large, QStringLiteral("0"));
    QVERIFY(r.until(SequencerState::ZeroAlready));
    QCOMPARE(r.model.prompt, QStringLiteral("<L2>"));
    QVERIFY(r.toWeighing());
    r.weighCurrentLine();
    QVERIFY(r.toWeighing());
    QCOMPARE(r.model.Line, 3);
    r.setReading(Balance::Small, QStringLiteral("6"));
    r.ticks(1);
    QCOMPARE(r.model.prompt, QStringLiteral("<L7>3<L8>"));
    r.setReading(Balance::Small, QStringLiteral("4"));
    r.ticks(1);
    QCOMPARE(r.model.prompt, QStringLiteral("<L5>3<L6>"));

    // The built-in names are used when Language is anything but exactly "1".
    Rig plain;
    plain.settings.setText(Setting::Language, QStringLiteral(" 1"));
    plain.model.Label3[3] = QStringLiteral("<L3>");
    plain.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("2000")}}));
    QVERIFY(plain.until(SequencerState::ZeroAlready));
    QCOMPARE(plain.model.prompt, QStringLiteral("請在大天平(28KG)放上容器,按下歸零按鈕"));
}

void TestSequencer::staleBalanceHoldsTheCount_data() {
    QTest::addColumn<int>("state");
    QTest::newRow("asking for the container") << 3;
    QTest::newRow("already at 0") << 4;
    QTest::newRow("waiting for the zero") << 5;
    QTest::newRow("weighing") << 7;
}

void TestSequencer::staleBalanceHoldsTheCount() {
    QFETCH(int, state);
    Rig r;
    if (state == 5)
        r.setReading(Balance::Small, QStringLiteral("3"));
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("10")}}));
    QVERIFY(r.until(state, 400));
    if (state == 5)
        r.setReading(Balance::Small, QStringLiteral("0"));
    if (state == 7)
        r.setReading(Balance::Small, QStringLiteral("10"));
    r.ticks(state == 4 ? 10 : state == 7 ? 5 : 0);
    const int counter = r.model.Counter;
    r.readings.setLive(Balance::Small, false);
    r.ticks(100);
    QCOMPARE(r.model.State, state);
    QCOMPARE(r.model.Counter, counter);
    QCOMPARE(r.model.prompt, QStringLiteral("小天平沒有回應,請檢查天平連線"));
    r.readings.setLive(Balance::Small, true);
    r.ticks(1);
    QVERIFY(r.model.prompt != QStringLiteral("小天平沒有回應,請檢查天平連線"));
    if (state == 7) {
        r.ticks(9); // 5 + 1 + 9 = 15
        QCOMPARE(r.model.State, SequencerState::Weigh);
        r.ticks(1);
        QCOMPARE(r.model.State, SequencerState::NextLine);
    }
}

// A balance that stops sending is quiet before it is stale: a value that may be frozen
// never completes the settling, however long it stands within the tolerance.
void TestSequencer::quietBalanceHoldsTheSettling() {
    Rig r;
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("10")}}));
    QVERIFY(r.until(SequencerState::Weigh));
    r.setReading(Balance::Small, QStringLiteral("10"));
    r.ticks(6);
    r.readings.setQuiet(Balance::Small, true);
    r.ticks(30);
    QCOMPARE(r.model.State, SequencerState::Weigh);
    r.readings.setQuiet(Balance::Small, false);
    QVERIFY(r.until(SequencerState::NextLine, 16));
}

// The bench's mishaps on a 100 g line of the small balance, each followed by a stop and a
// restart on the same files: the restart credits what is in the container, never a cup
// and never less than the last tick's reading. Steps: "r X" the balance reads X, "t N" N
// ticks, "w" on to weighing, "dead"/"live" the balance goes silent / answers again,
// "overload" it says it is overloaded (its last weight still shown), "close" the station
// closes in order.
void TestSequencer::whatTheBalanceHoldsIsWhatARestartCredits_data() {
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("credited");
    QTest::addColumn<QString>("prompt"); // "" not checked
    QTest::newRow("cup put on in the countdown, poured on it")
        << "t 5|r 10|t 40|r 12.5|t 2" << 5 << "0"
        << "小天平讀數不是 0,請按下歸零按鈕";
    QTest::newRow("overloaded at 0 in the countdown") << "t 5|overload|t 40" << 5 << "0"
                                                      << "";
    QTest::newRow("cup in the countdown, then zeroed")
        << "t 5|r 10|t 3|r 0|t 3|w|r 2.5|t 1" << 7 << "2.5"
        << "";
    QTest::newRow("the first tick of a pour") << "w|r 1.67|t 1" << 7 << "1.67"
                                              << "";
    QTest::newRow("every change") << "w|r 5|t 1|r 7|t 1|r 8.01|t 1" << 7 << "8.01"
                                  << "";
    QTest::newRow("closed between ticks") << "w|r 5|t 1|r 11|close" << 7 << "11"
                                          << "";
    QTest::newRow("outage, back at the same reading")
        << "w|r 40|t 1|dead|t 20|r 40.01|live|t 1" << 7 << "40.01"
        << "";
    QTest::newRow("outage, back re-zeroed") << "w|r 40|t 1|dead|t 20|r 0|live|t 1" << 3 << "40"
                                            << "請在小天平(3000g)";
    QTest::newRow("outage, never back") << "w|r 40|t 1|dead|t 100" << 7 << "40"
                                        << "小天平沒有回應,請檢查天平連線";
    QTest::newRow("outage with a reading not ticked yet") << "w|r 40|t 1|r 42|dead|t 3" << 7 << "42"
                                                          << "";
}

void TestSequencer::whatTheBalanceHoldsIsWhatARestartCredits() {
    QFETCH(QString, steps);
    QFETCH(int, state);
    QFETCH(QString, credited);
    QFETCH(QString, prompt);
    Rig r;
    r.add(makeJob(QStringLiteral("M1"), {{QStringLiteral("C1"), QStringLiteral("100")}}));
    QVERIFY(r.until(SequencerState::ZeroAlready));
    for (const QString& step : steps.split(QLatin1Char('|'))) {
        const QString arg = step.section(QLatin1Char(' '), 1);
        if (step.startsWith(QLatin1String("r ")))
            r.setReading(Balance::Small, arg);
        else if (step.startsWith(QLatin1String("t ")))
            r.ticks(arg.toInt());
        else if (step == QLatin1String("w"))
            QVERIFY(r.toWeighing());
        else if (step == QLatin1String("close"))
            r.seq->close();
        else if (step == QLatin1String("overload")) {
            r.readings.setMarksOn(true);
            r.readings.setStability(Balance::Small, Stability::Overload);
        } else
            r.readings.setLive(Balance::Small, step == QLatin1String("live"));
    }
    QCOMPARE(r.model.State, state);
    if (!prompt.isEmpty())
        QVERIFY2(r.model.prompt.startsWith(prompt), qPrintable(r.model.prompt));
    Rig next;
    restartInto(r, next);
    QVERIFY(!next.seq->recoverJournal());
    QCOMPARE(next.model.Adjust.toString(), credited);
}

// With the balances' marks on, settling counts only while the line's balance says stable:
// an unstable, unreadable or overload mark holds the count (an overload is never accepted,
// though the last weight shown stands within the tolerance), and a stable one lets it run.
void TestSequencer::balanceMarksHoldTheSettling_data() {
    QTest::addColumn<int>("held");        // the mark that holds
    QTest::addColumn<int>("stableFirst"); // ticks counted before it comes
    QTest::newRow("unstable") << int(Stability::Unstable) << 6;
    QTest::newRow("unreadable mark") << int(Stability::Unknown) << 6;
    QTest::newRow("overload on the 15th tick") << int(Stability::Overload) << 15;
    QTest::newRow("overload from the start") << int(Stability::Overload) << 0;
}

void TestSequencer::balanceMarksHoldTheSettling() {
    QFETCH(int, held);
    QFETCH(int, stableFirst);
    Rig r;
    r.readings.setMarksOn(true);
    r.readings.setStability(Balance::Small, Stability::Stable);
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("10")}}));
    QVERIFY(r.toWeighing());
    r.readings.setStability(Balance::Small, Stability(held));
    r.setReading(Balance::Small, QStringLiteral("10"));
    if (stableFirst > 0) {
        r.readings.setStability(Balance::Small, Stability::Stable);
        r.ticks(stableFirst);
        r.readings.setStability(Balance::Small, Stability(held));
    }
    r.ticks(60);
    QCOMPARE(r.model.State, SequencerState::Weigh);
    QCOMPARE(r.model.Counter, stableFirst);
    r.readings.setStability(Balance::Small, Stability::Stable);
    r.ticks(Sequencer::kSettleTicks - stableFirst - 1);
    QCOMPARE(r.model.State, SequencerState::Weigh);
    r.ticks(1);
    QCOMPARE(r.model.State, SequencerState::NextLine);
}

void TestSequencer::changeBarrelKeepsTheAmount_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("before"); // on the balance when the barrel is changed
    QTest::addColumn<QString>("adjust"); // kept as the amount already weighed
    QTest::addColumn<QString>("rest");   // put on the new barrel to finish the line
    QTest::newRow("large 700 of 1000") << "1000"
                                       << "700"
                                       << "700"
                                       << "300";
    QTest::newRow("large keeps 0.1 g") << "1000"
                                       << "700.4"
                                       << "700.4"
                                       << "299.6";
    QTest::newRow("small keeps 0.01 g") << "20"
                                        << "12.34"
                                        << "12.34"
                                        << "7.66";
}

void TestSequencer::changeBarrelKeepsTheAmount() {
    QFETCH(QString, target);
    QFETCH(QString, before);
    QFETCH(QString, adjust);
    QFETCH(QString, rest);
    Rig r;
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), target}}));
    QVERIFY(r.toWeighing());
    const Balance b = LineBalanceCode::balance(r.model.LineBalance[0]);
    r.setReading(b, before);
    r.ticks(3);
    r.model.BoxChoice = BoxChoiceCode::ChangeBarrel;
    r.ticks(1);
    QCOMPARE(r.model.State, SequencerState::AskContainer);
    QCOMPARE(r.model.BoxChoice, BoxChoiceCode::None);
    QCOMPARE(r.model.Adjust.toString(), adjust);
    r.ticks(1);
    QCOMPARE(r.model.State, SequencerState::WaitZero); // the full barrel is still on the balance
    QCOMPARE(r.model.prompt.left(2), QStringLiteral("請在"));
    r.setReading(b, QStringLiteral("0"));
    QVERIFY(r.until(SequencerState::Weigh));
    r.ticks(1);
    QCOMPARE(r.model.LineTable[lineSlot(1, LineSlot::Actual)], adjust);
    QCOMPARE(r.model.LineStatus[1], qint16(LineStatusCode::Active));
    r.setReading(b, rest);
    r.ticks(16);
    QCOMPARE(r.model.State, SequencerState::NextLine);
    QCOMPARE(r.model.LineTable[lineSlot(1, LineSlot::Actual)], Decimal::parse(target).toString());
}

// Taken back before the new barrel is zeroed, a change of barrel goes on with the old one;
// once the balance reads 0 it cannot be: the poured amount is only in the adjustment.
void TestSequencer::changeBarrelCannotBeTakenBackAfterTheZero() {
    Rig r;
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("2000")}}));
    QVERIFY(r.toWeighing());
    r.setReading(Balance::Large, QStringLiteral("1400"));
    r.ticks(2);
    r.model.BoxChoice = BoxChoiceCode::ChangeBarrel;
    r.ticks(2);
    QCOMPARE(r.model.State, SequencerState::WaitZero);
    QVERIFY(r.seq->canUndoBoxChoice()); // the old barrel is still on the balance
    r.setReading(Balance::Large, QStringLiteral("0"));
    r.ticks(1);
    QVERIFY(!r.seq->undoBoxChoice());
    QVERIFY(r.until(SequencerState::Weigh));
    r.ticks(1);
    QVERIFY(!r.seq->undoBoxChoice());
    QCOMPARE(r.model.LineTable[lineSlot(1, LineSlot::Actual)], QStringLiteral("1400"));
}

void TestSequencer::changeBarrelGivesTheNewBarrelTheFullZeroWait() {
    Rig r;
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("1000")}}));
    QVERIFY(r.toWeighing());
    r.setReading(Balance::Large, QStringLiteral("1000"));
    r.ticks(10); // ten ticks within tolerance on the old barrel
    QVERIFY(r.model.Counter >= 9);
    r.model.BoxChoice = BoxChoiceCode::ChangeBarrel;
    r.ticks(1);
    QCOMPARE(r.model.State, SequencerState::AskContainer);
    QCOMPARE(r.model.Counter, 0);
    r.ticks(1); // still the full barrel on the balance: wait for zero
    QCOMPARE(r.model.State, SequencerState::WaitZero);
    r.setReading(Balance::Large, QStringLiteral("0"));
    r.ticks(2);
    QCOMPARE(r.model.State, SequencerState::WaitZero); // not before the third tick
    r.ticks(1);
    QCOMPARE(r.model.State, SequencerState::BeginWeighing);
}

void TestSequencer::addAndDeductBox() {
    Rig r;
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("30000")}}));
    QVERIFY(r.toWeighing());
    r.setReading(Balance::Large, QStringLiteral("4000"));
    r.ticks(1);
    r.model.BoxChoice = BoxChoiceCode::AddBox;
    r.ticks(1);
    QCOMPARE(r.model.LineTable[lineSlot(1, LineSlot::Actual)], QStringLiteral("29000"));
    QCOMPARE(r.model.BoxChoice, BoxChoiceCode::None);
    QVERIFY(r.model.boxText[0].contains(QStringLiteral("30000 => 29000")));
    r.setReading(Balance::Large, QStringLiteral("1234.56"));
    r.model.BoxChoice = BoxChoiceCode::DeductBox;
    r.ticks(1);
    // The reading plus a box, in whole grams, becomes the adjustment.
    QCOMPARE(r.model.Adjust.toString(), QStringLiteral("26235"));
    QCOMPARE(r.model.LineTable[lineSlot(1, LineSlot::Actual)], QStringLiteral("27469.56"));
}

void TestSequencer::endOfJobRemovesInTheHistoryStep() {
    Rig r;
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("10")}}));
    QVERIFY(r.toWeighing());
    r.weighCurrentLine();
    r.ticks(1);
    QCOMPARE(r.model.State, SequencerState::Finish);
    r.ticks(5);
    QCOMPARE(r.model.prompt, QStringLiteral("<<<END>>>"));
    QCOMPARE(r.model.State, SequencerState::Finish);
    QVERIFY(!r.dir.exists(QStringLiteral("data/DATE_202403.txt")));
    QCOMPARE(r.queued(), 1);
    r.ticks(1); // the sixth: history written and the job removed together
    QCOMPARE(r.model.State, SequencerState::ClearUp);
    QCOMPARE(r.history().size(), 1);
    QCOMPARE(r.queued(), 0);
    QVERIFY(!r.dir.exists(QStringLiteral("START_DISPEN2.txt")));
    QVERIFY(!r.dir.exists(QLatin1String(Completion::kJournal))); // the finish is complete
    QVERIFY(!r.model.boxVisible[0]);
    QCOMPARE(r.model.boxText[10], QStringLiteral("A1")); // cleared on the next tick
    r.ticks(1);
    QCOMPARE(r.model.State, SequencerState::Idle);
    QVERIFY(r.model.prompt.isEmpty());
    QVERIFY(r.model.boxText[10].isEmpty());
    QVERIFY(r.model.queueEntries.isEmpty());
    r.ticks(20);
    QCOMPARE(r.history().size(), 1);
}

void TestSequencer::historyFailureKeepsTheJobAndRetries() {
    Rig r;
    r.dir.write(QStringLiteral("data"), "a file where the folder should be");
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("10")}}));
    r.add(makeJob(QStringLiteral("A2"), {{QStringLiteral("C2"), QStringLiteral("10")}}));
    QVERIFY(r.toWeighing());
    r.weighCurrentLine();
    r.ticks(1 + Sequencer::kEndTicks);
    QCOMPARE(r.model.State, SequencerState::Finish);
    QCOMPARE(r.queued(), 2);
    QVERIFY(r.status.text().contains(QStringLiteral("歷史資料寫入失敗")));
    QVERIFY(r.status.text().contains(QStringLiteral("A1")));
    QCOMPARE(r.model.prompt, r.status.text());
    // A restart now finds the job not logged and leaves it queued to be weighed.
    QVERIFY(!Completion::recover(r.dir.path(), r.queue(),
                                 r.dir.file(QStringLiteral("START_DISPEN2.txt")))
                 .removed);
    QCOMPARE(r.queued(), 2);
    r.ticks(100); // tried again every few seconds, never moving on
    QCOMPARE(r.model.State, SequencerState::Finish);
    QCOMPARE(r.queued(), 2);
    QVERIFY(QFile::remove(r.dir.file(QStringLiteral("data"))));
    QVERIFY(r.until(SequencerState::ClearUp, Sequencer::kHistoryRetryTicks + 1));
    QCOMPARE(r.history().size(), 1);
    QCOMPARE(r.history()[0].OrderNo, QStringLiteral("A1"));
    QCOMPARE(r.queued(), 1);
    QCOMPARE(ReadJob(r.queue(), 1).job.OrderNo, QStringLiteral("A2"));
}

// DEL of the job being weighed with another waiting, and an undo while that one is weighed:
// the job put back behind it goes on at its line when it reaches the head.
void TestSequencer::undoBehindAnotherJobResumesAtItsTurn() {
    Rig r;
    QueueCommands& commands = r.commands;
    UndoStore undo(r.dir.path());
    commands.setUndo(&undo);
    r.add(makeJob(QStringLiteral("U1"), {{QStringLiteral("C1"), QStringLiteral("10")},
                                         {QStringLiteral("C2"), QStringLiteral("20")}}));
    r.add(makeJob(QStringLiteral("X1"), {{QStringLiteral("C3"), QStringLiteral("5")}}));
    QVERIFY(r.toWeighing());
    r.weighCurrentLine();
    QVERIFY(r.toWeighing());
    commands.reloadQueueList();
    commands.deleteQueued(0, r.model.queueEntries.value(0));
    QVERIFY(r.toWeighing()); // X1 now
    QVERIFY(undo.undo().ok());
    QVERIFY(!Completion::reinstate(r.dir.path(), r.queue()).reinstated); // behind X1
    QVERIFY(Completion::markRestored(r.dir.path()).ok());
    r.weighWholeJob();
    QVERIFY(r.toWeighing());
    QCOMPARE(r.model.LineTable[lineSlot(1, LineSlot::Code)], QStringLiteral("C1"));
    QCOMPARE(r.model.Line, 2);
    QCOMPARE(r.model.LineTable[lineSlot(1, LineSlot::Actual)], QStringLiteral("10"));
}

// The job put back behind others reaches the head, but its journal cannot be written back:
// the station says so (and starts the job afresh), instead of taking it for "not at the head".
void TestSequencer::aJournalThatCannotBeReinstatedIsSaid() {
    Rig r;
    const Reports said(r.status);
    const JobRecord job =
        makeJob(QStringLiteral("U1"), {{QStringLiteral("C1"), QStringLiteral("10")},
                                       {QStringLiteral("C2"), QStringLiteral("20")}});
    r.add(job);
    QVERIFY(Completion::record(r.dir.path(), r.queue(), job.encode(), {}).ok());
    QVERIFY(Completion::setAside(r.dir.path()).ok());
    QVERIFY(Completion::markRestored(r.dir.path()).ok());
    QVERIFY(QDir().mkdir(r.dir.file(QLatin1String(Completion::kJournal) + QStringLiteral(".new"))));
    r.ticks(Sequencer::kRefreshTicks + 1);
    QVERIFY2(!said.texts().filter(QStringLiteral("計量紀錄無法恢復")).isEmpty(),
             qPrintable(said.texts().join(QLatin1Char('|'))));
}

void TestSequencer::emptyFirstLineIsRemovedAtOnce() {
    Rig r;
    r.add(makeJob(QStringLiteral("EMPTY"),
                  {{QString(), QString()}, {QStringLiteral("C2"), QStringLiteral("5")}}));
    r.add(makeJob(QStringLiteral("A2"), {{QStringLiteral("C1"), QStringLiteral("10")}}));
    r.ticks(4);
    QCOMPARE(r.model.State, SequencerState::Idle);
    QCOMPARE(r.queued(), 1);
    QVERIFY(r.status.text().contains(QStringLiteral("EMPTY")));
    QCOMPARE(r.model.queueEntries, QStringList{QStringLiteral("A2---7")});
    QVERIFY(!QDir(r.dir.file(QStringLiteral("data"))).exists());
    r.ticks(4);
    QCOMPARE(r.model.boxText[10], QStringLiteral("A2"));
}

void TestSequencer::unreadableQueueKeepsIdle() {
    Rig r;
    QVERIFY(QDir(r.dir.path()).mkdir(QStringLiteral("START_DISPEN.txt")));
    r.ticks(8);
    QCOMPARE(r.model.State, SequencerState::Idle);
    QVERIFY(r.status.text().contains(QStringLiteral("排程檔讀取失敗")));
    QCOMPARE(r.model.prompt, r.status.text());
    QVERIFY(QDir(r.dir.path()).rmdir(QStringLiteral("START_DISPEN.txt")));
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("10")}}));
    r.ticks(4);
    QCOMPARE(r.model.boxText[10], QStringLiteral("A1"));
}

void TestSequencer::printing_data() {
    QTest::addColumn<QString>("flag");
    QTest::addColumn<bool>("printerOk");
    QTest::addColumn<int>("prints");
    QTest::newRow("1 prints") << "1" << true << 1;
    QTest::newRow("blank") << "" << true << 0;
    QTest::newRow("0") << "0" << true << 0;
    QTest::newRow("leading blank") << " 1" << true << 0;
    QTest::newRow("printer fails") << "1" << false << 1;
}

void TestSequencer::printing() {
    QFETCH(QString, flag);
    QFETCH(bool, printerOk);
    QFETCH(int, prints);
    Rig r;
    r.settings.setText(Setting::PrintFlag, flag);
    if (!printerOk)
        r.printResult = Outcome::failure(QStringLiteral("no default printer"));
    r.add(makeJob(QStringLiteral("P1"), {{QStringLiteral("C1"), QStringLiteral("10")}}));
    r.weighWholeJob();
    QCOMPARE(r.model.State, SequencerState::Idle);
    QCOMPARE(r.printed.size(), prints);
    if (prints) {
        QCOMPARE(r.printed[0].OrderNo, QStringLiteral("P1"));
        QCOMPARE(r.printed[0].Actual[1], QStringLiteral("10"));
    }
    QCOMPARE(r.status.text().contains(QStringLiteral("no default printer")), !printerOk);
    QCOMPARE(r.history().size(), 1);
    QCOMPARE(r.queued(), 0);
}

void TestSequencer::jobDeletedWhileWeighedIsNotRemovedTwice() {
    Rig r;
    r.add(makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("10")}}));
    r.add(makeJob(QStringLiteral("A2"), {{QStringLiteral("C2"), QStringLiteral("10")}}));
    QVERIFY(r.toWeighing());
    QVERIFY(RemoveJob(r.queue(), r.dir.file(QStringLiteral("START_DISPEN2.txt")), 1).ok());
    r.weighCurrentLine();
    QVERIFY(r.until(SequencerState::Idle, 20));
    QCOMPARE(r.history().size(), 1);
    QCOMPARE(r.queued(), 1);
    QCOMPARE(ReadJob(r.queue(), 1).job.OrderNo, QStringLiteral("A2"));
}

// 取消全部 or DEL of the job being weighed, then undo: the job put back at the head goes on
// with the line it was on; the line accepted before is never asked for again. Another
// removal in between (the same recipe queued again and deleted) means the undo puts that
// one back, and it starts afresh.
void TestSequencer::undoOfARemovalDuringWeighingResumesTheJob_data() {
    QTest::addColumn<bool>("cancelAll");
    QTest::addColumn<bool>("otherRemovalBetween");
    QTest::newRow("cancel all") << true << false;
    QTest::newRow("DEL") << false << false;
    QTest::newRow("another removal in between") << false << true;
}
void TestSequencer::undoOfARemovalDuringWeighingResumesTheJob() {
    QFETCH(bool, cancelAll);
    QFETCH(bool, otherRemovalBetween);
    Rig r;
    QueueCommands& commands = r.commands;
    UndoStore undo(r.dir.path());
    commands.setUndo(&undo);
    Reports said(r.status);
    const JobRecord job =
        makeJob(QStringLiteral("U1"), {{QStringLiteral("C1"), QStringLiteral("10")},
                                       {QStringLiteral("C2"), QStringLiteral("20")}});
    r.add(job);
    QVERIFY(r.toWeighing());
    r.weighCurrentLine();
    QVERIFY(r.toWeighing());
    QCOMPARE(r.model.Line, 2);
    commands.reloadQueueList();
    if (cancelAll)
        commands.cancelAll();
    else
        commands.deleteQueued(0, r.model.queueEntries.value(0));
    QVERIFY(said.once(QStringLiteral("U1"))); // answered once, nothing failed
    r.ticks(Sequencer::kRefreshTicks);
    QCOMPARE(r.model.State, SequencerState::Idle);
    if (otherRemovalBetween) {
        // The same recipe queued again and deleted before it started.
        r.add(job);
        commands.reloadQueueList();
        commands.deleteQueued(0, r.model.queueEntries.value(0));
        QVERIFY(said.once(QStringLiteral("已刪除 單號 U1 (計量佇列第 1 筆)")));
    }
    QVERIFY(undo.undo().ok());
    const bool resumed = Completion::reinstate(r.dir.path(), r.queue()).reinstated;
    QCOMPARE(resumed, !otherRemovalBetween);
    QVERIFY(r.toWeighing());
    QCOMPARE(r.model.Line, resumed ? 2 : 1);
    if (resumed)
        QCOMPARE(r.model.LineTable[lineSlot(1, LineSlot::Actual)], QStringLiteral("10"));
}

// A finish cut off by a crash after its journal: the job was weighed but is neither logged
// nor off the queue. While the month's file cannot be written no job starts (the head is
// that job); once it can, the record is appended, the job leaves the queue, and the next
// job is weighed.
void TestSequencer::pendingFinishIsCompletedBeforeAnyJobStarts() {
    Rig r;
    const JobRecord a =
        makeJob(QStringLiteral("A1"), {{QStringLiteral("C1"), QStringLiteral("10")}});
    r.add(a);
    r.add(makeJob(QStringLiteral("A2"), {{QStringLiteral("C2"), QStringLiteral("10")}}));
    HistoryRecord h;
    h.OrderNo = QStringLiteral("A1");
    h.Completed = r.clock.now();
    QVERIFY(Completion::begin(r.dir.path(), r.queue(), a.encode(), h.encode()).ok());
    r.dir.write(QStringLiteral("data"), "a file where the folder should be");
    r.ticks(40);
    QCOMPARE(r.model.State, SequencerState::Idle);
    QCOMPARE(r.queued(), 2);
    QVERIFY(r.status.text().contains(QStringLiteral("完成紀錄無法處理")));
    QVERIFY(QFile::remove(r.dir.file(QStringLiteral("data"))));
    QVERIFY(r.until(SequencerState::PrepareLine, 40));
    QCOMPARE(r.history().size(), 1);
    QCOMPARE(r.queued(), 1);
    QCOMPARE(r.model.boxText[10], QStringLiteral("A2"));
    // The journal now follows the next job.
    QVERIFY(
        r.dir.read(QLatin1String(Completion::kJournal)).startsWith(ReadJob(r.queue(), 1).bytes));
}

// The station stops at a point of a three-line job and starts again on the same files: the
// job goes on from the interrupted line, accepted lines are never weighed again, a partial
// pour is neither lost nor counted twice, and the history record equals an uninterrupted
// run's.
// A stop right after an acceptance was journalled may come before its event reaches the
// log: the resume records every accepted line again, with the time it was accepted at, by
// which the log knows a repeat.
void TestSequencer::resumeRecordsTheAcceptedLinesAgainAsTimed() {
    struct Recorder : WeighingEvents {
        QList<WeighingEvent> events;
        void record(const WeighingEvent& e) override { events << e; }
    } before, after;
    Rig crashed;
    crashed.seq->setExtensions(nullptr, &before);
    crashed.add(makeJob(QStringLiteral("R1"), {{QStringLiteral("C1"), QStringLiteral("10")},
                                               {QStringLiteral("C2"), QStringLiteral("20")}}));
    QVERIFY(crashed.toWeighing());
    crashed.weighCurrentLine();
    QCOMPARE(before.events.size(), 1);
    const QDateTime at = before.events[0].at;
    QVERIFY(at.isValid());
    Rig next;
    next.clock.set(at.addSecs(60));
    restartInto(crashed, next);
    next.seq->setExtensions(nullptr, &after);
    QVERIFY(!next.seq->recoverJournal());
    QCOMPARE(after.events.size(), 2); // line 1 again, then the resume
    QCOMPARE(after.events[0].event, QStringLiteral("accepted"));
    QCOMPARE(after.events[0].line, 1);
    QCOMPARE(after.events[0].at, at);
    QCOMPARE(after.events[0].actual, QStringLiteral("10"));
    QCOMPARE(after.events[1].event, QStringLiteral("resumed"));
}

void TestSequencer::resumeAfterRestart_data() {
    QTest::addColumn<int>("linesAccepted");
    QTest::addColumn<QString>("poured"); // on the interrupted line before the stop
    QTest::addColumn<int>("resumedLine");
    QTest::newRow("waiting for line 1's container") << 0 << QString() << 1;
    QTest::newRow("waiting for line 2's container") << 1 << QString() << 2;
    QTest::newRow("line 2 weighing, 3.2 g so far") << 1 << QStringLiteral("3.2") << 2;
    QTest::newRow("all accepted, before the finish") << 3 << QString() << 3;
}

void TestSequencer::resumeAfterRestart() {
    QFETCH(int, linesAccepted);
    QFETCH(QString, poured);
    QFETCH(int, resumedLine);
    const JobRecord job =
        makeJob(QStringLiteral("R1"), {{QStringLiteral("C1"), QStringLiteral("10")},
                                       {QStringLiteral("C2"), QStringLiteral("20")},
                                       {QStringLiteral("C3"), QStringLiteral("30")}});
    Rig crashed;
    crashed.add(job);
    for (int k = 0; k < linesAccepted; ++k) {
        QVERIFY(crashed.toWeighing());
        crashed.weighCurrentLine();
    }
    if (linesAccepted < 3)
        QVERIFY(crashed.until(SequencerState::ZeroAlready));
    if (!poured.isEmpty()) {
        QVERIFY(crashed.toWeighing());
        crashed.setReading(Balance::Small, poured);
        crashed.ticks(Sequencer::kJournalTicks + 1);
    }
    const QList<HistoryRecord> none = crashed.history();
    QVERIFY(none.isEmpty());

    Rig next;
    restartInto(crashed, next);
    QVERIFY(!next.seq->recoverJournal());
    QVERIFY(next.status.text().contains(QStringLiteral("R1")));
    QCOMPARE(next.model.Line, resumedLine);
    QCOMPARE(next.model.State,
             linesAccepted == 3 ? int(SequencerState::Finish) : int(SequencerState::AskContainer));
    for (int k = 1; k <= linesAccepted; ++k) {
        QCOMPARE(next.model.LineStatus[size_t(k)], LineStatusCode::Idle);
        QCOMPARE(next.model.LineTable[lineSlot(k, LineSlot::Actual)], QString::number(10 * k));
    }
    QCOMPARE(next.model.Adjust.toString(), poured.isEmpty() ? QStringLiteral("0") : poured);
    // The rest of the job, on a new container: only what is missing is poured.
    next.setReading(Balance::Small, QStringLiteral("0"));
    for (int guard = 0; guard < 5 && next.model.State != SequencerState::Finish; ++guard) {
        QVERIFY(next.toWeighing());
        const int n = next.model.Line;
        const Decimal missing =
            Decimal::parse(next.model.LineTable[lineSlot(n, LineSlot::Target)]) - next.model.Adjust;
        next.setReading(Balance::Small, missing.toString());
        next.ticks(Sequencer::kSettleTicks);
        next.setReading(Balance::Small, QStringLiteral("0"));
        next.ticks(1);
    }
    QVERIFY(next.until(SequencerState::Idle, 50));
    const QList<HistoryRecord> h = next.history();
    QCOMPARE(h.size(), 1);
    for (int k = 1; k <= 3; ++k)
        QCOMPARE(h[0].Actual[size_t(k)], QString::number(10 * k));
    QCOMPARE(next.queued(), 0);
    QVERIFY(!next.dir.exists(QLatin1String(Completion::kJournal)));
}

// The interrupted job was removed while the station was down and an identical one is now
// at the head: that one was never weighed, so nothing is resumed and nothing is touched.
// DEL of a later job rewrites the queue file under the job being weighed: a stop right
// after, or in the middle of it, still resumes that job where it was.
void TestSequencer::delOfALaterJobKeepsTheResume() {
    for (bool cutShort : {false, true}) {
        Rig crashed;
        crashed.add(makeJob(QStringLiteral("R1"), {{QStringLiteral("C1"), QStringLiteral("10")},
                                                   {QStringLiteral("C2"), QStringLiteral("20")}}));
        crashed.add(makeJob(QStringLiteral("R2"), {{QStringLiteral("C1"), QStringLiteral("5")}}));
        QVERIFY(crashed.toWeighing());
        crashed.weighCurrentLine();
        QVERIFY(crashed.toWeighing());
        if (cutShort) { // stopped between the rewrite of the queue and that of the journal
            QVERIFY(Completion::beforeRewrite(crashed.dir.path()).ok());
            QVERIFY(
                RemoveJob(crashed.queue(), crashed.dir.file(QStringLiteral("START_DISPEN2.txt")), 2)
                    .ok());
        } else {
            crashed.commands.reloadQueueList();
            crashed.commands.deleteQueued(1, crashed.model.queueEntries.value(1));
            QCOMPARE(crashed.queued(), 1);
        }
        Rig next;
        restartInto(crashed, next);
        QVERIFY(!next.seq->recoverJournal()); // resumed
        QCOMPARE(next.model.Line, 2);
    }
}

void TestSequencer::journalOfAJobRemovedWhileDownIsDropped() {
    const JobRecord job =
        makeJob(QStringLiteral("R1"), {{QStringLiteral("C1"), QStringLiteral("10")},
                                       {QStringLiteral("C2"), QStringLiteral("20")}});
    Rig crashed;
    crashed.add(job);
    crashed.add(job);
    QVERIFY(crashed.toWeighing());
    crashed.weighCurrentLine();
    QVERIFY(
        RemoveJob(crashed.queue(), crashed.dir.file(QStringLiteral("START_DISPEN2.txt")), 1).ok());
    Rig next;
    restartInto(crashed, next);
    QVERIFY(next.seq->recoverJournal());
    QVERIFY(next.status.text().contains(QStringLiteral("R1")));
    QCOMPARE(next.model.State, SequencerState::Idle);
    QVERIFY(!next.dir.exists(QLatin1String(Completion::kJournal)));
    QCOMPARE(next.queued(), 1);
    QVERIFY(next.until(SequencerState::AskContainer));
    QCOMPARE(next.model.Line, 1); // weighed from its first line
}

// A record that another program wrote into the queue with a value no way into the queue
// lets in is never weighed: it is set aside whole with its reason, said on the status line
// and to the weighing events, and the job behind it starts.
void TestSequencer::faultyRecordIsSetAsideAndTheQueueGoesOn_data() {
    QTest::addColumn<QString>("weight");
    QTest::addColumn<QString>("said");
    QTest::newRow("text") << "abc"
                          << "第 2 行重量「abc」";
    QTest::newRow("blank") << ""
                           << "第 2 行重量「」";
    QTest::newRow("zero") << "0.000"
                          << "第 2 行重量「0.000」";
    QTest::newRow("negative") << "-5"
                              << "第 2 行重量「-5」";
    QTest::newRow("decimal comma") << "1,5"
                                   << "第 2 行重量「1,5」";
    QTest::newRow("exponent") << "1e9"
                              << "第 2 行重量「1e9」";
    QTest::newRow("not a number") << "NaN"
                                  << "第 2 行重量「NaN」";
}

void TestSequencer::faultyRecordIsSetAsideAndTheQueueGoesOn() {
    QFETCH(QString, weight);
    QFETCH(QString, said);
    struct Recorder : WeighingEvents {
        QList<WeighingEvent> events;
        void record(const WeighingEvent& e) override { events << e; }
    } events;
    Rig r;
    const Reports reports(r.status);
    r.seq->setExtensions(nullptr, &events);
    const JobRecord bad =
        makeJob(QStringLiteral("BAD-1"),
                {{QStringLiteral("C1"), QStringLiteral("10")}, {QStringLiteral("C2"), weight}});
    r.add(bad);
    r.add(makeJob(QStringLiteral("NEXT"), {{QStringLiteral("X"), QStringLiteral("1")}}));
    QVERIFY(r.toWeighing());
    QCOMPARE(r.model.LineTable[lineSlot(1, LineSlot::Target)], QStringLiteral("1"));
    QCOMPARE(r.queued(), 1);
    QCOMPARE(JobRecord::decode(ReadJob(r.queue(), 1).bytes).OrderNo, QStringLiteral("NEXT"));
    const QString told = reports.texts().join(QLatin1Char('\n'));
    QVERIFY2(told.contains(QStringLiteral("BAD-1")) && told.contains(said) &&
                 told.contains(QStringLiteral("START_DISPEN.refused")),
             qPrintable(told));

    // Set aside whole: the reason, then the record byte for byte.
    const QByteArray aside = r.dir.read(QStringLiteral("START_DISPEN.refused"));
    const qsizetype eol = aside.indexOf('\n');
    QVERIFY(eol > 0);
    QVERIFY2(QString::fromUtf8(aside.left(eol)).contains(said), aside.left(eol).constData());
    QCOMPARE(aside.mid(eol + 1), bad.encode());

    QCOMPARE(events.events.size(), 1);
    QCOMPARE(events.events[0].event, QStringLiteral("refused"));
    QCOMPARE(events.events[0].orderNo, QStringLiteral("BAD-1"));
    QCOMPARE(events.events[0].line, 2);
    QVERIFY(events.events[0].detail.contains(said));
}

QTEST_GUILESS_MAIN(TestSequencer)
#include "test_sequencer.moc"
