#include "common/StatusLine.h"
#include "common/TickTimer.h"
#include "config/StationSettings.h"
#include "devices/LightBus.h"
#include "devices/MemorySerialPort.h"
#include "devices/ModbusFrames.h"
#include "tests/support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>

class TestLightBus : public QObject {
    Q_OBJECT

    struct Bus {
        StationSettings settings;
        MemorySerialPort port;
        TickTimer timer5{10};
        StatusLine status;
        LightBus bus{settings, port, timer5, status};
        Bus() {
            settings.setText(Setting::LightPort, QStringLiteral("/dev/lights"));
            QVERIFY(port.open(QStringLiteral("/dev/lights")).ok());
        }
        // Runs the sweep while Timer5 is enabled, at most `limit` ticks; returns the count.
        int runSweep(int limit = 1000) {
            int n = 0;
            while (timer5.enabled() && n < limit) {
                bus.tick();
                ++n;
            }
            return n;
        }
    };

private slots:
    void crc_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("crc");
        QTest::newRow("123456789") << QByteArray("123456789") << 0x4B37;
        QTest::newRow("empty") << QByteArray() << 0xFFFF;
        QTest::newRow("read request slave 3") << fromHex("03 03 00 01 00 03") << 0xE955;
        QTest::newRow("light 1 on") << fromHex("01 05 00 00 FF 00") << 0x3A8C;
    }
    void crc() {
        QFETCH(QByteArray, data);
        QFETCH(int, crc);
        QCOMPARE(int(ModbusFrames::crc16(data)), crc);
        // The window form: high byte first.
        const char bytes[2] = {char(crc >> 8), char(crc & 0xFF)};
        QCOMPARE(hex(ModbusFrames::CRC16(data)), hex(QByteArray(bytes, 2)));
    }

    void frames_data() {
        QTest::addColumn<int>("light");
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("bytes");
        QTest::newRow("1 on") << 1 << 1 << "01 05 00 00 FF 00 8C 3A";
        QTest::newRow("1 off") << 1 << 2 << "01 05 00 00 00 00 CD CA";
        QTest::newRow("16 module off") << 16 << 3 << "02 0F 00 00 00 10 02 00 00 F6 D0";
        QTest::newRow("9 module off ignores output")
            << 9 << 3 << "02 0F 00 00 00 10 02 00 00 F6 D0";
        QTest::newRow("command 4") << 5 << 4 << "";
        QTest::newRow("command 0") << 5 << 0 << "";
        QTest::newRow("light 0 on") << 0 << 1 << "";
        QTest::newRow("light 0 module off") << 0 << 3 << "";
        QTest::newRow("negative light") << -3 << 1 << "";
    }
    void frames() {
        QFETCH(int, light);
        QFETCH(int, command);
        QFETCH(QString, bytes);
        Bus b;
        QVERIFY(b.bus.CALL_LIGHT(light, command).ok());
        QCOMPARE(hex(b.port.allWritten()), bytes);
        QCOMPARE(b.port.writes.size(), bytes.isEmpty() ? 0 : 1); // one output call per frame
    }

    void moduleAndOutput_data() {
        QTest::addColumn<int>("light");
        QTest::addColumn<int>("module");
        QTest::addColumn<int>("output");
        QTest::newRow("1") << 1 << 1 << 0;
        QTest::newRow("8") << 8 << 1 << 7;
        QTest::newRow("9") << 9 << 2 << 0;
        QTest::newRow("73") << 73 << 10 << 0;
        QTest::newRow("120") << 120 << 15 << 7;
    }
    void moduleAndOutput() {
        QFETCH(int, light);
        QFETCH(int, module);
        QFETCH(int, output);
        for (int command : {1, 2}) {
            const QByteArray f = LightBus::frame(light, command);
            QCOMPARE(f.size(), 8);
            QCOMPARE(int(quint8(f[0])), module);
            QCOMPARE(int(quint8(f[3])), output);
            QCOMPARE(hex(f.mid(4, 2)), QString(command == 1 ? "FF 00" : "00 00"));
            QVERIFY(ModbusFrames::crcMatches(f));
        }
    }

    void closedPortWritesNothing() {
        Bus b;
        b.port.close();
        const Outcome o = b.bus.CALL_LIGHT(1, 1);
        QVERIFY(!o.ok());
        QVERIFY(b.port.writes.isEmpty());
    }

    void lightSwitchedOnDuringTheSweepStaysOn() {
        // The job-start sweep is still running when the first line's light comes on: the
        // sweep clears that module later and must switch the light on again after it.
        Bus b;
        b.bus.startSweep();
        for (int i = 0; i < 20; ++i)
            b.bus.tick();
        QVERIFY(b.bus.CALL_LIGHT(73, 1).ok());  // module 10, output 0
        QVERIFY(b.bus.CALL_LIGHT(100, 1).ok()); // module 13, switched off again before
        QVERIFY(b.bus.CALL_LIGHT(100, 2).ok());
        b.port.writes.clear();
        b.runSweep();
        const QList<QByteArray>& w = b.port.writes;
        const qsizetype off10 = w.indexOf(LightBus::frame(80, LightBus::ModuleOff));
        QVERIFY(off10 >= 0);
        QCOMPARE(w.value(off10 + 1), LightBus::frame(73, LightBus::On));
        QCOMPARE(w.count(LightBus::frame(100, LightBus::On)), 0);
        QCOMPARE(w.count(LightBus::frame(73, LightBus::On)), 1);
        // A later sweep with nothing switched on meanwhile clears everything.
        b.port.writes.clear();
        b.bus.startSweep();
        b.runSweep();
        QCOMPARE(b.port.writes.count(LightBus::frame(73, LightBus::On)), 0);
    }

    // All lights off asked again ("取消全部", "DEL", "CLOSE LIGHT") while a light switched
    // on during the running sweep waits for its re-light, or after it has been re-lit:
    // either way that light ends off.
    void newSweepRequestPutsOutLightsLitDuringTheSweep_data() {
        QTest::addColumn<int>("requestAtTick");
        QTest::newRow("re-light pending") << 40;
        QTest::newRow("already re-lit") << 90;
    }
    void newSweepRequestPutsOutLightsLitDuringTheSweep() {
        QFETCH(int, requestAtTick);
        Bus b;
        b.bus.startSweep();
        for (int i = 0; i < 20; ++i)
            b.bus.tick();
        QVERIFY(b.bus.CALL_LIGHT(73, 1).ok()); // module 10, cleared at tick 80
        b.port.writes.clear();
        while (b.bus.sweepTick() < requestAtTick)
            b.bus.tick();
        b.bus.startSweep();
        b.runSweep();
        // The last frame that touches light 73 decides whether it is on.
        const QByteArray on = LightBus::frame(73, LightBus::On);
        const QList<QByteArray> touching{on, LightBus::frame(73, LightBus::Off),
                                         LightBus::frame(80, LightBus::ModuleOff)};
        QByteArray last;
        for (const QByteArray& w : std::as_const(b.port.writes))
            if (touching.contains(w))
                last = w;
        QVERIFY(!last.isEmpty());
        QVERIFY2(last != on, qPrintable(hex(b.port.allWritten())));
    }

    void failedRelightIsReported() {
        Bus b;
        QSignalSpy reports(&b.status, &StatusLine::reported);
        b.bus.startSweep();
        QVERIFY(b.bus.CALL_LIGHT(73, 1).ok());
        b.port.failWrite = true;
        b.runSweep();
        bool relight = false;
        for (const QList<QVariant>& r : std::as_const(reports))
            relight = relight || r.at(0).toString().contains(QStringLiteral("燈號 73"));
        QVERIFY(relight);
    }

    // At the end of the program: every module cleared at once, and a light that a running
    // sweep would have switched on again stays off.
    void switchAllOffNowForgetsPendingRelights() {
        Bus b;
        b.bus.startSweep();
        QVERIFY(b.bus.CALL_LIGHT(73, 1).ok());
        b.port.writes.clear();
        QVERIFY(b.bus.switchAllOffNow().ok());
        QCOMPARE(b.port.writes.size(), 16);
        for (int module = 1; module <= 16; ++module)
            QCOMPARE(b.port.writes[module - 1], LightBus::frame(8 * module, LightBus::ModuleOff));
        QVERIFY(!b.timer5.enabled());
        b.bus.startSweep();
        b.runSweep();
        QCOMPARE(b.port.writes.count(LightBus::frame(73, LightBus::On)), 0);
    }

    void answersDoNotPileUp() {
        // Each module answers every frame; the answers are discarded as they come, so a
        // station that runs for months does not hold them all in its input buffer.
        Bus b;
        for (int i = 0; i < 100; ++i) {
            QVERIFY(b.bus.CALL_LIGHT(1 + i % 120, 1).ok());
            b.port.feed(fromHex("01 05 00 00 FF 00 8C 3A"));
        }
        QVERIFY(b.port.incoming.size() <= 8);
        QCOMPARE(b.port.writes.size(), 100);
    }

    void lostPortIsReopenedWhenBack() {
        Bus b;
        QSignalSpy reports(&b.status, &StatusLine::reported);
        b.port.lost = true;
        b.port.failOpen = true;
        QVERIFY(!b.bus.CALL_LIGHT(1, 1).ok());
        QVERIFY(!b.bus.reopenIfLost()); // still away: tried again, not forgotten
        QVERIFY(b.port.writes.isEmpty());
        QCOMPARE(reports.count(), 0);
        b.port.failOpen = false;
        QVERIFY(b.bus.CALL_LIGHT(1, 1).ok());
        QCOMPARE(hex(b.port.allWritten()), QString("01 05 00 00 FF 00 8C 3A"));
        QCOMPARE(reports.count(), 1);
    }

    void sweepClearsModules1To16() {
        Bus b;
        b.bus.startSweep();
        QVERIFY(b.timer5.enabled());
        QCOMPARE(b.runSweep(), 131);
        QCOMPARE(b.port.writes.size(), 16);
        for (int k = 1; k <= 16; ++k) {
            QByteArray data = fromHex("00 0F 00 00 00 10 02 00 00");
            data[0] = char(k);
            QCOMPARE(hex(b.port.writes.at(k - 1)), hex(ModbusFrames::withCrc(data)));
        }
        QCOMPARE(b.bus.sweepTick(), 0);
        QVERIFY(!b.timer5.enabled());
    }

    void sweepSpacing() {
        // One module every 8 ticks, the first at tick 8.
        Bus b;
        b.bus.startSweep();
        for (int t = 1; t <= 131; ++t) {
            const qsizetype before = b.port.writes.size();
            b.bus.tick();
            QCOMPARE(b.port.writes.size() - before, qsizetype(t % 8 == 0 && t <= 128 ? 1 : 0));
        }
    }

    void sweepWithoutBusWritesNothing_data() {
        QTest::addColumn<QString>("lightPort");
        QTest::addColumn<bool>("portOpen");
        QTest::newRow("blank setting") << "   " << true;
        QTest::newRow("empty setting") << "" << true;
        QTest::newRow("port not open") << "/dev/lights" << false;
    }
    void sweepWithoutBusWritesNothing() {
        QFETCH(QString, lightPort);
        QFETCH(bool, portOpen);
        Bus b;
        b.settings.setText(Setting::LightPort, lightPort);
        if (!portOpen)
            b.port.close();
        QSignalSpy reports(&b.status, &StatusLine::reported);
        b.bus.startSweep();
        QCOMPARE(b.runSweep(), 131);
        QVERIFY(b.port.writes.isEmpty());
        QCOMPARE(reports.count(), 0);
        QVERIFY(!b.timer5.enabled());
    }

    void restartDuringSweepGoesOn() {
        Bus b;
        b.bus.startSweep();
        for (int t = 0; t < 50; ++t)
            b.bus.tick();
        b.bus.startSweep(); // the sequencer enables it on every tick of its end state
        QCOMPARE(b.bus.sweepTick(), 50);
        QCOMPARE(b.runSweep(), 81);
        QCOMPARE(b.port.writes.size(), 16);
    }

    void secondSweepAfterTheFirst() {
        Bus b;
        b.bus.startSweep();
        b.runSweep();
        b.bus.startSweep();
        QCOMPARE(b.runSweep(), 131);
        QCOMPARE(b.port.writes.size(), 32);
    }
};

QTEST_GUILESS_MAIN(TestLightBus)
#include "test_lightbus.moc"
