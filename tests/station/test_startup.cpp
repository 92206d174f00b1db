#include "app/Station.h"
#include "config/SettingsFile.h"
#include "devices/LightBus.h"
#include "devices/ModbusFrames.h"
#include "jobs/JobFile.h"
#include "station/Form3.h"
#include "tests/support/Pty.h"
#include "tests/support/TestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

void writeSettings(const WorkDir& dir, const QString& mode, const QString& port1,
                   const QString& port2, const QString& light) {
    StationSettings s;
    s.setText(Setting::SetType, mode);
    s.setText(Setting::BalancePort1, port1);
    s.setText(Setting::BalancePort2, port2);
    s.setText(Setting::LightPort, light);
    QVERIFY(SettingsFile::save(dir.file(QStringLiteral("set.txt")), s).ok());
}

QTimer* timer(Station& st, const char* name) {
    return st.form3().findChild<QTimer*>(QLatin1String(name));
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void emptyFolderCreatesFilesAndComesUpRed() {
        WorkDir dir;
        Station st({dir.path(), {}, nullptr});
        st.start();
        QVERIFY(dir.exists(QStringLiteral("QUICK.txt")));
        QVERIFY(dir.exists(QStringLiteral("set.txt")));
        QCOMPARE(dir.read(QStringLiteral("QUICK.txt")).size(), 0);
        // No balance port is set: the failure path.
        QVERIFY(st.runControl().StartupFailed());
        QCOMPARE(st.form3().background(), Form3::Background::Failed);
        QVERIFY(st.form3()
                    .findChild<QLabel*>(QStringLiteral("StatusLine"))
                    ->text()
                    .contains(QStringLiteral("MSComm1")));
    }

    void portSets_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("withLight");
        QTest::addColumn<int>("timer1Interval");
        QTest::newRow("mode 1, light bus") << "1" << true << 20;
        QTest::newRow("mode 1, no light bus") << "1" << false << 20;
        QTest::newRow("mode 2, light bus") << "2" << true << 3;
    }
    void portSets() {
        QFETCH(QString, mode);
        QFETCH(bool, withLight);
        QFETCH(int, timer1Interval);
        WorkDir dir;
        Pty small(dir.file(QStringLiteral("small"))), large(dir.file(QStringLiteral("large"))),
            lights(dir.file(QStringLiteral("lights")));
        QVERIFY(small.ok() && large.ok() && lights.ok());
        writeSettings(dir, mode, small.path(), large.path(),
                      withLight ? QStringLiteral("  ") + lights.path() : QStringLiteral("  "));
        Station st({dir.path(), {}, nullptr});
        st.start();
        QVERIFY2(!st.runControl().StartupFailed(), qPrintable(st.status().text()));
        QCOMPARE(st.form3().background(), Form3::Background::Running);
        QVERIFY(st.MSComm1().isOpen());
        QCOMPARE(st.MSComm2().isOpen(), mode == QStringLiteral("1"));
        QCOMPARE(st.MSComm3().isOpen(), withLight);
        if (withLight) { // a light left on by a stop goes off
            QByteArray allOff;
            for (int module = 1; module <= 16; ++module)
                allOff += LightBus::frame(8 * module, LightBus::ModuleOff);
            // Sent one exchange after the other by the bus's pacing timer: each module answers.
            QByteArray written;
            QElapsedTimer t;
            t.start();
            while (written.size() < allOff.size() && t.elapsed() < 5000) {
                QTest::qWait(2);
                const QByteArray got = lights.readAvailable();
                written += got;
                if (got.size() == 11)
                    lights.write(ModbusFrames::withCrc(got.left(6)));
            }
            QCOMPARE(hex(written), hex(allOff));
        }
        QVERIFY(st.timers().Timer1.enabled());
        QCOMPARE(timer(st, "Timer1")->interval(), timer1Interval);
        QVERIFY(timer(st, "Timer1")->isActive());
        for (const char* t : {"Timer2", "Timer3"}) {
            QCOMPARE(timer(st, t)->interval(), 200);
            QVERIFY(timer(st, t)->isActive());
        }
        QCOMPARE(timer(st, "Timer4")->interval(), 3000);
        QVERIFY(timer(st, "Timer4")->isActive());
        QVERIFY(!timer(st, "Timer5")->isActive());
        QVERIFY(!timer(st, "Timer6")->isActive());
        QCOMPARE(timer(st, "Timer5")->interval(), 10);
        QCOMPARE(timer(st, "Timer6")->interval(), 20);
    }

    void missingBalancePortTurnsRedButKeepsTheRest() {
        WorkDir dir;
        Pty small(dir.file(QStringLiteral("small"))), lights(dir.file(QStringLiteral("lights")));
        writeSettings(dir, QStringLiteral("1"), small.path(), dir.file(QStringLiteral("gone")),
                      lights.path());
        Station st({dir.path(), {}, nullptr});
        st.start();
        QVERIFY(st.runControl().StartupFailed());
        QCOMPARE(st.form3().background(), Form3::Background::Failed);
        QVERIFY(!timer(st, "Timer1")->isActive());
        for (const char* t : {"Timer2", "Timer3", "Timer4"})
            QVERIFY2(timer(st, t)->isActive(), t);
        // The ports before and after the failing one are still opened.
        QVERIFY(st.MSComm1().isOpen());
        QVERIFY(st.MSComm3().isOpen());
        QVERIFY(st.status().text().contains(QStringLiteral("gone")));
    }

    void missingLightAdapterKeepsBalancesReading() {
        WorkDir dir;
        Pty small(dir.file(QStringLiteral("small"))), large(dir.file(QStringLiteral("large")));
        writeSettings(dir, QStringLiteral("1"), small.path(), large.path(),
                      dir.file(QStringLiteral("nolights")));
        Station st({dir.path(), {}, nullptr});
        st.start();
        QVERIFY(st.runControl().StartupFailed());
        QVERIFY(timer(st, "Timer1")->isActive());
        QCOMPARE(st.form3().background(), Form3::Background::Failed);
    }

    void comPortNumbers() {
        QCOMPARE(deviceForSetting(QStringLiteral("1")), QStringLiteral("/dev/ttyS0"));
        QCOMPARE(deviceForSetting(QStringLiteral(" 12 ")), QStringLiteral("/dev/ttyS11"));
        QCOMPARE(deviceForSetting(QStringLiteral("/dev/ttyUSB0")), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(deviceForSetting(QStringLiteral("  ")), QString());
        QVERIFY(deviceForSetting(QStringLiteral("0")) != QStringLiteral("/dev/ttyS-1"));
    }

    void runAndStop() {
        WorkDir dir;
        Pty small(dir.file(QStringLiteral("small"))), large(dir.file(QStringLiteral("large")));
        writeSettings(dir, QStringLiteral("1"), small.path(), large.path(), QString());
        Station st({dir.path(), {}, nullptr});
        st.start();
        Form3& f = st.form3();
        f.STOP->trigger();
        QVERIFY(!timer(st, "Timer2")->isActive());
        QCOMPARE(f.background(), Form3::Background::Stopped);
        QCOMPARE(f.palette().color(QPalette::Window), QColor(255, 200, 200));
        f.RUN->trigger();
        QVERIFY(timer(st, "Timer2")->isActive());
        QCOMPARE(f.background(), Form3::Background::Running);

        // After a failed start-up RUN never hides the red sign.
        WorkDir dir2;
        Station failed({dir2.path(), {}, nullptr});
        failed.start();
        failed.form3().STOP->trigger();
        QCOMPARE(failed.form3().background(), Form3::Background::Stopped);
        failed.form3().RUN->trigger();
        QCOMPARE(failed.form3().background(), Form3::Background::Failed);
        QCOMPARE(failed.form3().palette().color(QPalette::Window), QColor(255, 0, 0));
    }

    void recipeListNewestFirst() {
        WorkDir dir;
        for (const char* o : {"R-1", "R-2", "R-3"}) {
            JobRecord j;
            j.OrderNo = QLatin1String(o);
            QVERIFY(AppendJob(dir.file(QStringLiteral("QUICK.txt")), j).ok());
        }
        Station st({dir.path(), {}, nullptr});
        st.start();
        QListWidget* l = st.form3().findChild<QListWidget*>(QStringLiteral("List1"));
        QCOMPARE(l->count(), 3);
        QCOMPARE(l->item(0)->text(), QStringLiteral("R-3").leftJustified(50));
        QCOMPARE(l->item(2)->text(), QStringLiteral("R-1").leftJustified(50));
    }

    void unreadableRecipeStoreTakesFailurePath() {
        WorkDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("QUICK.txt"))); // a folder, not a file
        Pty small(dir.file(QStringLiteral("small"))), large(dir.file(QStringLiteral("large")));
        writeSettings(dir, QStringLiteral("1"), small.path(), large.path(), QString());
        Station st({dir.path(), {}, nullptr});
        st.start();
        QVERIFY(st.runControl().StartupFailed());
        QVERIFY(st.MSComm1().isOpen()); // the ports are still opened
        QVERIFY(timer(st, "Timer1")->isActive());
        QVERIFY(st.status().text().contains(QStringLiteral("QUICK.txt")));
    }

    void controlsByName() {
        WorkDir dir;
        Station st({dir.path(), {}, nullptr});
        st.start();
        Form3& f = st.form3();
        const QStringList names = {"Command1", "Command2",  "Command3",  "Command4",  "Command5",
                                   "Command6", "Command7",  "Check1",    "Check2",    "Check3",
                                   "Check4",   "Check5",    "Text2",     "List1",     "List2",
                                   "Text1(0)", "Text1(9)",  "Text1(10)", "Label1(0)", "Label1(1)",
                                   "Label2",   "Label3(0)", "Label3(12)"};
        for (const QString& n : names)
            QVERIFY2(f.findChild<QWidget*>(n), qPrintable(n));
        // A balance that has not answered yet shows a dash, not a number.
        QCOMPARE(f.findChild<QLabel*>(QStringLiteral("Label1(0)"))->text(), QStringLiteral("—"));
        QCOMPARE(f.findChild<QLabel*>(QStringLiteral("Label3(2)"))->text(),
                 QStringLiteral("請在小天平(3000g)放上容器,按下歸零按鈕"));
        QCOMPARE(f.Command7->text(), QStringLiteral("取消全部"));
        QCOMPARE(f.Check[0]->text(), QStringLiteral("刷條碼"));
        QVERIFY(f.findChild<QPlainTextEdit*>(QStringLiteral("Text1(3)"))->isReadOnly());
        QVERIFY(f.findChild<QMenu*>(QStringLiteral("RUN_TOOL")));
        // The line boxes are hidden while no job runs.
        f.show();
        QVERIFY(!f.findChild<QWidget*>(QStringLiteral("Text1(0)"))->isVisible());
    }

    void barcodeFocus() {
        WorkDir dir;
        Station st({dir.path(), {}, nullptr});
        st.start();
        Form3& f = st.form3();
        f.show();
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.List1->setFocus();
        f.keepBarcodeFocus();
        QVERIFY(!f.Text2->hasFocus()); // Check1 not ticked
        f.Check[0]->setChecked(true);
        f.keepBarcodeFocus();
        QTRY_VERIFY(f.Text2->hasFocus());
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
