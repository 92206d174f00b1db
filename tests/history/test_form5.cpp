#include "app/Station.h"
#include "config/SettingsFile.h"
#include "config/StationSettings.h"
#include "devices/BalanceReadings.h"
#include "devices/MemorySerialPort.h"
#include "history/Form5.h"
#include "history/HistoryBrowser.h"
#include "jobs/JobFile.h"
#include "station/Form3.h"
#include "tests/history/HistoryFiles.h"
#include "tests/support/TestSupport.h"
#include "weighing/Sequencer.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {

QStringList lines(const QListView* l) {
    QStringList out;
    for (int i = 0; i < l->model()->rowCount(); ++i)
        out << l->model()->index(i, 0).data().toString();
    return out;
}

QStringList items(const QListWidget* l) {
    QStringList out;
    for (int i = 0; i < l->count(); ++i)
        out << l->item(i)->text();
    return out;
}

template <typename T> T* child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(QLatin1String(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}

void click(QListWidget* list, int row) {
    const QRect r = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
}

} // namespace

class TestForm5 : public QObject {
    Q_OBJECT
private slots:
    void browseSearchAndTotal() {
        WorkDir w;
        QDir(w.path()).mkpath(QStringLiteral("data"));
        w.write(QStringLiteral("data/DATE_202403.txt"),
                historyFile({{"A-1", "2024/03/02 09:05:07", {{"R-101", "1000"}}},
                             {"B-2", "2024/03/15 10:00:00", {{"R-101", "234.5"}}}}));
        StationSettings settings;
        HistoryBrowser browser(w.path());
        Form5 f(browser, settings);
        f.show();
        auto* list2 = child<QListWidget>(f, "List2");
        auto* list1 = child<QListView>(f, "List1");
        auto* text1 = child<QLineEdit>(f, "Text1");
        QCOMPARE(items(list2), QStringList{"DATE_202403.txt"});
        QCOMPARE(child<QPushButton>(f, "Command1")->text(), QStringLiteral("統計當前用量"));
        QCOMPARE(child<QLabel>(f, "Label1")->text(), Form5::hintText());

        text1->setText(QStringLiteral("left over"));
        click(list2, 0);
        QCOMPARE(lines(list1).size(), 2);
        QVERIFY(lines(list1).value(0).startsWith(QLatin1String("A-1 ")));
        QVERIFY(text1->text().isEmpty());

        QTest::keyClicks(text1, QStringLiteral("##15"));
        QTest::keyClick(text1, Qt::Key_Return);
        QCOMPARE(lines(list1).size(), 1);
        QVERIFY(lines(list1).value(0).startsWith(QLatin1String("B-2 ")));

        QTest::mouseClick(child<QPushButton>(f, "Command1"), Qt::LeftButton);
        QCOMPARE(lines(list1), QStringList{"1   R-101   0.2345(KG)"});

        QTest::keyClick(text1, Qt::Key_Return); // Enter shows the matches again
        QCOMPARE(lines(list1).size(), 1);

        QTest::mouseClick(child<QPushButton>(f, "Command2"), Qt::LeftButton);
        QVERIFY(f.isHidden());
    }

    void monthsAreReadAgainWhenShownAndAFolderSaysSo() {
        WorkDir w;
        StationSettings settings;
        HistoryBrowser browser(w.path());
        Form5 f(browser, settings);
        f.show();
        auto* list2 = child<QListWidget>(f, "List2");
        QCOMPARE(list2->count(), 0);
        w.write(QStringLiteral("data/DATE_202403.txt"),
                historyFile({{"A-1", "2024/03/02 09:05:07", {{"R", "1"}}}}));
        QDir(w.path()).mkpath(QStringLiteral("data/DATE_202404.txt")); // a folder
        f.hide();
        f.show();
        QCOMPARE(items(list2), (QStringList{"DATE_202403.txt", "DATE_202404.txt"}));

        click(list2, 0);
        auto* list1 = child<QListView>(f, "List1");
        QCOMPARE(lines(list1).size(), 1);
        click(list2, 1);
        QCOMPARE(lines(list1).size(), 1); // the last loaded month stays
        QVERIFY(child<QLabel>(f, "StatusLine")->text().contains(QLatin1String("DATE_202404.txt")));
        QCOMPARE(browser.loadedName(), QStringLiteral("DATE_202403.txt"));
    }

    void aLargeMonthLoadsInStepsWithProgress() {
        WorkDir w;
        QDir(w.path()).mkpath(QStringLiteral("data"));
        w.write(QStringLiteral("data/DATE_202402.txt"),
                historyFile({{"OLD", "2024/02/01 08:00:00", {{"R", "1"}}}}));
        QByteArray big;
        const int n = 2 * Form5::kRecordsPerStep + 5;
        for (int k = 0; k < n; ++k)
            big +=
                historyRecord({"N" + QByteArray::number(k), "2024/03/09 12:00:00", {{"K", "2"}}});
        w.write(QStringLiteral("data/DATE_202403.txt"), big);
        StationSettings settings;
        HistoryBrowser browser(w.path());
        Form5 f(browser, settings);
        f.show();
        auto* list2 = child<QListWidget>(f, "List2");
        auto* list1 = child<QListView>(f, "List1");
        auto* progress = child<QProgressBar>(f, "Progress");
        click(list2, 0);
        QCOMPARE(lines(list1).size(), 1); // one step: shown at once
        QVERIFY(progress->isHidden());
        click(list2, 1);
        QVERIFY(progress->isVisible());
        QCOMPARE(progress->maximum(), n);
        QCOMPARE(progress->value(), Form5::kRecordsPerStep);
        QCOMPARE(lines(list1).size(), 1); // February until March is complete
        for (int i = 0; i < 50 && progress->isVisible(); ++i)
            QCoreApplication::processEvents();
        QVERIFY(progress->isHidden());
        QCOMPARE(lines(list1).size(), n);
        QCOMPARE(browser.loadedName(), QStringLiteral("DATE_202403.txt"));
    }

    // A job weighed by the station is found in the history window opened from the main
    // window: the month's file, the order, its totals.
    void aWeighedJobIsFoundAndTotalled() {
        WorkDir w;
        StationSettings s;
        s.setText(Setting::WeightDecision, QStringLiteral("1000"));
        s.setText(Setting::BalancePort1, QStringLiteral("1"));
        s.setText(Setting::BalancePort2, QStringLiteral("2"));
        QVERIFY(SettingsFile::save(w.file(QStringLiteral("set.txt")), s).ok());
        JobRecord job;
        job.OrderNo = QStringLiteral("DEMO-1");
        job.Code[1] = QStringLiteral("R-101");
        job.Weight[1] = QStringLiteral("12.34");
        job.Code[2] = QStringLiteral("Y-7");
        job.Weight[2] = QStringLiteral("5.67");
        QVERIFY(AppendJob(w.file(QStringLiteral("START_DISPEN.txt")), job).ok());

        FixedClock clock(QDateTime(QDate(2024, 3, 2), QTime(9, 5, 7)));
        StationOptions o;
        o.workDir = w.path();
        o.portFactory = [] { return std::make_unique<MemorySerialPort>(); };
        o.clock = &clock;
        Station st(o);
        st.start();
        WeighingModel& m = st.weighing();
        st.readings().setLive(Balance::Large, true);
        st.readings().setLive(Balance::Small, true);
        auto until = [&](int state) {
            for (int i = 0; i < 400 && m.State != state; ++i)
                st.sequencer().tick();
            return m.State == state;
        };
        for (int line = 1; line <= 2; ++line) {
            QVERIFY(until(SequencerState::Weigh));
            st.readings().setCaption(Balance::Small, m.LineTable[lineSlot(line, LineSlot::Target)]);
            for (int i = 0; i < Sequencer::kSettleTicks; ++i)
                st.sequencer().tick();
            st.readings().setCaption(Balance::Small, QStringLiteral("0"));
        }
        QVERIFY(until(SequencerState::Finish));
        QVERIFY(until(SequencerState::Idle));

        QTest::mouseClick(st.form3().Command3, Qt::LeftButton);
        Form5& f = st.form5();
        QVERIFY(f.isVisible());
        QCOMPARE(f.pos(), QPoint(100 * 96 / 1440, 100 * 96 / 1440)); // 100 twips from the top left
        auto* list2 = child<QListWidget>(f, "List2");
        QCOMPARE(items(list2), QStringList{"DATE_202403.txt"});
        click(list2, 0);
        auto* list1 = child<QListView>(f, "List1");
        QCOMPARE(lines(list1).size(), 1);
        QTest::keyClicks(child<QLineEdit>(f, "Text1"), QStringLiteral(" DEMO-1"));
        QTest::keyClick(child<QLineEdit>(f, "Text1"), Qt::Key_Return);
        QCOMPARE(lines(list1).size(), 1);
        QVERIFY(lines(list1).value(0).startsWith(QLatin1String("DEMO-1 ")));
        QCOMPARE(lines(list1).value(0).mid(60, 19), QStringLiteral("2024/03/02 09:05:07"));
        QTest::mouseClick(child<QPushButton>(f, "Command1"), Qt::LeftButton);
        QCOMPARE(lines(list1), (QStringList{"1   R-101   0.01234(KG)", "2   Y-7   0.00567(KG)"}));
    }

    void languageOneAssignsTheSameWording() {
        WorkDir w;
        StationSettings settings;
        settings.setText(Setting::Language, QStringLiteral("1"));
        HistoryBrowser browser(w.path());
        Form5 f(browser, settings);
        child<QLabel>(f, "Label1")->setText(QString());
        child<QPushButton>(f, "Command1")->setText(QString());
        f.show();
        QCOMPARE(child<QLabel>(f, "Label1")->text(),
                 QStringLiteral(
                     "輸入搜索編碼 ENTER 搜索當頁結果  輸入## + 日期 等於搜尋當天 例如 ##02 ##15"));
        QCOMPARE(child<QPushButton>(f, "Command1")->text(), QStringLiteral("統計當前用量"));
        QCOMPARE(child<QPushButton>(f, "Command2")->text(), QStringLiteral("EXIT"));
    }
};

QTEST_MAIN(TestForm5)
#include "test_form5.moc"
