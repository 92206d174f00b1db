// Barcode scans told from typing by their pace: the detector by plain calls, the routing
// through the real windows with time-stamped key events, offscreen.
#include "app/IntakeParts.h"
#include "app/ScanRouter.h"
#include "app/Station.h"
#include "config/Form1.h"
#include "config/Form2.h"
#include "devices/Form6.h"
#include "devices/MemorySerialPort.h"
#include "jobs/JobFile.h"
#include "recipes/Form4.h"
#include "recipes/RecipeEditor.h"
#include "station/Form3.h"
#include "station/Form7.h"
#include "station/QueueCommands.h"
#include "tests/support/TestSupport.h"
#include "weighing/ScanDetector.h"
#include "weighing/WeighingModel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

struct Rig {
    WorkDir dir;
    std::unique_ptr<Station> station;
    quint64 t = 1000; // the window system's key time, ms
    Rig() {
        StationOptions o;
        o.workDir = dir.path();
        o.portFactory = [] { return std::make_unique<MemorySerialPort>(); };
        station = std::make_unique<Station>(o);
    }
    template <class T> T* find(QWidget* window, const char* name) {
        T* w = window->findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    void key(QWidget* w, int code, const QString& text,
             Qt::KeyboardModifiers mods = Qt::NoModifier) {
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent e(type, code, mods, text);
            e.setTimestamp(t);
            QApplication::sendEvent(w, &e);
        }
    }
    // Types `text` into `w`, `gapMs` apart, upper-case letters with Shift as a
    // keyboard-wedge scanner sends them.
    void keys(QWidget* w, const QString& text, int gapMs) {
        for (QChar c : text) {
            key(w, c.toUpper().unicode(), QString(c),
                c.isUpper() ? Qt::ShiftModifier : Qt::NoModifier);
            t += quint64(gapMs);
        }
    }
    // The same, closed by Enter.
    void type(QWidget* w, const QString& text, int gapMs) {
        keys(w, text, gapMs);
        key(w, Qt::Key_Return, QStringLiteral("\r"));
        t += 1000;
    }
    // The main window with recipes and a queue to act on; counts every button click.
    Form3& mainWindow() {
        Form3& f3 = r3();
        f3.setRecipeEntries(
            {QStringLiteral("A-1"), QStringLiteral("DEMO-9"), QStringLiteral("R-7")});
        f3.List1->setCurrentRow(0);
        JobRecord j;
        j.OrderNo = QStringLiteral("Q1");
        AppendJob(dir.file(QStringLiteral("START_DISPEN.txt")), j).ok();
        station->queueCommands().reloadQueueList();
        f3.List2->setCurrentRow(0);
        for (QAbstractButton* b : f3.findChildren<QAbstractButton*>())
            QObject::connect(b, &QAbstractButton::clicked, b, [this] { ++clicks; });
        return f3;
    }
    Form3& r3() { return station->form3(); }
    int clicks = 0;
};

} // namespace

class TestScan : public QObject {
    Q_OBJECT
private slots:
    void detector_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>(
            "gaps"); // before each character after the first, then before Enter
        QTest::addColumn<bool>("scan");
        using G = QList<int>;
        QTest::newRow("scanner, 4 ms") << "DEMO-1002" << G(9, 4) << true;
        QTest::newRow("at the limit") << "ABCD" << G(4, 25) << true;
        QTest::newRow("slow Enter") << "ABCD" << G{4, 4, 4, 26} << false;
        QTest::newRow("one slow key") << "ABCDEF" << G{4, 4, 60, 4, 4, 4} << false;
        QTest::newRow("too short") << "ABC" << G(3, 4) << false;
        QTest::newRow("fast typist") << "DEMO-1002" << G(9, 60) << false;
        QTest::newRow("typist's rollover") << "DEMO" << G{70, 12, 80, 90} << false;
    }
    void detector() {
        QFETCH(QString, text);
        QFETCH(QList<int>, gaps);
        QFETCH(bool, scan);
        ScanDetector d;
        quint64 t = 5000;
        for (int i = 0; i < text.size(); ++i) {
            if (i > 0)
                t += quint64(gaps.at(i - 1));
            d.character(text.mid(i, 1), t);
        }
        const std::optional<QString> got = d.enter(t + quint64(gaps.last()));
        QCOMPARE(got.has_value(), scan);
        if (scan)
            QCOMPARE(*got, text);
        QVERIFY(!d.holding());
    }

    // A scan into a setting, a light position or a field mapping never reaches it: it
    // runs as an order entry of the main window, and nothing is saved.
    void guardedFieldsSendScansToTheOrderEntry_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("field");
        QTest::newRow("settings: data source") << "Form1"
                                               << "Text2(0)";
        QTest::newRow("light map: position 1") << "Form6"
                                               << "Text1(0)";
        QTest::newRow("field mapping") << "Form2"
                                       << "Text2(0)";
    }
    void guardedFieldsSendScansToTheOrderEntry() {
        QFETCH(QString, window);
        QFETCH(QString, field);
        Rig r;
        QWidget* win = window == "Form1"   ? static_cast<QWidget*>(&r.station->form1())
                       : window == "Form6" ? static_cast<QWidget*>(&r.station->form6())
                                           : r.station->intake().form2.get();
        auto* box = r.find<QLineEdit>(win, qPrintable(field));
        box->setText(QStringLiteral("R-101"));
        const QByteArray lightMap = r.dir.read(QStringLiteral("DYE_LIGHT.txt"));
        QSignalSpy orders(&r.station->form3(), &Form3::orderEntered);
        r.type(box, QStringLiteral("DEMO-1002"), 4);
        QCOMPARE(box->text(), QStringLiteral("R-101"));
        QCOMPARE(orders.count(), 1);
        QCOMPARE(orders.at(0).at(0).toString(), QStringLiteral("DEMO-1002"));
        QCOMPARE(r.dir.read(QStringLiteral("DYE_LIGHT.txt")), lightMap);
        QVERIFY(
            !r.station->settings().text(Setting::DataSourceName).contains(QStringLiteral("DEMO")));
    }

    // A person's typing, also fast, lands as typed: the light position is saved by Enter.
    void typingLandsAsTyped_data() {
        QTest::addColumn<int>("gapMs");
        QTest::newRow("steady") << 150;
        QTest::newRow("fast") << 45;
    }
    void typingLandsAsTyped() {
        QFETCH(int, gapMs);
        Rig r;
        auto* box = r.find<QLineEdit>(&r.station->form6(), "Text1(0)");
        QSignalSpy orders(&r.station->form3(), &Form3::orderEntered);
        r.type(box, QStringLiteral("R-101"), gapMs);
        QCOMPARE(box->text(), QStringLiteral("R-101"));
        QCOMPARE(orders.count(), 0);
        QVERIFY(r.dir.read(QStringLiteral("DYE_LIGHT.txt")).startsWith("R-101"));
    }

    // A key still held to judge its pace is typed before a click acts on the boxes.
    void clickRightAfterTypingSeesTheKey() {
        Rig r;
        Form4& f4 = r.station->form4();
        f4.show();
        r.type(f4.Text1[0], QStringLiteral("R-1"), 150);
        r.type(f4.Text1[10], QStringLiteral("5"), 150);
        r.key(f4.Text2, 'Z', QStringLiteral("Z"), Qt::ShiftModifier);
        QTest::mouseClick(f4.Command1, Qt::LeftButton);
        QCOMPARE(readAllJobs(r.dir.file(QStringLiteral("QUICK.txt"))).records.size(), 1);
        QCOMPARE(ReadJob(r.dir.file(QStringLiteral("QUICK.txt")), 1).job.OrderNo,
                 QStringLiteral("Z"));
    }

    // Where a scan is meant, it replaces what the box held.
    void scanFieldsReplaceTheirContent() {
        Rig r;
        Form1& f1 = r.station->form1();
        f1.Text3->setText(QStringLiteral("OLD-1"));
        QSignalSpy searches(&f1, &Form1::searchEntered);
        r.type(f1.Text3, QStringLiteral("DEMO-1001"), 4);
        QCOMPARE(searches.count(), 1);
        QCOMPARE(searches.at(0).at(0).toString(), QStringLiteral("DEMO-1001"));

        Form4& f4 = r.station->form4();
        f4.Text2->setText(QStringLiteral("A-OLD"));
        r.station->recipes().Text2 = QStringLiteral("A-OLD");
        r.type(f4.Text2, QStringLiteral("DEMO-1001"), 4);
        QCOMPARE(f4.Text2->text(), QStringLiteral("DEMO-1001"));
        QCOMPARE(r.station->recipes().Text2, QStringLiteral("DEMO-1001"));
        QVERIFY(!r.dir.exists(QStringLiteral("QUICK.txt")) ||
                r.dir.read(QStringLiteral("QUICK.txt")).isEmpty());
    }

    // A scan with any control of the main window focused runs as an order entry: no list
    // moves, no button is pressed (by the space inside a lot number neither), no box is
    // ticked, the queue stays. "Form3": no control has the focus, the window takes the keys.
    void mainWindowControlsSendScansToTheOrderEntry_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("scan");
        for (const char* c : {"List1", "List2", "Command1", "Command4", "Command7", "ZeroButton(0)",
                              "Check1", "EventList", "WeighingPanel", "Form3"})
            for (const char* scan : {"DEMO-1002", "R-101 L2309"})
                QTest::newRow(
                    qPrintable(QStringLiteral("%1, %2").arg(QLatin1String(c), QLatin1String(scan))))
                    << c << scan;
    }
    void mainWindowControlsSendScansToTheOrderEntry() {
        QFETCH(QString, control);
        QFETCH(QString, scan);
        Rig r;
        Form3& f3 = r.mainWindow();
        const QByteArray queue = r.dir.read(QStringLiteral("START_DISPEN.txt"));
        QWidget* w = control == "Form3" ? &f3 : r.find<QWidget>(&f3, qPrintable(control));
        QSignalSpy orders(&f3, &Form3::orderEntered);
        r.type(w, scan, 5);
        QCOMPARE(orders.count(), 1);
        QCOMPARE(orders.at(0).at(0).toString(), scan);
        QCOMPARE(r.clicks, 0);
        QCOMPARE(f3.List1->currentRow(), 0);
        QCOMPARE(f3.List2->currentRow(), 0);
        QVERIFY(!f3.Check[0]->isChecked());
        QCOMPARE(r.dir.read(QStringLiteral("START_DISPEN.txt")), queue);
        QVERIFY(f3.Text2->text().isEmpty());
    }

    // At a person's pace the keys still work the controls, held only until the pace is
    // known: a letter moves the recipe list, a space presses the button or ticks the box.
    void typingStillWorksTheMainWindowControls() {
        Rig r;
        Form3& f3 = r.mainWindow();
        QSignalSpy orders(&f3, &Form3::orderEntered);
        // Fast typing, but not a scanner's: the keys reach the list, Enter included.
        r.type(f3.List1, QStringLiteral("DEMO"), 60);
        QCOMPARE(f3.List1->currentRow(), 1);
        // The list's own search starts afresh after a pause.
        QTest::qWait(QApplication::keyboardInputInterval() + 50);
        r.keys(f3.List1, QStringLiteral("r"), 150);
        QTRY_COMPARE(f3.List1->currentRow(), 2);
        r.keys(f3.Check[0], QStringLiteral(" "), 150);
        QTRY_VERIFY(f3.Check[0]->isChecked());
        QSignalSpy refresh(&f3, &Form3::refreshRecipes);
        r.keys(f3.Command4, QStringLiteral(" "), 150);
        QTRY_COMPARE(refresh.count(), 1);
        QVERIFY(!f3.Command4->isDown());
        QCOMPARE(orders.count(), 0);
    }

    // No button of another window is pressed by a scan (a change of barrel would void the
    // line's container, a save or a delete would act on half a form): the scan goes to the
    // order entry instead.
    void otherWindowsButtonsTakeNoScan_data() {
        QTest::addColumn<QString>("window");
        for (const char* w : {"Form7", "Form1", "Form4", "Form6"})
            QTest::newRow(w) << w;
    }
    void otherWindowsButtonsTakeNoScan() {
        QFETCH(QString, window);
        Rig r;
        Station& st = *r.station;
        QWidget* w = window == "Form7"   ? static_cast<QWidget*>(&st.form7())
                     : window == "Form1" ? static_cast<QWidget*>(&st.form1())
                     : window == "Form4" ? static_cast<QWidget*>(&st.form4())
                                         : static_cast<QWidget*>(&st.form6());
        const QList<QAbstractButton*> buttons = w->findChildren<QAbstractButton*>();
        QVERIFY(!buttons.isEmpty());
        int clicks = 0;
        for (QAbstractButton* b : buttons)
            QObject::connect(b, &QAbstractButton::clicked, b, [&clicks] { ++clicks; });
        QSignalSpy orders(&r.r3(), &Form3::orderEntered);
        for (QAbstractButton* b : buttons)
            r.type(b, QStringLiteral("R-101 L2309"), 5);
        QCOMPARE(clicks, 0);
        QCOMPARE(orders.count(), buttons.size());
        QCOMPARE(st.weighing().BoxChoice, int(BoxChoiceCode::None));
    }

    // With the RUN/STOP/DEL menu open and DEL chosen, a scan's Enter does not delete.
    void openMenuTakesNoScan() {
        Rig r;
        Form3& f3 = r.mainWindow();
        f3.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f3));
        QMenu* menu = r.find<QMenu>(&f3, "RUN_TOOL");
        menu->popup(f3.mapToGlobal(QPoint(10, 10)));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        menu->setActiveAction(menu->actions().last());
        QSignalSpy triggered(menu, &QMenu::triggered);
        QSignalSpy orders(&f3, &Form3::orderEntered);
        r.type(menu, QStringLiteral("R-101 L2309"), 5);
        QCOMPARE(orders.count(), 1);
        QCOMPARE(triggered.count(), 0);
        // Typed by a person, Enter still runs the chosen command.
        r.key(menu, Qt::Key_Return, QStringLiteral("\r"));
        QCOMPARE(triggered.count(), 1);
    }

    // The main window opens with the focus in the order entry, which says what it takes.
    void mainWindowOpensReadyForAScan() {
        Rig r;
        Form3& f3 = r.r3();
        f3.show();
        QVERIFY(QTest::qWaitForWindowActive(&f3));
        QCOMPARE(QApplication::focusWidget(), f3.Text2);
        QCOMPARE(f3.Text2Label->buddy(), f3.Text2);
        QVERIFY(!f3.Text2Label->text().isEmpty());
        QVERIFY(!f3.Text2->placeholderText().isEmpty());
        // A scan now lands in the entry as it always did.
        QSignalSpy orders(&f3, &Form3::orderEntered);
        r.type(f3.Text2, QStringLiteral("DEMO-1002"), 5);
        QCOMPARE(orders.count(), 1);
        QCOMPARE(orders.at(0).at(0).toString(), QStringLiteral("DEMO-1002"));
    }
};

QTEST_MAIN(TestScan)
#include "test_scan.moc"
