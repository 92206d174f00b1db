// A whole job from START_DISPEN.txt to the history file and an empty queue, with the
// station on real pseudo-terminals. The test plays the hardware and the operator: the
// balances send their readings (text frames in mode "1", Modbus replies in mode "2"),
// and when a line's light comes on the operator pours that line's target onto the
// line's balance; when the light goes out the container comes off.
#include "app/Station.h"
#include "config/SettingsFile.h"
#include "devices/BalanceLink.h"
#include "devices/LightBus.h"
#include "devices/LightMap.h"
#include "devices/ModbusFrames.h"
#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "tests/support/Devsim.h"
#include "tests/support/Pty.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <memory>
#include <utility>

namespace {

struct Dye {
    int light;
    const char* code;
    const char* target;
    bool large;
};
// Threshold 1000 g: lines 1 and 3 go to the small balance, line 2 to the large one.
const Dye kDyes[] = {
    {3, "RED 01", "12.34", false}, {12, "YEL-2", "1500.5", true}, {120, "BLUE", "0.5", false}};

// Frames seen on the light bus, and which light is on. Answers as the modules do: a single
// coil is echoed, a write of several coils answered with its first six bytes.
struct LightWatcher {
    QByteArray pending;
    QList<QByteArray> frames;
    QByteArray answers;
    int lit = 0;
    void feed(const QByteArray& bytes) {
        pending += bytes;
        while (pending.size() >= 8) {
            const int len = pending.at(1) == 0x0F ? 11 : 8;
            if (pending.size() < len)
                break;
            const QByteArray f = pending.left(len);
            pending.remove(0, len);
            frames << f;
            answers += f.at(1) == 0x05 ? f : ModbusFrames::withCrc(f.left(6));
            const int module = quint8(f.at(0));
            if (f.at(1) == 0x05) {
                const int light = (module - 1) * 8 + quint8(f.at(3)) + 1;
                if (quint8(f.at(4)) == 0xFF)
                    lit = light;
                else if (lit == light)
                    lit = 0;
            } else if (lit && (lit - 1) / 8 + 1 == module) {
                lit = 0;
            }
        }
    }
};

const Dye* dyeAt(int light) {
    for (const Dye& d : kDyes)
        if (d.light == light)
            return &d;
    return nullptr;
}

QByteArray textFrame(const QString& grams, bool large) {
    // Sign at 2, digits from 3, "g" at 10 (large) or 11 (small).
    const double v = grams.toDouble();
    const QString digits = large ? QString::asprintf("%07.1f", v) : QString::asprintf("%08.2f", v);
    return (QStringLiteral(" +") + digits + QStringLiteral("g\r\n")).toLatin1();
}

QByteArray modbusReply(int slave, const QString& grams) {
    // Register 1 low digit 1 = positive; registers 2 and 3 = count of the unit.
    const qint64 count = qRound64(grams.toDouble() * (slave == 3 ? 100 : 10));
    QByteArray d;
    d += char(slave);
    d += char(3);
    d += char(6);
    d += char(0);
    d += char(1);
    d += char((count >> 24) & 0xFF);
    d += char((count >> 16) & 0xFF);
    d += char((count >> 8) & 0xFF);
    d += char(count & 0xFF);
    return ModbusFrames::withCrc(d);
}

} // namespace

class TestE2eWeighing : public QObject {
    Q_OBJECT
private slots:
    void threeLineJob_data();
    void threeLineJob();
    void threeLineJobWithDevsim_data() { threeLineJob_data(); }
    void threeLineJobWithDevsim();
};

void TestE2eWeighing::threeLineJob_data() {
    QTest::addColumn<QString>("mode");
    QTest::newRow("text frames on two ports") << "1";
    QTest::newRow("modbus on one port") << "2";
}

void TestE2eWeighing::threeLineJob() {
    QFETCH(QString, mode);
    WorkDir dir;
    Pty small(dir.file(QStringLiteral("small")));
    Pty large(dir.file(QStringLiteral("large")));
    Pty lights(dir.file(QStringLiteral("lights")));
    QVERIFY(small.ok() && large.ok() && lights.ok());

    StationSettings s;
    s.setText(Setting::SetType, mode);
    s.setText(Setting::BalancePort1, small.path());
    s.setText(Setting::BalancePort2, mode == QStringLiteral("1") ? large.path() : QString());
    s.setText(Setting::LightPort, lights.path());
    s.setText(Setting::WeightDecision, QStringLiteral("1000"));
    QVERIFY(SettingsFile::save(dir.file(QStringLiteral("set.txt")), s).ok());
    LightMap map;
    for (const Dye& d : kDyes)
        map.setCode(d.light, QString::fromLatin1(d.code).section(QLatin1Char(' '), 0, 0));
    QVERIFY(map.save(dir.file(QStringLiteral("DYE_LIGHT.txt"))).ok());
    JobRecord job;
    job.OrderNo = QStringLiteral("E2E-%1").arg(mode);
    job.OutputPos = QStringLiteral("5");
    for (int i = 0; i < 3; ++i) {
        job.Code[size_t(i + 1)] = QString::fromLatin1(kDyes[i].code);
        job.Weight[size_t(i + 1)] = QString::fromLatin1(kDyes[i].target);
    }
    QVERIFY(AppendJob(dir.file(QStringLiteral("START_DISPEN.txt")), job).ok());

    Station station(StationOptions{dir.path(), {}, nullptr});
    station.start();
    QVERIFY2(!station.runControl().StartupFailed(), qPrintable(station.status().text()));
    station.setSpeedUp(5);

    // The hardware and the operator, every 5 ms.
    LightWatcher watcher;
    QByteArray modbusIn;
    QTimer play;
    play.setInterval(5);
    connect(&play, &QTimer::timeout, this, [&] {
        watcher.feed(lights.readAvailable());
        lights.write(std::exchange(watcher.answers, {}));
        const Dye* d = dyeAt(watcher.lit);
        const QString onSmall =
            d && !d->large ? QString::fromLatin1(d->target) : QStringLiteral("0");
        const QString onLarge =
            d && d->large ? QString::fromLatin1(d->target) : QStringLiteral("0");
        if (mode == QStringLiteral("1")) {
            small.write(textFrame(onSmall, false));
            large.write(textFrame(onLarge, true));
            return;
        }
        modbusIn += small.readAvailable();
        while (modbusIn.size() >= 8) {
            const QByteArray req = modbusIn.left(8);
            modbusIn.remove(0, 8);
            const int slave = quint8(req.at(0));
            if (req.at(1) == 0x03 && (slave == 3 || slave == 4))
                small.write(modbusReply(slave, slave == 3 ? onSmall : onLarge));
        }
    });
    play.start();

    const QString historyFile = dir.file(historyFileName(QDateTime::currentDateTime()));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(historyFile).size() == 1600, 60000);
    QTRY_COMPARE_WITH_TIMEOUT(JobCount(dir.file(QStringLiteral("START_DISPEN.txt"))).count,
                              qint64(0), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(station.weighing().State, SequencerState::Idle, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!station.timers().Timer5.enabled(), 5000); // the closing sweep
    play.stop();
    watcher.feed(lights.readAvailable(100));

    const HistoryRecord h =
        HistoryRecord::decode(dir.read(historyFileName(QDateTime::currentDateTime())));
    QCOMPARE(h.OrderNo, job.OrderNo);
    for (int i = 1; i <= 3; ++i) {
        QCOMPARE(h.Code[size_t(i)], QString::fromLatin1(kDyes[i - 1].code));
        QCOMPARE(h.Target[size_t(i)], QString::fromLatin1(kDyes[i - 1].target));
        QCOMPARE(h.Actual[size_t(i)], QString::fromLatin1(kDyes[i - 1].target));
    }
    QVERIFY(h.Code[4].isEmpty());

    // Each line's light came on, lines 1 and 2 were switched off as the next one was
    // prepared, and the sweep cleared modules 1 to 16 at the start and at the end.
    auto count = [&](const QByteArray& f) { return int(watcher.frames.count(f)); };
    QCOMPARE(count(ModbusFrames::withCrc(fromHex("01 05 00 02 FF 00"))), 1);
    QCOMPARE(count(ModbusFrames::withCrc(fromHex("02 05 00 03 FF 00"))), 1);
    QCOMPARE(count(ModbusFrames::withCrc(fromHex("0F 05 00 07 FF 00"))), 1);
    QCOMPARE(count(ModbusFrames::withCrc(fromHex("01 05 00 02 00 00"))), 1);
    QCOMPARE(count(ModbusFrames::withCrc(fromHex("02 05 00 03 00 00"))), 1);
    QVERIFY(count(fromHex("02 0F 00 00 00 10 02 00 00 F6 D0")) >= 2);
    for (int module = 1; module <= 16; ++module)
        QVERIFY2(count(ModbusFrames::withCrc(char(module) + fromHex("0F 00 00 00 10 02 00 00"))) >=
                     2,
                 qPrintable(QString::number(module)));
}

// The same job against the device simulator and its automatic operator, which reads the
// queue and the light map from the working folder as a person reads the screen.
void TestE2eWeighing::threeLineJobWithDevsim() {
    QFETCH(QString, mode);
    WorkDir dir;
    Devsim sim({QStringLiteral("--auto"), dir.path()});
    QVERIFY(sim.ready());
    const QString dev = QFileInfo(sim.link(QStringLiteral("small"))).path();
    StationSettings s;
    s.setText(Setting::SetType, mode);
    s.setText(Setting::BalancePort1, dev + (mode == QStringLiteral("1") ? QStringLiteral("/small")
                                                                        : QStringLiteral("/bus")));
    s.setText(Setting::BalancePort2,
              mode == QStringLiteral("1") ? dev + QStringLiteral("/large") : QString());
    s.setText(Setting::LightPort, dev + QStringLiteral("/lights"));
    s.setText(Setting::WeightDecision, QStringLiteral("1000"));
    QVERIFY(SettingsFile::save(dir.file(QStringLiteral("set.txt")), s).ok());
    LightMap map;
    for (const Dye& d : kDyes)
        map.setCode(d.light, QString::fromLatin1(d.code).section(QLatin1Char(' '), 0, 0));
    QVERIFY(map.save(dir.file(QStringLiteral("DYE_LIGHT.txt"))).ok());
    JobRecord job;
    job.OrderNo = QStringLiteral("SIM-%1").arg(mode);
    for (int i = 0; i < 3; ++i) {
        job.Code[size_t(i + 1)] = QString::fromLatin1(kDyes[i].code);
        job.Weight[size_t(i + 1)] = QString::fromLatin1(kDyes[i].target);
    }
    QVERIFY(AppendJob(dir.file(QStringLiteral("START_DISPEN.txt")), job).ok());

    {
        Station station(StationOptions{dir.path(), {}, nullptr});
        station.start();
        QVERIFY2(!station.runControl().StartupFailed(), qPrintable(station.status().text()));
        // The simulator is another process: on a loaded machine (the sanitizer build) it may
        // answer later than a real module, and a request sent after a time-out would collide
        // with its late answer. This test is about the frames, not the time-out.
        station.lightBus().setResponseTimeoutMs(1000);
        station.balanceLink().setResponseTimeoutMs(1000);
        station.setSpeedUp(5);
        const QString historyFile = dir.file(historyFileName(QDateTime::currentDateTime()));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(historyFile).size() == 1600, 120000);
        QTRY_COMPARE_WITH_TIMEOUT(JobCount(dir.file(QStringLiteral("START_DISPEN.txt"))).count,
                                  qint64(0), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!station.timers().Timer5.enabled() &&
                                     station.weighing().State == SequencerState::Idle,
                                 5000);
        const HistoryRecord h =
            HistoryRecord::decode(dir.read(historyFileName(QDateTime::currentDateTime())));
        QCOMPARE(h.OrderNo, job.OrderNo);
        for (int i = 1; i <= 3; ++i) {
            QCOMPARE(h.Code[size_t(i)], QString::fromLatin1(kDyes[i - 1].code));
            QVERIFY2(!h.Actual[size_t(i)].isEmpty() && h.Actual[size_t(i)] != QStringLiteral("0"),
                     qPrintable(h.Actual[size_t(i)]));
        }
    }
    const QString events = sim.events().join(QLatin1Char('\n')) + QLatin1Char('\n');
    for (const Dye& d : kDyes)
        QVERIFY2(events.contains(QStringLiteral("light on %1\n").arg(d.light)),
                 qPrintable(QString::number(d.light)));
    QVERIFY(events.contains(QStringLiteral("light off 3\n")));
    QVERIFY(events.contains(QStringLiteral("light off 12\n")));
    QVERIFY(events.contains(QStringLiteral("module-off 16")));
    QVERIFY2(!events.contains(QStringLiteral("bad-frame")), qPrintable(events.right(2000)));
}

QTEST_MAIN(TestE2eWeighing)
#include "test_e2e_weighing.moc"
