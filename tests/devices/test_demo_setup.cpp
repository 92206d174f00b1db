// The demo's working folder as demo-setup writes it, and as it is reused.
#include "config/SettingsFile.h"
#include "devices/LightMap.h"
#include "jobs/JobFile.h"
#include "jobs/JobRecord.h"
#include "tests/support/TestSupport.h"

#include <QProcess>
#include <QTest>

class TestDemoSetup : public QObject {
    Q_OBJECT

    static int run(const QString& work, const QString& devices, const QString& mode) {
        QProcess p;
        p.start(builtProgram("demo-setup"), {work, devices, mode});
        p.waitForFinished(10000);
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private slots:
    void freshFolder_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("port1");
        QTest::newRow("text frames") << "1"
                                     << "small";
        QTest::newRow("modbus") << "2"
                                << "bus";
    }
    void freshFolder() {
        QFETCH(QString, mode);
        QFETCH(QString, port1);
        WorkDir d;
        const QString dev = d.file("devices");
        QCOMPARE(run(d.path(), dev, mode), 0);
        StationSettings s;
        QVERIFY(SettingsFile::load(d.file("set.txt"), s).ok());
        QCOMPARE(s.text(Setting::SetType), mode);
        QCOMPARE(s.text(Setting::BalancePort1), dev + "/" + port1);
        QCOMPARE(s.text(Setting::BalancePort2), dev + "/large");
        QCOMPARE(s.text(Setting::LightPort), dev + "/lights");
        QCOMPARE(s.text(Setting::WeightDecision), QString("1000"));
        QCOMPARE(d.read("set.txt").size(), 11400);

        LightMap m;
        QVERIFY(m.load(d.file("DYE_LIGHT.txt")).ok());
        QCOMPARE(d.read("DYE_LIGHT.txt").size(), 6000);
        QCOMPARE(JobCount(d.file("QUICK.txt")).count, qint64(3));
        // Every line of the queued job has a light, so the automatic operator can weigh it.
        QCOMPARE(JobCount(d.file("START_DISPEN.txt")).count, qint64(1));
        const JobRecord job = JobRecord::decode(ReadJob(d.file("START_DISPEN.txt"), 1).bytes);
        for (int i = 1; i <= JobRecord::kLines; ++i)
            if (job.hasLine(i))
                QVERIFY2(m.lookup(job.Code[size_t(i)]) > 0, qPrintable(job.Code[size_t(i)]));
    }

    void reuseKeepsTheOperatorsFiles() {
        WorkDir d;
        const QString dev = d.file("devices");
        QCOMPARE(run(d.path(), dev, "1"), 0);
        StationSettings s;
        QVERIFY(SettingsFile::load(d.file("set.txt"), s).ok());
        s.setText(Setting::WeightDecision, QStringLiteral("500"));
        QVERIFY(SettingsFile::save(d.file("set.txt"), s).ok());
        LightMap m;
        m.setCode(5, QStringLiteral("MINE"));
        QVERIFY(m.save(d.file("DYE_LIGHT.txt")).ok());
        const QByteArray quick = d.read("QUICK.txt");

        QCOMPARE(run(d.path(), dev, "2"), 0);
        StationSettings again;
        QVERIFY(SettingsFile::load(d.file("set.txt"), again).ok());
        QCOMPARE(again.text(Setting::WeightDecision), QString("500"));
        QCOMPARE(again.text(Setting::SetType), QString("2"));
        QCOMPARE(again.text(Setting::BalancePort1), dev + "/bus");
        QCOMPARE(d.read("DYE_LIGHT.txt").mid(200, 4), QByteArray("MINE"));
        QCOMPARE(d.read("QUICK.txt"), quick);
        QCOMPARE(JobCount(d.file("START_DISPEN.txt")).count, qint64(1)); // not queued twice
    }
};

QTEST_GUILESS_MAIN(TestDemoSetup)
#include "test_demo_setup.moc"
