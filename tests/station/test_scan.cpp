// Barcode scans told from typing by their pace: the detector by plain calls, the routing
// through the real windows with time-stamped key events, offscreen.
#include "app/IntakeParts.h"
#include "app/Station.h"
#include "config/Form1.h"
#include "config/Form2.h"
#include "devices/Form6.h"
#include "devices/MemorySerialPort.h"
#include "recipes/Form4.h"
#include "recipes/RecipeEditor.h"
#include "station/Form3.h"
#include "station/JobFile.h"
#include "station/ScanDetector.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
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
    // Types `text` and Enter into `w`, `gapMs` apart, upper-case letters with Shift as a
    // keyboard-wedge scanner sends them.
    void type(QWidget* w, const QString& text, int gapMs) {
        for (QChar c : text) {
            key(w, c.toUpper().unicode(), QString(c),
                c.isUpper() ? Qt::ShiftModifier : Qt::NoModifier);
            t += quint64(gapMs);
        }
        key(w, Qt::Key_Return, QStringLiteral("\r"));
        t += 1000;
    }
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
        QCOMPARE(ReadAllJobs(r.dir.file(QStringLiteral("QUICK.txt"))).records.size(), 1);
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
};

QTEST_MAIN(TestScan)
#include "test_scan.moc"
