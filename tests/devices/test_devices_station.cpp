// The device wiring of the whole station against devsim: the readings on the main
// window, zeroing from a double-click, the light map window and its lights.
#include "app/Station.h"
#include "config/SettingsFile.h"
#include "devices/Form6.h"
#include "devices/LightMap.h"
#include "station/Form3.h"
#include "tests/support/Devsim.h"
#include "tests/support/TestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

void prepare(const WorkDir& dir, const Devsim& sim, const QString& mode) {
    StationSettings s;
    s.setText(Setting::SetType, mode);
    s.setText(Setting::BalancePort1, sim.link(mode == "2" ? "bus" : "small"));
    s.setText(Setting::BalancePort2, sim.link("large"));
    s.setText(Setting::LightPort, sim.link("lights"));
    QVERIFY(SettingsFile::save(dir.file("set.txt"), s).ok());
    LightMap m;
    m.setCode(73, QStringLiteral("R-101"));
    QVERIFY(m.save(dir.file("DYE_LIGHT.txt")).ok());
}

QLabel* reading(Station& st, int i) {
    return st.form3().findChild<QLabel*>(QStringLiteral("Label1(%1)").arg(i));
}

} // namespace

class TestDevicesStation : public QObject {
    Q_OBJECT

private slots:
    void readingsAndZeroing_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("small");
        QTest::newRow("text frames") << "1"
                                     << "123.45";
        QTest::newRow("modbus") << "2"
                                << "123.45";
    }
    void readingsAndZeroing() {
        QFETCH(QString, mode);
        QFETCH(QString, small);
        Devsim sim({"--small", "123.45", "--large", "2000"});
        QVERIFY(sim.ready());
        WorkDir dir;
        prepare(dir, sim, mode);
        Station st({dir.path(), {}, nullptr});
        st.start();
        QVERIFY2(!st.runControl().StartupFailed(), qPrintable(st.status().text()));
        WAIT_COMPARE(reading(st, 1)->text(), small, 5000);
        WAIT_COMPARE(reading(st, 0)->text(), QString(mode == "1" ? "2000.0" : "2000"), 5000);
        // The sequencer looks codes up in the map loaded at start-up.
        QCOMPARE(st.lightMap().lookup(QStringLiteral("R-101")), 73);

        // Zeroing always goes to MSComm1: the Modbus line, or the small balance's port.
        QTest::mouseDClick(reading(st, 1), Qt::LeftButton);
        QVERIFY(st.timers().Timer6.enabled());
        if (mode == "2") {
            WAIT_VERIFY(sim.hasEvent("zero small"), 5000);
            WAIT_COMPARE(reading(st, 1)->text(), QString("0"), 5000);
        }
        WAIT_VERIFY(!st.timers().Timer6.enabled(), 5000);
        QVERIFY(st.timers().Timer1.enabled());
    }

    void lightMapWindow() {
        Devsim sim;
        QVERIFY(sim.ready());
        WorkDir dir;
        prepare(dir, sim, "1");
        Station st({dir.path(), {}, nullptr});
        st.start();
        QPushButton* command6 = st.form3().Command6;
        QVERIFY(command6->isEnabled());
        QTest::mouseClick(command6, Qt::LeftButton);
        Form6& f6 = st.form6();
        QVERIFY(f6.isVisible());
        QCOMPARE(f6.pos(), QPoint(100 * 96 / 1440, 100 * 96 / 1440));
        QCOMPARE(f6.findChild<QLineEdit*>("Text1(72)")->text(), QString("R-101"));
        QTest::mouseClick(f6.findChild<QLabel*>("Label1(72)"), Qt::LeftButton);
        WAIT_VERIFY(sim.hasEvent("light on 73"), 5000);
        QVERIFY(st.form3().CALL_LIGHT(120, 1).ok());
        WAIT_VERIFY(sim.hasEvent("lit 73 120"), 5000);
        // The start-up switched every light off once already.
        const qsizetype sweeps = sim.events().filter("module-off 16").size();
        QTest::mouseClick(f6.findChild<QPushButton*>("Command2"), Qt::LeftButton);
        WAIT_VERIFY(sim.events().filter("module-off 16").size() > sweeps, 5000);
        QCOMPARE(sim.events().filter("lit ").last(), QString("lit none"));
        QTest::mouseClick(f6.findChild<QPushButton*>("Command1"), Qt::LeftButton);
        QVERIFY(!f6.isVisible());
    }
};

QTEST_MAIN(TestDevicesStation)
#include "test_devices_station.moc"
