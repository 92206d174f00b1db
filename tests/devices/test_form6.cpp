#include "common/StatusLine.h"
#include "common/TickTimer.h"
#include "config/StationSettings.h"
#include "devices/Form6.h"
#include "devices/LightBus.h"
#include "devices/LightMap.h"
#include "devices/MemorySerialPort.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class TestForm6 : public QObject {
    Q_OBJECT

    struct Window {
        WorkDir dir;
        StationSettings settings;
        MemorySerialPort port;
        TickTimer timer5{10};
        StatusLine status;
        LightMap map;
        LightBus bus{settings, port, timer5, status};
        Form6 form;
        explicit Window(bool withBus = true)
            : form(map, withBus ? &bus : nullptr, status, dir.file("DYE_LIGHT.txt")) {
            settings.setText(Setting::LightPort, QStringLiteral("/dev/lights"));
            QVERIFY(port.open(QStringLiteral("/dev/lights")).ok());
        }
        QLineEdit* box(int i) {
            return form.findChild<QLineEdit*>(QStringLiteral("Text1(%1)").arg(i));
        }
        QLabel* label(int i) {
            return form.findChild<QLabel*>(QStringLiteral("Label1(%1)").arg(i));
        }
    };

private slots:
    void layout() {
        Window w;
        w.form.show();
        for (int i = 0; i < 120; ++i) {
            QLabel* l = w.label(i);
            QLineEdit* t = w.box(i);
            QVERIFY(l && t);
            QCOMPARE(l->text(), QString::number(i + 1));
            QVERIFY(l->geometry().right() < t->geometry().left()); // the number left of its box
            QCOMPARE(l->geometry().top(), t->geometry().top());
        }
        // Six columns of twenty: 1..20 down the first, 21 starts the second.
        QCOMPARE(w.box(19)->x(), w.box(0)->x());
        QVERIFY(w.box(19)->y() > w.box(18)->y());
        QVERIFY(w.box(20)->x() > w.box(19)->x());
        QCOMPARE(w.box(20)->y(), w.box(0)->y());
        QCOMPARE(w.box(100)->y(), w.box(0)->y());
        QCOMPARE(w.form.findChild<QPushButton*>("Command2")->text(), QString("CLOSE LIGHT"));
        QCOMPARE(w.form.findChild<QPushButton*>("Command1")->text(), QString("EXIT"));
    }

    void boxesFollowTheMapAndTypingCountsAtOnce() {
        Window w;
        w.map.setCode(5, QStringLiteral("R-101"));
        QCOMPARE(w.box(4)->text(), QString("R-101"));
        w.form.show();
        w.box(9)->setFocus();
        QTest::keyClicks(w.box(9), QStringLiteral("B-7"));
        QCOMPARE(w.map.code(10), QString("B-7"));
        QCOMPARE(w.map.lookup(QStringLiteral("B-7")), 10); // before any save
        QVERIFY(!w.dir.exists("DYE_LIGHT.txt"));
    }

    void enterSavesAllAndMovesOn() {
        Window w;
        w.form.show();
        QApplication::setActiveWindow(&w.form);
        w.box(2)->setFocus();
        QTest::keyClicks(w.box(2), QStringLiteral("  R-101  "));
        QTest::keyClick(w.box(2), Qt::Key_Return);
        const QByteArray bytes = w.dir.read("DYE_LIGHT.txt");
        QCOMPARE(bytes.size(), 6000);
        QCOMPARE(bytes.mid(100, 50), QByteArray("R-101") + QByteArray(45, ' '));
        QTRY_VERIFY(w.box(3)->hasFocus());

        w.box(119)->setFocus();
        QTest::keyClicks(w.box(119), QStringLiteral("LAST"));
        QTest::keyClick(w.box(119), Qt::Key_Enter);
        QCOMPARE(w.dir.read("DYE_LIGHT.txt").mid(5950), QByteArray("LAST") + QByteArray(46, ' '));
        QVERIFY(w.box(119)->hasFocus());
    }

    void clickLightsThePosition_data() {
        QTest::addColumn<int>("label");
        QTest::addColumn<QString>("frame");
        QTest::newRow("1") << 0 << "01 05 00 00 FF 00 8C 3A";
        QTest::newRow("73: module 10 output 0") << 72 << hex(LightBus::frame(73, 1));
        QTest::newRow("120: module 15 output 7") << 119 << hex(LightBus::frame(120, 1));
    }
    void clickLightsThePosition() {
        QFETCH(int, label);
        QFETCH(QString, frame);
        Window w;
        w.form.show();
        QTest::mouseClick(w.label(label), Qt::LeftButton);
        QCOMPARE(hex(w.port.allWritten()), frame);
    }

    void clickWithoutLightBus() {
        Window noBus(false);
        QSignalSpy reports(&noBus.status, &StatusLine::reported);
        noBus.form.show();
        QTest::mouseClick(noBus.label(0), Qt::LeftButton);
        QVERIFY(noBus.port.writes.isEmpty());
        QCOMPARE(reports.count(), 1);

        Window closed;
        closed.port.close();
        QTest::mouseClick(closed.label(0), Qt::LeftButton);
        QVERIFY(closed.port.writes.isEmpty());
        QVERIFY(!closed.status.text().isEmpty());
    }

    void windowMethods() {
        Window w;
        QVERIFY(w.form.CALL_LIGHT(9, 1).ok());
        QCOMPARE(hex(w.port.allWritten()), QString("02 05 00 00 FF 00 8C 09"));
    }

    void closeLightStartsTheSweepAndExitHides() {
        Window w;
        w.form.show();
        QTest::mouseClick(w.form.findChild<QPushButton*>("Command2"), Qt::LeftButton);
        QVERIFY(w.timer5.enabled());
        QTest::mouseClick(w.form.findChild<QPushButton*>("Command1"), Qt::LeftButton);
        QVERIFY(!w.form.isVisible());
        w.map.setCode(1, QStringLiteral("kept"));
        QCOMPARE(w.box(0)->text(), QString("kept"));
    }
};

QTEST_MAIN(TestForm6)
#include "test_form6.moc"
