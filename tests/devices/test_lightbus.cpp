#include "common/StatusLine.h"
#include "common/TickTimer.h"
#include "config/StationSettings.h"
#include "devices/BusClock.h"
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
        ManualBusClock clock;
        LightBus bus{settings, port, timer5, status, clock};
        Bus() {
            settings.setText(Setting::LightPort, QStringLiteral("/dev/lights"));
            QVERIFY(port.open(QStringLiteral("/dev/lights")).ok());
            port.answer = &MemorySerialPort::moduleAnswer; // every module answers at once
        }
        // Runs the sweep while Timer5 is enabled, at most `limit` ticks of 10 ms; returns the
        // count.
        int runSweep(int limit = 1000) {
            int n = 0;
            while (timer5.enabled() && n < limit) {
                clock.advanceMs(10);
                bus.tick();
                ++n;
            }
            return n;
        }
        // Runs the pacing timer (1 ms steps) until nothing waits; false if it never ends.
        bool drain(int limitMs = 5000) {
            for (int i = 0; i < limitMs && !bus.idle(); ++i) {
                clock.advanceMs(1);
                if (!bus.pump())
                    return false;
            }
            return bus.idle();
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
        QVERIFY(b.drain());
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
        QVERIFY(b.bus.switchAllOffNow(false).ok());
        QVERIFY(b.drain());
        QCOMPARE(b.port.writes.size(), 16);
        for (int module = 1; module <= 16; ++module)
            QCOMPARE(b.port.writes[module - 1], LightBus::frame(8 * module, LightBus::ModuleOff));
        QVERIFY(!b.timer5.enabled());
        b.bus.startSweep();
        b.runSweep();
        QCOMPARE(b.port.writes.count(LightBus::frame(73, LightBus::On)), 0);
    }

    void answersDoNotPileUp() {
        // Each module answers every frame, and an odd frame comes unasked; all are taken off
        // the line, so a station that runs for months does not hold them in its input buffer.
        Bus b;
        QSignalSpy reports(&b.status, &StatusLine::reported);
        for (int i = 0; i < 100; ++i) {
            QVERIFY(b.bus.CALL_LIGHT(1 + i % 120, 1).ok());
            b.clock.advanceMs(30);
            QVERIFY(b.bus.pump().ok());
            b.port.feed(fromHex("01 05 00 00 FF 00 8C 3A"));
            b.clock.advanceMs(30);
        }
        QVERIFY(b.drain());
        QVERIFY(b.port.incoming.size() <= 8);
        QCOMPARE(b.port.writes.size(), 100);
        QCOMPARE(reports.count(), 0);
        QCOMPARE(b.bus.stats().answers(), 100);
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
            b.clock.advanceMs(10);
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

    // ---- pacing and answers, against a model of the wire

    // The switch-off of 16 modules on a modelled two-wire line: each frame takes its bytes'
    // time, the module answers after its turnaround (or not at all), and the station's
    // next frame must start only after that answer (or the time-out) and 3.5 characters of
    // silence. The station paces by the clock alone (an in-memory port has no baud rate).
    void switchOffOnTheWire_data() {
        QTest::addColumn<int>("turnaroundMs");
        QTest::addColumn<int>("silentModule"); // 0: all answer
        QTest::addColumn<int>("maxTotalMs");
        QTest::newRow("quick modules") << 3 << 0 << 500;
        QTest::newRow("20 ms modules") << 20 << 0 << 800;
        QTest::newRow("module 16 missing") << 3 << 16 << 600;
    }
    void switchOffOnTheWire() {
        QFETCH(int, turnaroundMs);
        QFETCH(int, silentModule);
        QFETCH(int, maxTotalMs);
        Bus b;
        QSignalSpy reports(&b.status, &StatusLine::reported);
        struct Due {
            qint64 at;
            QByteArray bytes;
        };
        QList<Due> due;
        qint64 lineFreeUs = 0; // when the wire allows the next frame to start
        int early = 0;
        QList<qint64> starts;
        b.port.answer = [&](const QByteArray& f) {
            const qint64 now = b.clock.nowUs();
            starts << now;
            if (now < lineFreeUs)
                ++early;
            const qint64 requestEnd = now + RtuLine::lineUs(f.size());
            if (quint8(f.at(0)) == silentModule) {
                lineFreeUs = requestEnd + RtuLine::kSilenceUs; // a timed-out wait is the master's
            } else {
                const qint64 answerEnd = requestEnd + turnaroundMs * 1000 + RtuLine::lineUs(8);
                due << Due{answerEnd, MemorySerialPort::moduleAnswer(f)};
                lineFreeUs = answerEnd + RtuLine::kSilenceUs;
            }
            return QByteArray();
        };
        const qint64 t0 = b.clock.nowUs();
        QVERIFY(b.bus.switchAllOffNow(false).ok());
        for (int i = 0; i < 5000 && !b.bus.idle(); ++i) {
            b.clock.advanceUs(500);
            for (qsizetype k = due.size() - 1; k >= 0; --k)
                if (due.at(k).at <= b.clock.nowUs())
                    b.port.feed(due.takeAt(k).bytes);
            QVERIFY(b.bus.pump().ok());
        }
        QVERIFY(b.bus.idle());
        QCOMPARE(b.port.writes.size(), 16);
        for (int module = 1; module <= 16; ++module)
            QCOMPARE(b.port.writes[module - 1], LightBus::frame(8 * module, LightBus::ModuleOff));
        QCOMPARE(early, 0);
        const qint64 totalMs = (b.clock.nowUs() - t0) / 1000;
        QVERIFY2(totalMs < maxTotalMs, qPrintable(QString::number(totalMs)));
        QCOMPARE(reports.count(), silentModule ? 1 : 0);
        if (silentModule)
            QCOMPARE(reports.at(0).at(0).toString(),
                     QStringLiteral("燈號模組 %1 回應逾時").arg(silentModule));
    }

    // What a module may answer to "light 17 on" (module 3): the status line names the fault
    // once, and a light-on that failed is sent once more.
    void moduleFaults_data() {
        QTest::addColumn<QByteArray>("answer"); // to the first frame; the retry is answered well
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<QString>("report"); // empty: none
        const QByteArray good = MemorySerialPort::moduleAnswer(LightBus::frame(17, LightBus::On));
        QByteArray garbled = good;
        garbled[7] = char(garbled[7] ^ 0x5A);
        QTest::newRow("answers") << good << 15 << "";
        QTest::newRow("slow but in time") << good << 90 << "";
        QTest::newRow("silent") << QByteArray() << 0 << "燈號模組 3 回應逾時";
        QTest::newRow("exception 02")
            << ModbusFrames::withCrc(fromHex("03 85 02")) << 15 << "燈號模組 3 回報例外 02";
        QTest::newRow("bad checksum") << garbled << 15 << "燈號模組 3 回應檢查碼錯誤";
        QTest::newRow("cut short") << good.left(5) << 15 << "燈號模組 3 回應檢查碼錯誤";
        QTest::newRow("wrong module")
            << MemorySerialPort::moduleAnswer(LightBus::frame(25, LightBus::On)) << 15
            << "燈號模組 3 回應逾時";
        QTest::newRow("other coil echoed")
            << MemorySerialPort::moduleAnswer(LightBus::frame(18, LightBus::On)) << 15
            << "燈號模組 3 回應不符";
        QTest::newRow("too late: into the retry") << good << 150 << "燈號模組 3 回應逾時";
    }
    void moduleFaults() {
        QFETCH(QByteArray, answer);
        QFETCH(int, afterMs);
        QFETCH(QString, report);
        Bus b;
        b.port.answer = nullptr;
        QSignalSpy reports(&b.status, &StatusLine::reported);
        QVERIFY(b.bus.CALL_LIGHT(17, LightBus::On).ok());
        for (int ms = 0; ms < afterMs; ++ms) {
            b.clock.advanceMs(1);
            QVERIFY(b.bus.pump().ok());
        }
        b.port.feed(answer);
        // The retry (if any) is answered well; a late answer lands in its wait and is taken
        // as its answer, which a real module would have garbled on the line.
        b.port.answer = &MemorySerialPort::moduleAnswer;
        QVERIFY(b.drain());
        const QByteArray on = LightBus::frame(17, LightBus::On);
        QCOMPARE(b.port.writes.count(on), report.isEmpty() ? 1 : 2);
        QCOMPARE(reports.count(), report.isEmpty() ? 0 : 1);
        if (!report.isEmpty())
            QCOMPARE(reports.at(0).at(0).toString(), report);
        // Each frame started after the wait for the one before it.
        QVERIFY(b.bus.stats().requests() == b.port.writes.size());
    }

    // A USB adapter or a busy host may show an answer in pieces with gaps longer than 3.5
    // characters: the answer is still taken whole, within the response time-out.
    void answerInPiecesIsTakenWhole_data() {
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<QString>("report");
        QTest::newRow("16 ms gap") << 16 << "";
        QTest::newRow("60 ms gap") << 60 << "";
        QTest::newRow("rest after the time-out") << 120 << "燈號模組 3 回應檢查碼錯誤";
    }
    void answerInPiecesIsTakenWhole() {
        QFETCH(int, gapMs);
        QFETCH(QString, report);
        Bus b;
        b.port.answer = nullptr;
        QSignalSpy reports(&b.status, &StatusLine::reported);
        QVERIFY(b.bus.CALL_LIGHT(17, LightBus::On).ok());
        const QByteArray good = MemorySerialPort::moduleAnswer(LightBus::frame(17, LightBus::On));
        for (int ms = 0; ms < 15 + gapMs; ++ms) {
            if (ms == 15)
                b.port.feed(good.left(3));
            b.clock.advanceMs(1);
            QVERIFY(b.bus.pump().ok());
        }
        b.port.feed(good.mid(3));
        b.port.answer = &MemorySerialPort::moduleAnswer;
        QVERIFY(b.drain());
        QCOMPARE(reports.count(), report.isEmpty() ? 0 : 1);
        if (!report.isEmpty())
            QCOMPARE(reports.at(0).at(0).toString(), report);
        QCOMPARE(b.bus.stats().checksumErrors() > 0, !report.isEmpty());
    }

    // Once per fault and module: a module that stays silent is reported once; after it has
    // answered again a new fault is reported again. A light-off is not repeated.
    void faultReportedOncePerModule() {
        Bus b;
        b.port.answer = nullptr;
        QSignalSpy reports(&b.status, &StatusLine::reported);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(b.bus.CALL_LIGHT(17, LightBus::Off).ok());
            QVERIFY(b.drain());
        }
        QCOMPARE(b.port.writes.size(), 3);
        QCOMPARE(reports.count(), 1);
        QCOMPARE(b.bus.stats().timeouts(), 3);
        b.port.answer = &MemorySerialPort::moduleAnswer;
        QVERIFY(b.bus.CALL_LIGHT(17, LightBus::Off).ok());
        QVERIFY(b.drain());
        b.port.answer = nullptr;
        QVERIFY(b.bus.CALL_LIGHT(17, LightBus::Off).ok());
        QVERIFY(b.drain());
        QCOMPARE(reports.count(), 2);
    }

    // The re-light after the sweep clears a module goes out after the module-off's exchange,
    // never in the same instant.
    void relightWaitsForTheModuleOff() {
        Bus b;
        QList<qint64> at;
        b.port.answer = [&](const QByteArray& f) {
            at << b.clock.nowUs();
            return MemorySerialPort::moduleAnswer(f);
        };
        b.bus.startSweep();
        QVERIFY(b.bus.CALL_LIGHT(73, LightBus::On).ok());
        b.runSweep();
        QVERIFY(b.drain());
        const qsizetype off = b.port.writes.indexOf(LightBus::frame(80, LightBus::ModuleOff));
        QCOMPARE(b.port.writes.value(off + 1), LightBus::frame(73, LightBus::On));
        QVERIFY(at.at(off + 1) - at.at(off) >=
                RtuLine::lineUs(11) + RtuLine::lineUs(8) + RtuLine::kSilenceUs);
    }
};

QTEST_GUILESS_MAIN(TestLightBus)
#include "test_lightbus.moc"
