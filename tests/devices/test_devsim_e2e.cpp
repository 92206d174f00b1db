// The device links against the device simulator over real pseudo-terminals, in real time.
#include "common/BoundTimer.h"
#include "common/StatusLine.h"
#include "common/TickTimer.h"
#include "config/StationSettings.h"
#include "devices/BalanceLink.h"
#include "devices/BalanceLinkTiming.h"
#include "devices/BalanceReadings.h"
#include "devices/LightBus.h"
#include "devices/ModbusFrames.h"
#include "devices/QtSerialPort.h"
#include "devices/RtuLine.h"
#include "devices/Zeroing.h"
#include "tests/support/Devsim.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

// The device side of a station: the three ports, the link, the zeroing and the light
// bus, each on a real timer.
struct DeviceRig {
    StationSettings settings;
    QtSerialPort comm1, comm2, comm3;
    BalanceReadings readings;
    StatusLine status;
    TickTimer timer1, timer5{10}, timer6{20};
    BalanceLink link{settings, comm1, comm2, readings, status};
    Zeroing zeroing{comm1, timer1, timer6, status};
    LightBus bus{settings, comm3, timer5, status};
    BoundTimer t1{timer1, [this] { link.tick(); }};
    BoundTimer t5{timer5, [this] { bus.tick(); }};
    BoundTimer t6{timer6, [this] { zeroing.tick(); }};
    BoundTimer pacer{bus.pacer(), [this] {
                         if (Outcome o = bus.pump(); !o)
                             status.report(o.reason());
                     }};
    QStringList reports;

    DeviceRig(const Devsim& sim, const char* mode) {
        QObject::connect(&status, &StatusLine::reported,
                         [this](const QString& t) { reports << t; });
        const bool text = QByteArray(mode) == "1";
        settings.setText(Setting::SetType, QString::fromLatin1(mode));
        settings.setText(Setting::BalancePort1, sim.link(text ? "small" : "bus"));
        settings.setText(Setting::BalancePort2, sim.link("large"));
        settings.setText(Setting::LightPort, sim.link("lights"));
        ok = comm1.open(settings.text(Setting::BalancePort1)).ok() &&
             (!text || comm2.open(settings.text(Setting::BalancePort2)).ok()) &&
             comm3.open(settings.text(Setting::LightPort)).ok();
        timer1.setInterval(text ? BalanceLinkTiming::kTextModeTickMs
                                : BalanceLinkTiming::kModbusTickMs);
        timer1.setEnabled(true);
    }
    bool ok = false;
    QString small() const { return readings.caption(Balance::Small); }
    QString large() const { return readings.caption(Balance::Large); }
};

// Writes a request and collects the answer until `length` bytes have come (or 2 s).
QByteArray exchange(QtSerialPort& port, const QByteArray& request, int length) {
    port.read(-1);
    if (!port.write(request).ok())
        return {};
    QByteArray answer;
    waitFor([&] { return (answer += port.read(-1)).size() >= length; }, 2000);
    return answer;
}

} // namespace

class TestDevsimE2E : public QObject {
    Q_OBJECT

private slots:
    void textMode() {
        Devsim sim({"--small", "123.45", "--large", "1234.5", "--rate", "10"});
        QVERIFY(sim.ready());
        DeviceRig b(sim, "1");
        QVERIFY(b.ok);
        WAIT_COMPARE(b.small(), QString("123.45"), 5000);
        WAIT_COMPARE(b.large(), QString("1234.5"), 5000);
        QVERIFY(b.readings.isLive(Balance::Large) && b.readings.isLive(Balance::Small));
        sim.command("set small -12.3");
        sim.command("set large 27999.9");
        WAIT_COMPARE(b.small(), QString("-12.3"), 5000);
        WAIT_COMPARE(b.large(), QString("27999.9"), 5000);
    }

    void modbusModeAndZeroing() {
        Devsim sim({"--small", "123.45", "--large", "6553.6"});
        QVERIFY(sim.ready());
        DeviceRig b(sim, "2");
        QVERIFY(b.ok);
        // The simulator is another process: on a loaded machine it may answer later than a
        // real balance would, and a request sent after a time-out would then collide with
        // its late answer. This test is about the frames, not the time-out.
        b.link.setResponseTimeoutMs(1000);
        WAIT_COMPARE(b.small(), QString("123.45"), 5000);
        WAIT_COMPARE(b.large(), QString("6553.6"), 5000);
        sim.command("pour small 0.05");
        WAIT_COMPARE(b.small(), QString("123.5"), 5000);

        // At 9600 baud every read must still find a whole reply: the readings keep coming.
        const qint64 before =
            b.link.readingCount(Balance::Large) + b.link.readingCount(Balance::Small);
        runFor(1000);
        QVERIFY2(b.link.readingCount(Balance::Large) + b.link.readingCount(Balance::Small) -
                         before >=
                     10,
                 qPrintable(QString::number(b.link.readingCount(Balance::Large) +
                                            b.link.readingCount(Balance::Small) - before)));

        // A double-click on the small reading: the command goes out and the balance reads 0.
        b.zeroing.request(Balance::Small);
        WAIT_VERIFY(sim.hasEvent("zero small"), 5000);
        WAIT_COMPARE(b.small(), QString("0"), 5000);
        WAIT_VERIFY(!b.timer6.enabled(), 5000);
        QVERIFY(b.timer1.enabled());
        QCOMPARE(b.large(), QString("6553.6"));
        b.zeroing.request(Balance::Large);
        WAIT_VERIFY(sim.hasEvent("zero large"), 5000);
        WAIT_COMPARE(b.large(), QString("0"), 5000);
        // Nothing the station sent was refused.
        for (const QString& e : sim.events())
            QVERIFY2(!e.startsWith("bad-frame"), qPrintable(e));
    }

    void modbusReplyTakesTheLineTime() {
        // The reply to a read request crosses the line no sooner than a 9600-baud line
        // allows (8 + 11 bytes, about 20 ms, plus turnaround), and well within the link's
        // response time-out.
        Devsim sim({"--small", "123.45"});
        QVERIFY(sim.ready());
        QtSerialPort port;
        QVERIFY(port.open(sim.link("bus")).ok());
        QList<qint64> times;
        for (int round = 0; round < 5; ++round) {
            QElapsedTimer t;
            t.start();
            QVERIFY(port.write(BalanceFrames::readRequest(3)).ok());
            QByteArray reply;
            waitFor([&] { return (reply += port.read(-1)).size() >= 11; }, 1000);
            times << t.elapsed();
            QCOMPARE(hex(reply), QString("03 03 06 00 01 00 00 30 39 D1 C7"));
        }
        std::sort(times.begin(), times.end());
        const QString shown = QString("%1 ms").arg(times.at(2));
        QVERIFY2(times.first() >= 19, qPrintable(shown));
        QVERIFY2(times.at(2) < RtuLine::kDefaultResponseTimeoutMs, qPrintable(shown));
    }

    void silentBalanceGoesStaleAndRecovers_data() {
        QTest::addColumn<QString>("mode");
        QTest::newRow("text") << "1";
        QTest::newRow("modbus") << "2";
    }
    void silentBalanceGoesStaleAndRecovers() {
        QFETCH(QString, mode);
        Devsim sim({"--small", "1.5", "--large", "2.5"});
        QVERIFY(sim.ready());
        DeviceRig b(sim, mode.toLatin1().constData());
        QVERIFY(b.ok);
        WAIT_VERIFY(b.readings.isLive(Balance::Small), 5000);
        sim.command("silent small");
        WAIT_VERIFY(!b.readings.isLive(Balance::Small), 5000);
        QCOMPARE(b.small(), QString(mode == "1" ? "1.50" : "1.5"));
        QVERIFY(b.readings.isLive(Balance::Large));
        // The healthy balance keeps being read while the other is silent.
        const qint64 before = b.link.readingCount(Balance::Large);
        runFor(1000);
        const qint64 perSecond = b.link.readingCount(Balance::Large) - before;
        QVERIFY2(perSecond >= 4, qPrintable(QString::number(perSecond)));
        sim.command("set small 2");
        sim.command("resume small");
        WAIT_VERIFY(b.readings.isLive(Balance::Small), 5000);
        WAIT_COMPARE(b.small(), QString(mode == "1" ? "2.00" : "2"), 5000);
    }

    void removedPortReconnects() {
        Devsim sim({"--small", "1.25"});
        QVERIFY(sim.ready());
        DeviceRig b(sim, "1");
        QVERIFY(b.ok);
        WAIT_COMPARE(b.small(), QString("1.25"), 5000);
        sim.command("unplug small");
        WAIT_VERIFY(!b.reports.isEmpty(), 5000);
        QVERIFY(b.reports.last().contains("MSComm1"));
        QVERIFY(!b.comm1.isOpen());
        sim.command("set small 7.5");
        sim.command("plug small");
        WAIT_COMPARE(b.small(), QString("7.50"), 8000);
        QVERIFY(b.comm1.isOpen());
        QCOMPARE(b.reports.size(), 2);
    }

    void lights() {
        Devsim sim;
        QVERIFY(sim.ready());
        DeviceRig b(sim, "1");
        QVERIFY(b.ok);
        // One frame at a time, each after the module's answer, as on a two-wire line.
        for (int light : {1, 8, 9, 73, 120}) {
            QVERIFY(b.bus.CALL_LIGHT(light, LightBus::On).ok());
            WAIT_VERIFY(sim.hasEvent(QString("light on %1").arg(light)), 5000);
            runFor(50);
        }
        WAIT_VERIFY(sim.hasEvent("lit 1 8 9 73 120"), 5000);
        QVERIFY(b.bus.CALL_LIGHT(8, LightBus::Off).ok());
        WAIT_VERIFY(sim.hasEvent("light off 8"), 5000);
        runFor(50);
        b.bus.startSweep();
        WAIT_VERIFY(!b.timer5.enabled(), 10000);
        WAIT_VERIFY(sim.hasEvent("module-off 16"), 5000);
        for (int k = 1; k <= 16; ++k)
            QCOMPARE(sim.count(QString("module-off %1").arg(k)), 1);
        QCOMPARE(sim.events().filter("lit ").last(), QString("lit none"));
        for (const QString& e : sim.events())
            QVERIFY2(!e.startsWith("bad-frame"), qPrintable(e));
    }

    // A module has outputs 0..7 only: a write to another coil is refused with exception 02
    // (illegal data address) and lights nothing; the station's own 16-coil module-off frame
    // is still accepted.
    void lightModuleRefusesOtherCoils() {
        Devsim sim;
        QVERIFY(sim.ready());
        QtSerialPort port;
        QVERIFY(port.open(sim.link("lights")).ok());
        for (const char* data :
             {"01 05 00 08 FF 00", "01 05 00 F0 FF 00", "01 0F 00 08 00 10 02 00 00"}) {
            const QByteArray answer = exchange(port, ModbusFrames::withCrc(fromHex(data)), 5);
            QCOMPARE(hex(answer),
                     hex(ModbusFrames::withCrc(fromHex(data).left(1) +
                                               char(fromHex(data).at(1) | 0x80) + char(2))));
        }
        QCOMPARE(hex(exchange(port, LightBus::frame(16, LightBus::ModuleOff), 8)),
                 hex(ModbusFrames::withCrc(fromHex("02 0F 00 00 00 10"))));
        const QStringList bad = sim.events().filter("bad-frame lights bad-coil");
        QCOMPARE(bad.size(), 3);
        QVERIFY2(bad.at(1).contains("01 05 00 F0 FF 00"), qPrintable(bad.at(1)));
        QCOMPARE(sim.events().filter("light on").size(), 0);
        QCOMPARE(sim.events().filter("module-off").size(), 1);
    }

    // devsim reads a Modbus line as a slave on a two-wire line does: a frame ends by 3.5
    // characters of silence, whatever its length, so a pause inside a frame breaks it and
    // two frames without a pause are one bad frame; a request sent while a reply is due
    // garbles both.
    void framesEndBySilence() {
        Devsim sim({"--turnaround", "lights=200"});
        QVERIFY(sim.ready());
        QtSerialPort port;
        QVERIFY(port.open(sim.link("lights")).ok());
        const QByteArray on2 = LightBus::frame(2, LightBus::On);
        const QByteArray on3 = LightBus::frame(3, LightBus::On);

        QVERIFY(port.write(on2.left(3)).ok());
        runFor(100);
        QVERIFY(port.write(on2.mid(3)).ok());
        runFor(100);
        QVERIFY(port.write(on2 + on3).ok()); // back to back: one 16-byte frame
        WAIT_VERIFY(sim.events().filter("bad-frame lights").size() == 3, 5000);
        const QStringList bad = sim.events().filter("bad-frame lights");
        QCOMPARE(bad.at(0), "bad-frame lights incomplete " + hex(on2.left(3)));
        QCOMPARE(bad.at(1), "bad-frame lights bad-checksum " + hex(on2.mid(3)));
        QCOMPARE(bad.at(2), "bad-frame lights bad-checksum " + hex(on2 + on3));
        QCOMPARE(port.read(-1), QByteArray());

        // Bytes a little apart but without a silence between them are one frame.
        QVERIFY(port.write(on2.left(4)).ok());
        QVERIFY(port.write(on2.mid(4)).ok());
        WAIT_VERIFY(sim.hasEvent("light on 2"), 5000);
        // Light 3 goes out while module 1 is about to answer (200 ms of turnaround).
        runFor(50);
        QVERIFY(port.write(on3).ok());
        WAIT_VERIFY(sim.hasEvent("bad-frame lights collision " + hex(on3)), 5000);
        QVERIFY(sim.hasEvent("collision lights 8"));
        QVERIFY(!sim.hasEvent("light on 3"));
        runFor(300);
        QCOMPARE(port.read(-1), QByteArray()); // the answer to light 2 is lost
        // The line is quiet again: the next request is answered whole.
        QCOMPARE(hex(exchange(port, on3, 8)), hex(on3));
        QVERIFY(sim.hasEvent("lit 2 3"));
    }

    // Refused requests are answered with their exception at once, also while another
    // device waits; a device made to answer exceptions does so until told otherwise.
    void exceptions() {
        Devsim sim({"--small", "123.45"});
        QVERIFY(sim.ready());
        QtSerialPort bus;
        QVERIFY(bus.open(sim.link("bus")).ok());
        QElapsedTimer t;
        t.start();
        const struct {
            const char* request;
            const char* answer;
        } refused[] = {{"03 2B 0E 01 00 00", "03 AB 01"},  // unknown function
                       {"03 03 00 64 00 01", "03 83 02"},  // no such register
                       {"04 03 00 01 00 C8", "04 83 03"},  // too many registers
                       {"04 05 00 F0 12 34", "04 85 03"}}; // not ON or OFF
        for (const auto& r : refused)
            QCOMPARE(hex(exchange(bus, ModbusFrames::withCrc(fromHex(r.request)), 5)),
                     hex(ModbusFrames::withCrc(fromHex(r.answer))));
        QCOMPARE(hex(exchange(bus, BalanceFrames::readRequest(3), 11)),
                 QString("03 03 06 00 01 00 00 30 39 D1 C7"));
        // libmodbus would have held every device for 0.5 s after each exception.
        QVERIFY2(t.elapsed() < 1500, qPrintable(QString::number(t.elapsed())));

        sim.command("exception small 02");
        sim.command("exception lights 3 04");
        WAIT_VERIFY(sim.hasEvent("exception lights 3 04"), 5000);
        QCOMPARE(hex(exchange(bus, BalanceFrames::readRequest(3), 5)),
                 hex(ModbusFrames::withCrc(fromHex("03 83 02"))));
        QCOMPARE(exchange(bus, BalanceFrames::readRequest(4), 11).size(), 11);
        QtSerialPort lights;
        QVERIFY(lights.open(sim.link("lights")).ok());
        QCOMPARE(hex(exchange(lights, LightBus::frame(17, LightBus::On), 5)),
                 hex(ModbusFrames::withCrc(fromHex("03 85 04"))));
        QVERIFY(!sim.hasEvent("light on 17"));
        sim.command("exception off");
        WAIT_VERIFY(sim.hasEvent("exception off"), 5000);
        QCOMPARE(hex(exchange(bus, BalanceFrames::readRequest(3), 11)),
                 QString("03 03 06 00 01 00 00 30 39 D1 C7"));
        QCOMPARE(exchange(lights, LightBus::frame(17, LightBus::On), 8).size(), 8);
        QVERIFY(sim.hasEvent("light on 17"));
        for (const char* wrong :
             {"exception small", "exception lights 17 02", "exception large zz"})
            sim.command(wrong);
        WAIT_VERIFY(sim.events().filter("unknown-command exception").size() == 3, 5000);
    }

    // A write to slave 0 is carried out by every slave and answered by none.
    void broadcastWrites() {
        Devsim sim({"--small", "5", "--large", "7"});
        QVERIFY(sim.ready());
        QtSerialPort lights, bus;
        QVERIFY(lights.open(sim.link("lights")).ok() && bus.open(sim.link("bus")).ok());
        QVERIFY(lights.write(ModbusFrames::withCrc(fromHex("00 05 00 01 FF 00"))).ok());
        WAIT_VERIFY(sim.hasEvent("lit 2 10 18 26 34 42 50 58 66 74 82 90 98 106 114 122"), 5000);
        QVERIFY(bus.write(ModbusFrames::withCrc(fromHex("00 05 00 F0 FF 00"))).ok());
        WAIT_VERIFY(sim.hasEvent("zero small") && sim.hasEvent("zero large"), 5000);
        runFor(200);
        QCOMPARE(lights.read(-1) + bus.read(-1), QByteArray());
        QCOMPARE(hex(exchange(bus, BalanceFrames::readRequest(4), 11)),
                 hex(ModbusFrames::withCrc(fromHex("04 03 06 00 01 00 00 00 00"))));
    }

    // The turnaround of one device, from the command line and from the control.
    void turnaroundPerDevice() {
        Devsim sim({"--turnaround", "small=80"});
        QVERIFY(sim.ready());
        QtSerialPort bus;
        QVERIFY(bus.open(sim.link("bus")).ok());
        auto replyMs = [&](int slave) {
            QElapsedTimer t;
            t.start();
            const QByteArray r = exchange(bus, BalanceFrames::readRequest(slave), 11);
            return r.size() == 11 ? t.elapsed() : -1;
        };
        // 8 + 11 bytes on the line (19.8 ms) and the turnaround.
        const qint64 small = replyMs(3);
        QVERIFY2(small >= 99, qPrintable(QString::number(small)));
        QVERIFY(replyMs(4) >= 0);
        sim.command("turnaround large 120");
        WAIT_VERIFY(sim.hasEvent("turnaround large 120"), 5000);
        const qint64 large = replyMs(4);
        QVERIFY2(large >= 139, qPrintable(QString::number(large)));
    }

    void lightBusReconnects() {
        Devsim sim;
        QVERIFY(sim.ready());
        DeviceRig b(sim, "1");
        QVERIFY(b.ok);
        QVERIFY(b.bus.CALL_LIGHT(1, LightBus::On).ok());
        WAIT_VERIFY(sim.hasEvent("light on 1"), 5000);
        sim.command("unplug lights");
        WAIT_VERIFY(sim.hasEvent("unplugged lights"), 5000);
        runFor(300);
        sim.command("plug lights");
        WAIT_VERIFY(sim.events().filter(QRegularExpression("^plugged lights")).size() == 2, 5000);
        // The sequencer lights the next line: the bus opens the new line for it.
        // The frame is sent again until one stands alone on the line with its answer.
        WAIT_VERIFY(b.bus.CALL_LIGHT(9, LightBus::On).ok() &&
                        waitFor([&] { return sim.hasEvent("light on 9"); }, 100),
                    5000);
        QVERIFY(b.comm3.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestDevsimE2E)
#include "test_devsim_e2e.moc"
