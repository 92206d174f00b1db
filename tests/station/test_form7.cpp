// The box/barrel dialog, clicked offscreen, with the real sequencer acting on the choice.
#include "app/Station.h"
#include "common/Clock.h"
#include "common/StatusLine.h"
#include "config/StationSettings.h"
#include "devices/BalanceReadings.h"
#include "devices/LightBus.h"
#include "devices/LightMap.h"
#include "devices/MemorySerialPort.h"
#include "jobs/JobFile.h"
#include "station/Form3.h"
#include "station/Form7.h"
#include "tests/support/SequencerRig.h"
#include "tests/support/TestSupport.h"
#include "weighing/RunControl.h"
#include "weighing/Sequencer.h"
#include "weighing/StationTimers.h"
#include "weighing/WeighingModel.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

namespace {

struct Rig : SequencerRig {
    Form7 form7{model};

    void queue(const QString& target) {
        JobRecord j;
        j.OrderNo = QStringLiteral("A1");
        j.Code[1] = QStringLiteral("C1");
        j.Weight[1] = target;
        j.Code[2] = QStringLiteral("C2");
        j.Weight[2] = QStringLiteral("10");
        QVERIFY(AppendJob(dir.file(QStringLiteral("START_DISPEN.txt")), j).ok());
    }
    bool until(int state, int limit = 400) { return SequencerRig::until(state, limit); }
    void large(const QString& caption) { readings.setCaption(Balance::Large, caption); }
    QString actual() const { return model.LineTable[lineSlot(model.Line, LineSlot::Actual)]; }
    void choose(int k) {
        form7.show();
        QTest::mouseClick(form7.Command1[size_t(k)], Qt::LeftButton);
    }
};

} // namespace

class TestForm7 : public QObject {
    Q_OBJECT
private slots:
    void buttonsSetTheChoiceAndHide_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("choice");
        QTest::newRow("change barrel") << 0 << "換桶" << 1;
        QTest::newRow("add one box") << 1 << "增加一箱" << 2;
        QTest::newRow("deduct whole box") << 2 << "整箱扣除" << 3;
        QTest::newRow("cancel") << 3 << "取消" << 0;
    }
    void buttonsSetTheChoiceAndHide() {
        QFETCH(int, button);
        QFETCH(QString, caption);
        QFETCH(int, choice);
        WeighingModel model;
        model.BoxChoice = 9;
        Form7 f(model);
        f.show();
        auto* b = f.findChild<QPushButton*>(QStringLiteral("Command1(%1)").arg(button));
        QVERIFY(b);
        QCOMPARE(b->text(), caption);
        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(model.BoxChoice, choice);
        QVERIFY(f.isHidden());
    }

    // The dialog is never partly off the screen's free area, whatever the screen's size.
    void placement_data() {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<bool>("placed");
        QTest::addColumn<QPoint>("at");
        const QSize d(300, 340);
        QTest::newRow("never placed: the middle")
            << QRect(QPoint(0, 0), d) << false << QPoint(532, 213);
        QTest::newRow("placed inside: stays")
            << QRect(QPoint(100, 50), d) << true << QPoint(100, 50);
        QTest::newRow("half off the bottom right: moved in")
            << QRect(QPoint(1200, 600), d) << true << QPoint(1066, 388);
        QTest::newRow("off the top left: moved in")
            << QRect(QPoint(-150, -20), d) << true << QPoint(0, 40);
        QTest::newRow("taller than the screen: its top shows")
            << QRect(QPoint(10, 300), QSize(300, 900)) << true << QPoint(10, 40);
    }
    void placement() {
        QFETCH(QRect, frame);
        QFETCH(bool, placed);
        QFETCH(QPoint, at);
        const QRect free(0, 40, 1366, 688); // 1366x768 less a panel of 40 at the top
        QCOMPARE(Form7::placement(frame, free, placed), at);
    }

    void titledAndWholeOnTheScreenWhenShown() {
        WeighingModel model;
        Form7 f(model);
        QCOMPARE(f.windowTitle(), QStringLiteral("換桶與整箱"));
        f.move(5000, 5000);
        f.show();
        QVERIFY(f.screen()->availableGeometry().contains(f.frameGeometry()));
    }

    void changeBarrelAfter700Of1000() {
        Rig r;
        r.queue(QStringLiteral("1000")); // 1000 >= threshold: the large balance
        QVERIFY(r.until(SequencerState::Weigh));
        r.large(QStringLiteral("700"));
        r.ticks(2);
        QCOMPARE(r.actual(), QStringLiteral("700"));
        r.choose(0);
        r.ticks(1);
        QCOMPARE(r.model.State, SequencerState::AskContainer); // a new container is asked for
        QCOMPARE(r.model.BoxChoice, BoxChoiceCode::None);
        r.ticks(1);
        QCOMPARE(r.model.prompt, QStringLiteral("請在大天平(28KG)放上容器,按下歸零按鈕"));
        QCOMPARE(r.model.LineStatus[WeighingModel::kOverall], qint16(OverallStatus::Container));
        r.large(QStringLiteral("1500")); // the new barrel, then zeroed
        r.ticks(2);
        r.large(QStringLiteral("0"));
        QVERIFY(r.until(SequencerState::Weigh, 10));
        r.ticks(1);
        QCOMPARE(r.actual(), QStringLiteral("700"));
        QCOMPARE(r.model.LineStatus[1], qint16(LineStatusCode::Active)); // too little still
        r.large(QStringLiteral("300"));
        r.ticks(1);
        QCOMPARE(r.actual(), QStringLiteral("1000"));
        QCOMPARE(r.model.LineStatus[1], qint16(LineStatusCode::Within));
        r.ticks(Sequencer::kSettleTicks);
        QCOMPARE(r.model.Line, 2); // accepted
        QCOMPARE(r.model.LineTable[lineSlot(1, LineSlot::Actual)], QStringLiteral("1000"));
    }

    void addOneBoxOnA30000Line() {
        Rig r;
        r.queue(QStringLiteral("30000"));
        QVERIFY(r.until(SequencerState::Weigh));
        r.large(QStringLiteral("4000"));
        r.ticks(1);
        r.choose(1);
        r.ticks(1);
        QCOMPARE(r.actual(), QStringLiteral("29000"));
        QCOMPARE(r.model.State, SequencerState::Weigh);
        QVERIFY(r.model.boxText[0].contains(QStringLiteral("30000 => 29000")));
        r.large(QStringLiteral("5000"));
        r.ticks(1);
        QCOMPARE(r.actual(), QStringLiteral("30000"));
        QCOMPARE(r.model.LineStatus[1], qint16(LineStatusCode::Within));
    }

    void deductWholeBox() {
        Rig r;
        r.queue(QStringLiteral("30000"));
        QVERIFY(r.until(SequencerState::Weigh));
        r.large(QStringLiteral("4000"));
        r.ticks(1);
        r.choose(2);
        r.ticks(1);
        // The adjustment becomes the reading plus one box.
        QCOMPARE(r.model.Adjust.toString(), QStringLiteral("29000"));
        QCOMPARE(r.actual(), QStringLiteral("33000"));
        QCOMPARE(r.model.BoxChoice, BoxChoiceCode::None);
    }

    void cancelWithdrawsAPendingChoice() {
        Rig r;
        r.queue(QStringLiteral("1000"));
        QVERIFY(r.until(SequencerState::Weigh));
        r.large(QStringLiteral("700"));
        r.ticks(1);
        r.choose(0);
        r.choose(3); // before the sequencer's next tick
        r.ticks(3);
        QCOMPARE(r.model.State, SequencerState::Weigh);
        QCOMPARE(r.actual(), QStringLiteral("700"));
        QVERIFY(r.model.Adjust.isZero());
    }

    void choiceWhileIdleIsDiscardedAtTheNextLine() {
        Rig r;
        r.choose(1); // nothing is weighed: accepted and held
        QCOMPARE(r.model.BoxChoice, BoxChoiceCode::AddBox);
        r.queue(QStringLiteral("1000"));
        QVERIFY(r.until(SequencerState::Weigh));
        r.large(QStringLiteral("400"));
        r.ticks(2);
        QCOMPARE(r.actual(), QStringLiteral("400"));
        QVERIFY(r.model.Adjust.isZero());
    }

    void doubleClickOnALineBoxShowsTheDialog() {
        StationOptions o;
        WorkDir dir;
        o.workDir = dir.path();
        o.portFactory = [] { return std::make_unique<MemorySerialPort>(); };
        Station s(o);
        QPlainTextEdit* box = s.form3().findChild<QPlainTextEdit*>(QStringLiteral("Text1(3)"));
        QVERIFY(box);
        QVERIFY(!s.form7().isVisible());
        QTest::mouseDClick(box->viewport(), Qt::LeftButton);
        QVERIFY(s.form7().isVisible());
        QTest::mouseClick(s.form7().Command1[1], Qt::LeftButton);
        QCOMPARE(s.weighing().BoxChoice, BoxChoiceCode::AddBox);
        QVERIFY(!s.form7().isVisible());
    }
};

QTEST_MAIN(TestForm7)
#include "test_form7.moc"
