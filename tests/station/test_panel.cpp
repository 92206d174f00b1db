#include "common/Clock.h"
#include "common/EventLog.h"
#include "common/StatusLine.h"
#include "config/StationSettings.h"
#include "devices/BalanceReadings.h"
#include "devices/LightBus.h"
#include "devices/LightMap.h"
#include "devices/MemorySerialPort.h"
#include "jobs/JobFile.h"
#include "tests/support/SequencerRig.h"
#include "tests/support/TestSupport.h"
#include "weighing/RunControl.h"
#include "weighing/Sequencer.h"
#include "weighing/StationTimers.h"
#include "weighing/StatusColours.h"
#include "weighing/WeighingEvents.h"
#include "weighing/WeighingModel.h"
#include "weighing/WeighingPanelModel.h"

#include <QTest>
#include <memory>

using Phase = WeighingPanelModel::Phase;

namespace {

// A sequencer and the panel model on it: threshold 1000 g, both balances live at 0.
struct Rig : SequencerRig {
    std::unique_ptr<WeighingPanelModel> panel;

    Rig() {
        panel = std::make_unique<WeighingPanelModel>(
            model, readings, [this] { return seq->TolSteps(); },
            [this] { return settings.isExactlyOne(Setting::Language); },
            [this] { return clock.now(); });
        QObject::connect(&model, &WeighingModel::changed, panel.get(), &WeighingPanelModel::update);
        QObject::connect(&readings, &BalanceReadings::changed, panel.get(),
                         &WeighingPanelModel::update);
    }
    void add(const QString& order, const QStringList& codeWeight) {
        JobRecord j;
        j.OrderNo = order;
        for (int i = 0; i < codeWeight.size() / 2; ++i) {
            j.Code[size_t(i + 1)] = codeWeight[2 * i];
            j.Weight[size_t(i + 1)] = codeWeight[2 * i + 1];
        }
        QVERIFY(AppendJob(dir.file(QStringLiteral("START_DISPEN.txt")), j).ok());
    }
    bool until(int state, int limit = 400) { return SequencerRig::until(state, limit); }
};

} // namespace

class TestPanel : public QObject {
    Q_OBJECT

private slots:
    // The state, the difference and the band per reading, on each balance; the reading is
    // on the panel at once, before the next sequencer tick.
    void statePerReading_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("reading");
        QTest::addColumn<int>("phase");
        QTest::addColumn<QString>("difference");
        QTest::newRow("small too little") << "10"
                                          << "9.95" << int(Phase::TooLittle) << "−0.05";
        QTest::newRow("small lower bound") << "10"
                                           << "9.98" << int(Phase::Within) << "−0.02";
        QTest::newRow("small exact") << "10"
                                     << "10.00" << int(Phase::Within) << "0.00";
        QTest::newRow("small within over") << "10"
                                           << "10.01" << int(Phase::Within) << "+0.01";
        QTest::newRow("small upper bound") << "10"
                                           << "10.02" << int(Phase::Within) << "+0.02";
        QTest::newRow("small too much") << "10"
                                        << "10.05" << int(Phase::TooMuch) << "+0.05";
        QTest::newRow("large too little") << "1500"
                                          << "1499.7" << int(Phase::TooLittle) << "−0.3";
        QTest::newRow("large within") << "1500"
                                      << "1500.2" << int(Phase::Within) << "+0.2";
    }
    void statePerReading() {
        QFETCH(QString, target);
        QFETCH(QString, reading);
        QFETCH(int, phase);
        QFETCH(QString, difference);
        Rig r;
        r.add(QStringLiteral("P-1"), {QStringLiteral("R-101"), target});
        QVERIFY(r.until(SequencerState::Weigh));
        const Balance b = LineBalanceCode::balance(r.model.LineBalance[0]);
        r.readings.setCaption(b, reading);
        QCOMPARE(int(r.panel->phase()), phase);
        QCOMPARE(r.panel->differenceText(), difference);
        QCOMPARE(r.panel->amount(), Decimal::parse(reading));
        const Decimal tol =
            Decimal::parse(QString::fromLatin1(b == Balance::Large ? "0.2" : "0.02"));
        QCOMPARE(r.panel->lower(), Decimal::parse(target) - tol);
        QCOMPARE(r.panel->upper(), Decimal::parse(target) + tol);
        QVERIFY(r.panel->gaugeMax() > r.panel->upper());
        QVERIFY(!r.panel->stateWord().isEmpty() && !r.panel->stateSymbol().isEmpty());
        // The panel's colour is one of the line box's for the same state.
        r.seq->tick();
        QList<Rgb> box;
        for (int p = 0; p <= 10; ++p)
            box << *StatusColours::boxColour(r.model.LineStatus[1], p);
        QVERIFY(box.contains(r.panel->stateColour()));
    }

    // Coarse 0 .. top for the pour; fine from 90 % of the target (ten tolerance widths
    // below it for a small target), with the band at least 60 px wide and every step of the
    // balance near the target a step of the needle.
    void gaugeScale_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("tolerance");
        QTest::addColumn<QString>("resolution");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("fineFrom");
        QTest::newRow("large 1500 +-0.2") << "1500"
                                          << "0.2"
                                          << "0.1" << 600 << "1350";
        QTest::newRow("small 1500 +-0.02 at 1366") << "1500"
                                                   << "0.02"
                                                   << "0.01" << 682 << "1350";
        QTest::newRow("small 1500 +-0.02 at 1920") << "1500"
                                                   << "0.02"
                                                   << "0.01" << 1068 << "1350";
        QTest::newRow("small 10 +-0.02") << "10"
                                         << "0.02"
                                         << "0.01" << 600 << "9";
        QTest::newRow("small 0.5 +-0.02") << "0.5"
                                          << "0.02"
                                          << "0.01" << 600 << "0.1";
        QTest::newRow("large 28000 +-0.1 narrow") << "28000"
                                                  << "0.1"
                                                  << "0.1" << 300 << "25200";
        QTest::newRow("small 100 +-0.1 wide") << "100"
                                              << "0.1"
                                              << "0.01" << 1400 << "90";
    }
    void gaugeScale() {
        QFETCH(QString, target);
        QFETCH(QString, tolerance);
        QFETCH(QString, resolution);
        QFETCH(int, width);
        QFETCH(QString, fineFrom);
        const Decimal t = Decimal::parse(target), tol = Decimal::parse(tolerance),
                      res = Decimal::parse(resolution), from = Decimal::parse(fineFrom);
        const Decimal top = t + Decimal::fromUnits(t.units() / 4);
        QCOMPARE(GaugeScale::fineFrom(t, tol), from);

        const GaugeScale coarse(t, tol, res, top, from - res, width);
        QVERIFY(!coarse.fine());
        QCOMPARE(coarse.x(Decimal()), 0);
        QCOMPARE(coarse.x(top), width);
        QCOMPARE(coarse.x(t), qRound(t.toDouble() / top.toDouble() * width));

        const GaugeScale fine(t, tol, res, top, from, width);
        QVERIFY(fine.fine());
        const int band = fine.x(t + tol) - fine.x(t - tol);
        qInfo("band %d px", band);
        QVERIFY(band >= GaugeScale::kMinBandPx);
        QVERIFY(fine.x(from) >= 0 && fine.x(t + tol) < width);
        // From five band widths below the target to past the band, step by step.
        int last = -1;
        for (Decimal w = t - tol * 10; w <= t + tol * 2; w += res) {
            QVERIFY2(fine.x(w) > last, qPrintable(w.toString()));
            last = fine.x(w);
        }
        // The marks are whole powers of ten of the resolution, ordered, on the scale.
        last = width + 1;
        for (const Decimal& m : fine.marksBelow()) {
            QVERIFY(m > tol && fine.x(t - m) < last);
            last = fine.x(t - m);
        }
    }

    // The zeroing beside a balance, in either script: running, then the result with the
    // reading of the moment it was judged, kept while the weight changes and gone a few
    // seconds later.
    void zeroLabel_data() {
        QTest::addColumn<bool>("simplified");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QString>("reading");
        QTest::addColumn<QString>("result");
        QTest::newRow("done") << false << true << "0"
                              << "已歸零";
        QTest::newRow("done simplified") << true << true << "0"
                                         << "已归零";
        QTest::newRow("not zero") << false << true << "0.03"
                                  << "歸零後讀數 0.03";
        QTest::newRow("not zero simplified") << true << true << "0.03"
                                             << "归零后读数 0.03";
        QTest::newRow("not sent") << false << false << "0"
                                  << "歸零指令未送出";
        QTest::newRow("not sent simplified") << true << false << "0"
                                             << "归零指令未送出";
    }
    void zeroLabel() {
        QFETCH(bool, simplified);
        QFETCH(bool, sent);
        QFETCH(QString, reading);
        QFETCH(QString, result);
        Rig r;
        r.readings.setCaption(Balance::Small, QStringLiteral("1.27"));
        if (simplified)
            r.settings.setText(Setting::Language, QStringLiteral("1"));
        r.panel->zeroStarted(Balance::Small);
        QCOMPARE(r.panel->zeroText(Balance::Small),
                 simplified ? QStringLiteral("归零中…") : QStringLiteral("歸零中…"));
        r.panel->zeroFinished(sent);
        r.readings.setCaption(Balance::Small, reading);
        QCOMPARE(r.panel->zeroText(Balance::Small), result);
        r.clock.advanceSecs(4);
        r.readings.setCaption(Balance::Small, QStringLiteral("8.5"));
        QCOMPARE(r.panel->zeroText(Balance::Small), result);
        r.clock.advanceSecs(1);
        r.panel->update();
        QCOMPARE(r.panel->zeroText(Balance::Small), QString());
        QCOMPARE(r.panel->zeroState(Balance::Small), WeighingPanelModel::ZeroState::Idle);
    }

    // Settling counts up while in tolerance; the accepted line is marked done with its
    // actual; the summary stays through idle until the next order starts.
    void settlingDoneAndSummary() {
        Rig r;
        r.add(QStringLiteral("P-2"), {QStringLiteral("A"), QStringLiteral("10"),
                                      QStringLiteral("B"), QStringLiteral("20")});
        QVERIFY(r.until(SequencerState::Weigh));
        r.readings.setCaption(Balance::Small, QStringLiteral("10.01"));
        r.seq->tick();
        r.seq->tick();
        QCOMPARE(r.panel->settled(), 2);
        QVERIFY(r.until(SequencerState::NextLine, 20));
        QCOMPARE(r.panel->phase(), Phase::Accepted);
        r.readings.setCaption(Balance::Small, QStringLiteral("0"));
        QVERIFY(r.until(SequencerState::AskContainer, 5));
        QCOMPARE(r.panel->lines().size(), 2);
        QCOMPARE(r.panel->lines()[0].mark, WeighingPanelModel::Mark::Done);
        QCOMPARE(r.panel->lines()[0].actual, QStringLiteral("10.01"));
        QCOMPARE(r.panel->lines()[1].mark, WeighingPanelModel::Mark::Current);
        QVERIFY(r.until(SequencerState::Weigh));
        r.readings.setCaption(Balance::Small, QStringLiteral("19.99"));
        QVERIFY(r.until(SequencerState::Idle, 60));
        QVERIFY(r.panel->hasSummary());
        QCOMPARE(r.panel->summary().orderNo, QStringLiteral("P-2"));
        QCOMPARE(r.panel->summary().lines.size(), 2);
        QCOMPARE(r.panel->summary().lines[0].deviation, QStringLiteral("+0.01"));
        QCOMPARE(r.panel->summary().lines[1].deviation, QStringLiteral("-0.01"));
        r.seq->tick();
        QVERIFY(r.panel->hasSummary()); // still there while idle
        r.readings.setCaption(Balance::Small, QStringLiteral("0"));
        r.add(QStringLiteral("P-3"), {QStringLiteral("C"), QStringLiteral("5")});
        QVERIFY(r.until(SequencerState::AskContainer, 10));
        QVERIFY(!r.panel->hasSummary());
    }

    // A balance already at 0 counts the 30-tick wait down in seconds; a balance that is not
    // answering shows a dash, never a number; zeroing shows that it runs and its result.
    void countdownStaleAndZeroing() {
        Rig r;
        r.add(QStringLiteral("P-4"), {QStringLiteral("A"), QStringLiteral("10")});
        QVERIFY(r.until(SequencerState::ZeroAlready, 10));
        r.seq->tick();
        QCOMPARE(r.panel->phase(), Phase::Countdown);
        QCOMPARE(r.panel->countdownSeconds(), 6);
        for (int i = 0; i < 25; ++i)
            r.seq->tick();
        QCOMPARE(r.panel->countdownSeconds(), 1);

        r.readings.setLive(Balance::Small, false);
        QCOMPARE(r.panel->readingText(Balance::Small), QStringLiteral("—"));
        QCOMPARE(r.panel->amountText(), QStringLiteral("—"));
        QCOMPARE(r.panel->phase(), Phase::NoReading);
        r.readings.setLive(Balance::Small, true);

        r.panel->zeroStarted(Balance::Small);
        QCOMPARE(r.panel->zeroState(Balance::Small), WeighingPanelModel::ZeroState::Running);
        QCOMPARE(r.panel->phase(), Phase::Zeroing);
        r.panel->zeroFinished(true);
        r.readings.setCaption(Balance::Small, QStringLiteral("0.01"));
        QCOMPARE(r.panel->zeroState(Balance::Small), WeighingPanelModel::ZeroState::NotZero);
        r.panel->zeroStarted(Balance::Small);
        r.panel->zeroFinished(false);
        QCOMPARE(r.panel->zeroState(Balance::Small), WeighingPanelModel::ZeroState::Failed);
        r.panel->zeroStarted(Balance::Small);
        r.panel->zeroFinished(true);
        r.readings.setCaption(Balance::Small, QStringLiteral("0"));
        QCOMPARE(r.panel->zeroState(Balance::Small), WeighingPanelModel::ZeroState::Done);

        r.settings.setText(Setting::Language, QStringLiteral("1"));
        QVERIFY(r.until(SequencerState::Weigh));
        r.readings.setCaption(Balance::Small, QStringLiteral("9"));
        r.seq->tick();
        QCOMPARE(r.panel->differenceText(), QStringLiteral("−1.00"));
    }

    // With the balances' marks on, a reading in tolerance that the balance does not call
    // stable shows that it settles, and an overload shows as one, never as a weight, on the
    // panel and on the reading; in either script.
    void settlingAndOverloadMarks() {
        Rig r;
        r.readings.setMarksOn(true);
        r.readings.setStability(Balance::Small, Stability::Unstable);
        r.add(QStringLiteral("P-5"), {QStringLiteral("A"), QStringLiteral("10")});
        QVERIFY(r.until(SequencerState::Weigh));
        r.readings.setCaption(Balance::Small, QStringLiteral("10.01"));
        QCOMPARE(r.panel->phase(), Phase::Settling);
        QCOMPARE(r.panel->stateWord(), QStringLiteral("剛好,穩定中…"));
        r.readings.setStability(Balance::Small, Stability::Stable);
        QCOMPARE(r.panel->phase(), Phase::Within);
        r.readings.setStability(Balance::Small, Stability::Overload);
        QCOMPARE(r.panel->phase(), Phase::Overload);
        QCOMPARE(r.panel->amountText(), QStringLiteral("超載"));
        QCOMPARE(r.panel->differenceText(), QStringLiteral("—"));
        QCOMPARE(r.panel->readingText(Balance::Small), QStringLiteral("超載"));
        QCOMPARE(r.panel->readingText(Balance::Large), QStringLiteral("0"));
        r.settings.setText(Setting::Language, QStringLiteral("1"));
        r.panel->update();
        QCOMPARE(r.panel->readingText(Balance::Small), QStringLiteral("超载"));
        r.readings.setStability(Balance::Small, Stability::Unstable);
        QCOMPARE(r.panel->stateWord(), QStringLiteral("刚好,稳定中…"));
    }

    // A box/barrel choice is taken back until the line is accepted, a change of barrel too.
    void boxChoiceUndo() {
        Rig r;
        struct : WeighingEvents {
            QStringList seen;
            void record(const WeighingEvent& e) override { seen << e.event + e.detail; }
        } log;
        r.seq->setExtensions(nullptr, &log);
        r.add(QStringLiteral("P-5"), {QStringLiteral("A"), QStringLiteral("10")});
        QVERIFY(r.until(SequencerState::Weigh));
        r.readings.setCaption(Balance::Small, QStringLiteral("3"));
        r.model.BoxChoice = BoxChoiceCode::AddBox;
        r.seq->tick();
        QCOMPARE(r.panel->amount(), Decimal::parse(u"25003"));
        QVERIFY(r.seq->undoBoxChoice());
        QCOMPARE(r.panel->amount(), Decimal::parse(u"3"));
        r.model.BoxChoice = BoxChoiceCode::ChangeBarrel;
        r.seq->tick();
        QCOMPARE(r.model.State, int(SequencerState::AskContainer));
        QVERIFY(r.seq->undoBoxChoice());
        QCOMPARE(r.model.State, int(SequencerState::Weigh));
        QVERIFY(!r.seq->undoBoxChoice());
        r.model.BoxChoice = BoxChoiceCode::DeductBox;
        r.seq->tick();
        r.readings.setCaption(Balance::Small, QStringLiteral("10"));
        r.seq->undoBoxChoice();
        QVERIFY(r.until(SequencerState::NextLine, 20));
        QVERIFY(!r.seq->undoBoxChoice());
        // Each choice taken back is in the weighing log, before the line's acceptance.
        QCOMPARE(log.seen.filter(QStringLiteral("undo")).size(), 3);
        QCOMPARE(log.seen.last(), QStringLiteral("accepted"));
    }

    // Plain words first, the port by its balance, the technical detail after; faults marked.
    void eventWords_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<bool>("fault");
        QTest::newRow("port") << "天平連接埠 MSComm1 (/dev/pts/3) 中斷, 等待重新連線"
                              << "小天平 中斷, 等待重新連線"
                              << "MSComm1 (/dev/pts/3)" << true;
        QTest::newRow("reason") << "刪除失敗: START_DISPEN.txt: No space left on device"
                                << "刪除失敗"
                                << "START_DISPEN.txt: No space left on device" << true;
        QTest::newRow("plain") << "設定已存檔"
                               << "設定已存檔"
                               << "" << false;
    }
    void eventWords() {
        QFETCH(QString, text);
        QFETCH(QString, plain);
        QFETCH(QString, detail);
        QFETCH(bool, fault);
        const EventLog::Event e = EventLog::describe(text, [](const QString& port) {
            return port == QLatin1String("MSComm1") ? QStringLiteral("小天平") : QString();
        });
        QCOMPARE(e.plain, plain);
        QCOMPARE(e.detail, detail);
        QCOMPARE(e.fault, fault);
    }

    void eventLogKeepsTheLastMessages() {
        StatusLine status;
        FixedClock clock(QDateTime(QDate(2024, 3, 2), QTime(9, 0)));
        EventLog log(status, clock);
        for (int i = 0; i < EventLog::kKept + 5; ++i)
            status.report(QStringLiteral("m%1").arg(i));
        status.clear();
        QCOMPARE(log.events().size(), EventLog::kKept);
        QCOMPARE(log.events().first().plain, QStringLiteral("m5"));
        QCOMPARE(log.events().last().time, clock.now());
    }
};

QTEST_GUILESS_MAIN(TestPanel)
#include "test_panel.moc"
