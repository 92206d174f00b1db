// The order intake in the whole station, offscreen, on the demo order database that
// scripts/odbc-demo.sh makes: scanning on the main window, the settings window's search
// and grid, the field-mapping window, and polling switched on from Form1.
#include "app/IntakeParts.h"
#include "app/Station.h"
#include "config/Form1.h"
#include "config/Form2.h"
#include "devices/MemorySerialPort.h"
#include "jobs/JobFile.h"
#include "station/Form3.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

class TestIntakeStation : public QObject {
    Q_OBJECT

    WorkDir m_dir;
    FixedClock m_clock{QDateTime(QDate(2027, 3, 15), QTime(10, 30, 0))};

    std::unique_ptr<Station> station() {
        StationOptions o;
        o.workDir = m_dir.path();
        o.clock = &m_clock;
        o.monthlyFolder = m_dir.file(QStringLiteral("dat3"));
        o.portFactory = [] { return std::make_unique<MemorySerialPort>(); };
        auto st = std::make_unique<Station>(o);
        st->start();
        return st;
    }
    QStringList orders(const QString& file) const {
        QStringList out;
        for (const QByteArray& r : readAllJobs(m_dir.file(file)).records)
            out << JobRecord::decode(r).OrderNo;
        return out;
    }
    template <class T> static T* find(QWidget* w, const QString& name) {
        T* c = w->findChild<T*>(name);
        if (!c)
            qFatal("no control %s", qPrintable(name));
        return c;
    }

private slots:
    void initTestCase() {
        QProcess p;
        p.start(QStringLiteral("bash"), {QDir(qEnvironmentVariable("DS_SOURCE_DIR"))
                                             .filePath(QStringLiteral("scripts/odbc-demo.sh")),
                                         m_dir.path()});
        QVERIFY(p.waitForFinished(30000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        QVERIFY(p.readAllStandardOutput().contains("ODBCSYSINI="));
        qputenv("ODBCSYSINI", QFile::encodeName(m_dir.file(QStringLiteral("odbc"))));
        qputenv("ODBCINI", QFile::encodeName(m_dir.file(QStringLiteral("odbc/odbc.ini"))));
    }

    void scanOnTheMainWindow() {
        auto st = station();
        Form1& f1 = st->form1();
        Form3& f3 = st->form3();
        QCOMPARE(f1.MSFlexGrid1->columnCount(), 17); // field count 15 + 2
        auto* timer2 = find<QTimer>(&f1, QStringLiteral("Timer2"));
        QVERIFY(timer2->isActive()); // PollSeconds 1
        QCOMPARE(timer2->interval(), 1000);

        f3.Text2->setText(QStringLiteral(" DEMO-1001 "));
        QTest::keyClick(f3.Text2, Qt::Key_Return);
        QCOMPARE(f3.Text2->text(), QString()); // cleared at the end of the Enter
        // The demo ticks DirectRun: the scanned order goes straight to the queue.
        QTRY_COMPARE_WITH_TIMEOUT(orders(QStringLiteral("START_DISPEN.txt")),
                                  QStringList{"DEMO-1001"}, 20000);
        QCOMPARE(
            f1.Text1->toPlainText(),
            QStringLiteral("select * from vantrell where id_no = 'DEMO-1001' and prod_type = 1"));
        const JobRecord j =
            JobRecord::decode(ReadJob(m_dir.file(QStringLiteral("START_DISPEN.txt")), 1).bytes);
        QCOMPARE(j.Code[3], QStringLiteral("AUX-1"));
        QCOMPARE(j.Weight[2], QStringLiteral("3.25"));
        QCOMPARE(j.B01[1], QStringLiteral("first"));
        // Without DirectRun it is kept in the recipe list.
        st->settings().setOption(Option::DirectRun, 0);
        f3.Text2->setText(QStringLiteral("DEMO-1001"));
        QTest::keyClick(f3.Text2, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(orders(QStringLiteral("QUICK.txt")), QStringList{"DEMO-1001"},
                                  20000);
        QTRY_VERIFY(
            !f3.List1->findItems(QStringLiteral("DEMO-1001"), Qt::MatchStartsWith).isEmpty());

        // The staging grid: header, three rows, a numbered blank row; a click names the cell.
        QCOMPARE(f1.MSFlexGrid1->rowCount(), 5);
        QCOMPARE(f1.MSFlexGrid1->item(0, 9)->text(), QStringLiteral("9"));
        QCOMPARE(f1.MSFlexGrid1->item(4, 0)->text(), QStringLiteral("4"));
        QCOMPARE(f1.MSFlexGrid1->item(2, 9)->text(), QStringLiteral("Y-201"));
        f1.show();
        const QRect cell = f1.MSFlexGrid1->visualItemRect(f1.MSFlexGrid1->item(2, 5));
        QTest::mouseClick(f1.MSFlexGrid1->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(f1.Text1->toPlainText(), QStringLiteral(" <Y> 5  <X> 2"));

        // The settings window's search uses prod_type 2: DEMO-1002 has none, nothing is
        // written, and the box is emptied once the rows are read.
        f1.Text3->setText(QStringLiteral("DEMO-1002"));
        QTest::keyClick(f1.Text3, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(f1.Text3->text(), QString(), 20000);
        QCOMPARE(st->intake().db.inFlight(), 0);
        QVERIFY(!m_dir.exists(QStringLiteral("QUICK_A.txt")));
        QCOMPARE(f1.MSFlexGrid1->rowCount(), 2);
    }

    // The demo's DEMO-1003 has a weight with a decimal comma: the scan is answered with the
    // line and the value, and nothing is queued.
    void scanOfAnOrderWithABadWeight() {
        auto st = station();
        Form3& f3 = st->form3();
        const QStringList before =
            orders(QStringLiteral("START_DISPEN.txt")) + orders(QStringLiteral("QUICK.txt"));
        f3.Text2->setText(QStringLiteral("DEMO-1003"));
        QTest::keyClick(f3.Text2, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(st->status().text().contains(QStringLiteral("DEMO-1003")), 20000);
        QVERIFY2(st->status().text().contains(QStringLiteral("第 2 行重量「1,5」")),
                 qPrintable(st->status().text()));
        QCOMPARE(orders(QStringLiteral("START_DISPEN.txt")) + orders(QStringLiteral("QUICK.txt")),
                 before);
    }

    void fieldMappingWindow() {
        auto st = station();
        Form1& f1 = st->form1();
        QVERIFY(f1.Command2->isEnabled());
        QTest::mouseClick(f1.Command2, Qt::LeftButton);
        Form2& f2 = *st->intake().form2;
        QVERIFY(f2.isVisible());
        QCOMPARE(find<QLineEdit>(&f2, QStringLiteral("Text2(0)"))->text(), QStringLiteral("15"));
        QCOMPARE(find<QLabel>(&f2, QStringLiteral("Label2(39)"))->text(),
                 QStringLiteral("表單名稱"));
        QCOMPARE(find<QLabel>(&f2, QStringLiteral("Label1(1)"))->text(),
                 QStringLiteral("新粉體1染料2"));
        QVERIFY(find<QPlainTextEdit>(&f2, QStringLiteral("Text3"))
                    ->toPlainText()
                    .contains(QStringLiteral("條件欄位1=單號")));
        QTest::keyClicks(find<QComboBox>(&f2, QStringLiteral("Combo1(39)")),
                         QStringLiteral("vantrell"));
        QTest::keyClicks(find<QComboBox>(&f2, QStringLiteral("Combo1(20)")),
                         QStringLiteral("id_no"));
        QTest::keyClicks(find<QComboBox>(&f2, QStringLiteral("Combo1(21)")),
                         QStringLiteral("DEMO-1002"));
        QCOMPARE(st->intake().mapping.entry(20), QStringLiteral("id_no")); // acts at once
        QTest::mouseClick(find<QPushButton>(&f2, QStringLiteral("Command3")),
                          Qt::LeftButton); // 生成代碼
        QCOMPARE(f2.Text1->toPlainText(),
                 QStringLiteral("select * from vantrell where id_no = 'DEMO-1002'"));

        // 執行SQL with a field count above the grid's columns widens the grid.
        f2.Text2[0]->clear();
        QTest::keyClicks(f2.Text2[0], QStringLiteral("15"));
        QTest::mouseClick(find<QPushButton>(&f2, QStringLiteral("Command1")), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(f2.MSFlexGrid1->rowCount(), 4, 20000);
        QCOMPARE(f2.MSFlexGrid1->columnCount(), 17);
        QCOMPARE(f2.MSFlexGrid1->item(0, 16)->text(), QStringLiteral("16"));
        QCOMPARE(f2.MSFlexGrid1->item(2, 9)->text(), QStringLiteral("K-401"));
        QCOMPARE(f2.MSFlexGrid1->item(1, 0)->text(), QString()); // column 0 stays empty here

        QTest::mouseClick(find<QPushButton>(&f2, QStringLiteral("Command2")),
                          Qt::LeftButton); // 存檔
        QCOMPARE(m_dir.read(QStringLiteral("set2_2.txt")).size(), 6000);
        QCOMPARE(m_dir.read(QStringLiteral("set2_2.txt")).mid(39 * 100, 8), QByteArray("vantrell"));
        QTest::mouseClick(find<QPushButton>(&f2, QStringLiteral("Command4")),
                          Qt::LeftButton); // EXIT
        QVERIFY(!f2.isVisible());
        // Saved mapping, with the condition 1 alone: the next start builds the mapped query.
        QVERIFY(QFile::remove(m_dir.file(QStringLiteral("set2_2.txt"))));
    }

    void pollingSwitchedOnInForm1() {
        auto st = station();
        Form1& f1 = st->form1();
        f1.show();
        find<QCheckBox>(&f1, QStringLiteral("Check4(0)"))->click();
        QVERIFY(st->settings().isSet(Option::PollPowder));
        // Timer2 runs once a second: three released orders for station 1 come in by themselves.
        const auto polledOrders = [this] {
            QStringList out =
                orders(QStringLiteral("START_DISPEN.txt")).filter(QStringLiteral("POLL-"));
            out.sort();
            return out;
        };
        QTRY_COMPARE_WITH_TIMEOUT(polledOrders().size(), 3, 20000);
        const QStringList polled = polledOrders();
        QCOMPARE(polled, (QStringList{"POLL-2001", "POLL-2002", "POLL-2003"}));
        QTRY_VERIFY_WITH_TIMEOUT(f1.Text1->toPlainText().startsWith(QStringLiteral("select")),
                                 5000);
        QCOMPARE(f1.StatusLabel->text(), QString());
    }
};

QTEST_MAIN(TestIntakeStation)
#include "test_intake_station.moc"
