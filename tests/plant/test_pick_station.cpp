// Confirmed pick in the whole station against devsim: the fixed scanner on a
// pseudo-terminal, the automatic operator pouring; a line within tolerance is not accepted
// before its container is scanned, a wrong scan is refused on the prompt, and the log holds
// the refusal, the lots and the finish.
#include "app/ExtensionsWindow.h"
#include "app/Station.h"
#include "config/SettingsFile.h"
#include "devices/LightMap.h"
#include "history/Form5.h"
#include "jobs/JobFile.h"
#include "plant/LogStore.h"
#include "plant/WeighingLog.h"
#include "station/Form3.h"
#include "tests/intake/DbFixture.h"
#include "tests/plant/Blackhole.h"
#include "tests/support/Devsim.h"
#include "tests/support/TestSupport.h"
#include "weighing/PickCheck.h"
#include "weighing/WeighingModel.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>

class TestPickStation : public QObject {
    Q_OBJECT

private slots:
    // The main window opens the window with the file as it is; a save writes the file whole,
    // keeping the keys it does not own; nothing is switched on before the next start.
    void extensionsWindow() {
        WorkDir dir;
        dir.write("dyestation.ini",
                  "[OrderDatabase]\nStatementTimeout=3\n[mqtt]\nhost=127.0.0.1\nport=1\n");
        Station st({dir.path(), {}, nullptr});
        st.start();
        QVERIFY(st.weighingLog() && st.mqttLink() && !st.pickCheck());
        QTest::mouseClick(st.form3().ExtensionsButton, Qt::LeftButton);
        ExtensionsWindow& w = st.extensionsWindow();
        QVERIFY(w.isVisible());
        QCOMPARE(w.MqttHost->text(), QStringLiteral("127.0.0.1"));
        w.PickConfirm->setChecked(true);
        w.MqttHost->clear();
        // A port that is no port is refused, never saved as another one.
        w.MqttPort->setText(QStringLiteral("18 83"));
        QTest::mouseClick(w.Save, Qt::LeftButton);
        QVERIFY2(w.StatusLabel->text().contains(QStringLiteral("「18 83」")),
                 qPrintable(w.StatusLabel->text()));
        QVERIFY(!dir.read("dyestation.ini").contains("confirm=true"));
        w.MqttPort->setText(QStringLiteral("1883"));
        QTest::mouseClick(w.Save, Qt::LeftButton);
        QCOMPARE(w.StatusLabel->text(), QStringLiteral("已存檔,重新啟動後生效"));
        const QSettings ini(dir.file("dyestation.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value("OrderDatabase/StatementTimeout").toInt(), 3);
        QCOMPARE(ini.value("pick/confirm").toString(), QStringLiteral("true"));
        QCOMPARE(ini.value("mqtt/host").toString(), QString());
        QVERIFY(!st.pickCheck());
    }

    // The history window's export of the log runs off the window's thread: a log server that
    // does not answer never holds the weighing up, and the failure is said when it comes.
    void logExportDoesNotHoldTheWindow() {
        Blackhole hole;
        WorkDir dir;
        ExtensionSettings ext;
        ext.logOdbc = QStringLiteral("DRIVER=%1;SERVER=127.0.0.1;PORT=%2;DATABASE=x;UID=x;"
                                     "SSLmode=disable")
                          .arg(DbFixture::pgDriverPath())
                          .arg(hole.port());
        QVERIFY(ExtensionSettings::save(dir.file("dyestation.ini"), ext).ok());
        Station st({dir.path(), {}, nullptr});
        st.start();
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(st.form5().ExportLog, Qt::LeftButton);
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(st.status().text().contains(QStringLiteral("計量紀錄匯出失敗")),
                                 20000);
    }

    void wrongScanRefusedRightScanAccepted() {
        WorkDir dir;
        Devsim sim({"--auto", dir.path()});
        QVERIFY(sim.ready());
        StationSettings s;
        s.setText(Setting::SetType, "1");
        s.setText(Setting::BalancePort1, sim.link("small"));
        s.setText(Setting::BalancePort2, sim.link("large"));
        s.setText(Setting::LightPort, sim.link("lights"));
        s.setText(Setting::WeightDecision, "1000");
        QVERIFY(SettingsFile::save(dir.file("set.txt"), s).ok());
        LightMap map;
        map.setCode(73, "R-101");
        map.setCode(74, "B-202");
        QVERIFY(map.save(dir.file("DYE_LIGHT.txt")).ok());
        JobRecord job;
        job.OrderNo = "PK-1";
        job.Code[1] = "R-101 紅";
        job.Weight[1] = "12.34";
        job.Code[2] = "B-202";
        job.Weight[2] = "5.5";
        QVERIFY(AppendJob(dir.file("START_DISPEN.txt"), job).ok());
        dir.write("aliases.txt", "CAN-7,B-202\n");
        dir.write("dyestation.ini", "[pick]\nconfirm=true\nscanner_port=" +
                                        sim.link("scanner").toUtf8() + "\naliases=aliases.txt\n");

        Station st({dir.path(), {}, nullptr});
        st.start();
        QVERIFY(st.pickCheck());
        WeighingModel& m = st.weighing();
        // Line 1 poured within tolerance, and held there: no scan yet.
        WAIT_VERIFY(m.Line == 1 && m.LineStatus[1] == LineStatusCode::Within, 20000);
        runFor(4000);
        QCOMPARE(m.Line, 1);
        QCOMPARE(m.prompt, QStringLiteral("請掃描第 1 行的容器條碼 R-101 紅"));

        sim.command("scan B-999");
        WAIT_COMPARE(m.prompt, QStringLiteral("掃描到 B-999,第 1 行需要 R-101 紅"), 5000);
        runFor(1000);
        QCOMPARE(m.Line, 1);
        sim.command("scan R-101|LOT42");
        WAIT_VERIFY(m.Line == 2, 5000);
        WAIT_VERIFY(m.Line == 2 && m.LineStatus[2] == LineStatusCode::Within, 20000);
        sim.command("scan CAN-7;L9");
        WAIT_VERIFY(m.State == SequencerState::Idle &&
                        JobCount(dir.file("START_DISPEN.txt")).count == 0,
                    20000);

        QVERIFY(st.weighingLog()->waitWritten(5000));
        QStringList lines;
        QVERIFY(LogStore::exportLog(dir.path(), {}, QDate(2000, 1, 1), QDate(2100, 1, 1),
                                    [&](const QByteArray& b) { lines << QString::fromUtf8(b); })
                    .ok());
        QStringList events;
        for (const QString& l : lines.join(QString()).split("\r\n", Qt::SkipEmptyParts).mid(1)) {
            const QStringList f = l.split(',');
            events << QStringList{f[3], f[5], f[10]}.join(' ');
        }
        QCOMPARE(events, QStringList({"1  pick_mismatch", "1 LOT42 pick_ok", "1 LOT42 accepted",
                                      "2 L9 pick_ok", "2 L9 accepted", "0  finished"}));
    }
};

QTEST_MAIN(TestPickStation)
#include "test_pick_station.moc"
