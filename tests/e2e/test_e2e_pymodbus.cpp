// A whole job in mode "2" against another Modbus implementation: the light modules and the
// balances are pymodbus RTU servers (tests/e2e/pymodbus_bench.py) that answer as late as a
// 9600-baud line with the given turnaround allows. The station runs in a child process.
// Its light frames are checked byte for byte as pymodbus received them, and the readings by
// the history record, which holds what the balances reported for each line.
#include "app/Station.h"
#include "app/StopSignals.h"
#include "config/SettingsFile.h"
#include "devices/LightMap.h"
#include "devices/ModbusFrames.h"
#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "tests/support/Devsim.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QProcess>
#include <QTest>

#include <csignal>

namespace {

struct Dye {
    int light;
    const char* code;
    const char* target;
    int slave;
    int counts; // the target in the balance's unit
};
// Threshold 1000 g: lines 1 and 3 on the small balance (slave 3), line 2 on the large one.
const Dye kDyes[] = {
    {3, "RED", "12.34", 3, 1234}, {12, "YEL", "1500.5", 4, 15005}, {120, "BLUE", "0.5", 3, 50}};

int runStation(const QString& dir) {
    const StopSignals stopSignals;
    Station station(StationOptions{dir, {}, nullptr});
    station.start();
    // At its own pace: a faster Timer1 would shorten the balance link's read window.
    return qApp->exec();
}

// The frames the station sent on one line, cut by their function's length, in order.
QList<QByteArray> framesOn(const QByteArray& log, const QByteArray& line) {
    QByteArray stream;
    for (const QByteArray& l : log.split('\n')) {
        const QList<QByteArray> w = l.split(' ');
        if (w.size() > 2 && w.at(1) == line)
            stream += QByteArray::fromHex(l.mid(w.at(0).size() + line.size() + 2).replace(' ', ""));
    }
    QList<QByteArray> frames;
    while (stream.size() >= 8) {
        const int length = stream.at(1) == 0x0F ? 9 + quint8(stream.at(6)) : 8;
        frames << stream.left(length);
        stream.remove(0, length);
    }
    if (!stream.isEmpty())
        frames << stream; // a cut frame: never one of those expected
    return frames;
}

} // namespace

class TestE2ePymodbus : public QObject {
    Q_OBJECT
private slots:
    void jobAgainstPymodbus_data();
    void jobAgainstPymodbus();
};

void TestE2ePymodbus::jobAgainstPymodbus_data() {
    QTest::addColumn<int>("turnaround");
    QTest::newRow("turnaround 10 ms") << 10;
    QTest::newRow("turnaround 30 ms") << 30;
}

void TestE2ePymodbus::jobAgainstPymodbus() {
    QFETCH(int, turnaround);
    WorkDir dir;
    StationSettings s;
    s.setText(Setting::SetType, QStringLiteral("2"));
    s.setText(Setting::BalancePort1, dir.file(QStringLiteral("bus")));
    s.setText(Setting::LightPort, dir.file(QStringLiteral("lights")));
    s.setText(Setting::WeightDecision, QStringLiteral("1000"));
    QVERIFY(SettingsFile::save(dir.file(QStringLiteral("set.txt")), s).ok());
    LightMap map;
    JobRecord job;
    job.OrderNo = QStringLiteral("PYMODBUS-%1").arg(turnaround);
    QStringList args{qEnvironmentVariable("DS_SOURCE_DIR") +
                         QStringLiteral("/tests/e2e/pymodbus_bench.py"),
                     dir.file(QStringLiteral("lights")), dir.file(QStringLiteral("bus")),
                     dir.file(QStringLiteral("pymodbus.log")), QString::number(turnaround)};
    for (int i = 0; i < 3; ++i) {
        const Dye& d = kDyes[i];
        map.setCode(d.light, QString::fromLatin1(d.code));
        job.Code[size_t(i + 1)] = QString::fromLatin1(d.code);
        job.Weight[size_t(i + 1)] = QString::fromLatin1(d.target);
        args << QStringLiteral("%1:%2:%3").arg(d.light).arg(d.slave).arg(d.counts);
    }
    QVERIFY(map.save(dir.file(QStringLiteral("DYE_LIGHT.txt"))).ok());
    QVERIFY(AppendJob(dir.file(QStringLiteral("START_DISPEN.txt")), job).ok());

    // Debian's interpreter, where python3-pymodbus is installed.
    QProcess devices;
    devices.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    devices.start(QStringLiteral("/usr/bin/python3"), args);
    QVERIFY(devices.waitForStarted(5000));
    WAIT_VERIFY(dir.read(QStringLiteral("pymodbus.log")).contains("ready"), 20000);

    QProcess station;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DS_PYMODBUS_STATION"), dir.path());
    station.setProcessEnvironment(env);
    station.setProcessChannelMode(QProcess::ForwardedChannels);
    station.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(station.waitForStarted(5000));

    const QString historyFile = dir.file(historyFileName(QDateTime::currentDateTime()));
    const bool done =
        waitFor([&] { return QFileInfo(historyFile).size() == 1600; }, 90000) &&
        waitFor([&] { return JobCount(dir.file(QStringLiteral("START_DISPEN.txt"))).count == 0; },
                5000);
    runFor(2500); // the closing sweep
    ::kill(pid_t(station.processId()), SIGTERM);
    QVERIFY(station.waitForFinished(10000));
    devices.closeWriteChannel();
    if (!devices.waitForFinished(3000))
        devices.kill();
    const QByteArray log = dir.read(QStringLiteral("pymodbus.log"));
    QVERIFY2(done, log.right(3000).constData());

    // The readings: each line holds what its balance reported.
    const HistoryRecord h =
        HistoryRecord::decode(dir.read(historyFileName(QDateTime::currentDateTime())));
    QCOMPARE(h.OrderNo, job.OrderNo);
    for (int i = 1; i <= 3; ++i)
        QCOMPARE(h.Actual[size_t(i)], QString::fromLatin1(kDyes[i - 1].target));

    // The lights: every frame one the Part names, each line's light on once and off once
    // (line 3's by the closing sweep), every module cleared at the start and at the end.
    const QList<QByteArray> frames = framesOn(log, "lights");
    auto count = [&](const char* data) {
        return int(frames.count(ModbusFrames::withCrc(fromHex(data))));
    };
    QCOMPARE(count("01 05 00 02 FF 00"), 1);
    QCOMPARE(count("02 05 00 03 FF 00"), 1);
    QCOMPARE(count("0F 05 00 07 FF 00"), 1);
    QCOMPARE(count("01 05 00 02 00 00"), 1);
    QCOMPARE(count("02 05 00 03 00 00"), 1);
    int known = count("01 05 00 02 FF 00") + count("02 05 00 03 FF 00") +
                count("0F 05 00 07 FF 00") + count("01 05 00 02 00 00") +
                count("02 05 00 03 00 00");
    for (int module = 1; module <= 16; ++module) {
        const int off = int(
            frames.count(ModbusFrames::withCrc(char(module) + fromHex("0F 00 00 00 10 02 00 00"))));
        QVERIFY2(off >= 2, qPrintable(QString::number(module)));
        known += off;
    }
    QCOMPARE(known, frames.size());
    // pymodbus took them in: the last state of every module is all off, and lights came on.
    QVERIFY(log.contains("coils 1 00100000") && log.contains("coils 2 00010000") &&
            log.contains("coils 15 00000001"));
    for (int module = 1; module <= 16; ++module) {
        const qsizetype last = log.lastIndexOf(QStringLiteral("coils %1 ").arg(module).toLatin1());
        QVERIFY2(last >= 0 && log.mid(last).startsWith(
                                  QStringLiteral("coils %1 00000000").arg(module).toLatin1()),
                 qPrintable(QString::number(module)));
    }
    // Only read requests for slaves 3 and 4 went to the balances.
    const QList<QByteArray> requests = framesOn(log, "bus");
    QVERIFY(!requests.isEmpty());
    for (const QByteArray& r : requests)
        QVERIFY2(r == fromHex("03 03 00 01 00 03 55 E9") || r == fromHex("04 03 00 01 00 03 54 5E"),
                 qPrintable(hex(r)));
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString dir = qEnvironmentVariable("DS_PYMODBUS_STATION");
    if (!dir.isEmpty())
        return runStation(dir);
    TestE2ePymodbus t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_e2e_pymodbus.moc"
