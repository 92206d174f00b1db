#include "common/StatusLine.h"
#include "common/TickTimer.h"
#include "config/StationSettings.h"
#include "devices/BalanceFrames.h"
#include "devices/BalanceLink.h"
#include "devices/BalanceLinkTiming.h"
#include "devices/BalanceReadings.h"
#include "devices/BusClock.h"
#include "devices/MemorySerialPort.h"
#include "devices/ModbusFrames.h"
#include "devices/PortStats.h"
#include "devices/Zeroing.h"
#include "tests/support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>

using namespace BalanceFrames;

namespace {

// A reply of a balance slave with its three registers, checksum appended.
QByteArray reply(int slave, quint16 r1, quint16 r2, quint16 r3) {
    QByteArray d;
    d.append(char(slave));
    d.append(char(3));
    d.append(char(6));
    for (quint16 r : {r1, r2, r3}) {
        d.append(char(r >> 8));
        d.append(char(r & 0xFF));
    }
    return ModbusFrames::withCrc(d);
}

struct Link {
    StationSettings settings;
    MemorySerialPort comm1, comm2;
    BalanceReadings readings;
    StatusLine status;
    ManualBusClock clock;
    BalanceLink link{settings, comm1, comm2, readings, status, clock};
    explicit Link(const char* mode) {
        settings.setText(Setting::SetType, QString::fromLatin1(mode));
        settings.setText(Setting::BalancePort1, QStringLiteral("/dev/small"));
        settings.setText(Setting::BalancePort2, QStringLiteral("/dev/large"));
        QVERIFY(comm1.open(settings.text(Setting::BalancePort1)).ok());
        QVERIFY(comm2.open(settings.text(Setting::BalancePort2)).ok());
    }
    // Ticks of the mode's interval, the bus clock moving with them.
    void ticks(int n) {
        const int ms = settings.text(Setting::SetType) == QLatin1String("2")
                           ? BalanceLinkTiming::kModbusTickMs
                           : BalanceLinkTiming::kTextModeTickMs;
        for (int i = 0; i < n; ++i) {
            clock.advanceMs(ms);
            link.tick();
        }
    }
};

} // namespace

class TestBalanceLink : public QObject {
    Q_OBJECT

private slots:
    // ---- text frames, one frame at a time

    void textFrame_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("gPosition");
        QTest::addColumn<QString>("caption"); // null: no reading
        QTest::newRow("small positive") << QByteArray("S+  123.45g\r\n") << 11 << "123.45";
        QTest::newRow("small negative") << QByteArray("S-  123.45g\r\n") << 11 << "-123.45";
        QTest::newRow("own digits kept") << QByteArray("S+ 0012.34g   \r\n") << 11 << "0012.34";
        QTest::newRow("negative shortest") << QByteArray("S- 0012.30g   \r\n") << 11 << "-12.3";
        QTest::newRow("negative zero") << QByteArray("S-    0.00g") << 11 << "0";
        QTest::newRow("large positive") << QByteArray("L+ 1234.5g\r\n") << 10 << "1234.5";
        QTest::newRow("large negative") << QByteArray("L-   12.0g\r\n") << 10 << "-12";
        QTest::newRow("sign misplaced") << QByteArray("+S  123.45g\r\n") << 11 << QString();
        QTest::newRow("no sign") << QByteArray("S   123.45g\r\n") << 11 << QString();
        QTest::newRow("g misplaced") << QByteArray("S+  123.45 g\r\n") << 11 << QString();
        QTest::newRow("large frame on small rule")
            << QByteArray("L+ 1234.5g\r\n") << 11 << QString();
        QTest::newRow("blank number") << QByteArray("S+        g\r\n") << 11 << QString();
        QTest::newRow("blank negative") << QByteArray("S-        g\r\n") << 11 << QString();
        QTest::newRow("overload text") << QByteArray("S+ OVERLD g\r\n") << 11 << QString();
        QTest::newRow("error negative") << QByteArray("S- Err 03 g\r\n") << 11 << QString();
        QTest::newRow("blank inside") << QByteArray("S+  12 .45g\r\n") << 11 << QString();
        QTest::newRow("two points") << QByteArray("S+  12.4.5g\r\n") << 11 << QString();
        QTest::newRow("sign in field") << QByteArray("S+ -123.45g\r\n") << 11 << QString();
        QTest::newRow("only a point") << QByteArray("S+       .g\r\n") << 11 << QString();
        QTest::newRow("too short") << QByteArray("S+  123.45") << 11 << QString();
        QTest::newRow("tab in field") << QByteArray("S+\t 123.45g") << 11 << QString();
        QTest::newRow("nul in field") << QByteArray("S+ \0 123.4g", 11) << 11 << QString();
    }
    void textFrame() {
        QFETCH(QByteArray, frame);
        QFETCH(int, gPosition);
        QFETCH(QString, caption);
        const std::optional<QString> c = textCaption(frame, gPosition);
        QCOMPARE(c.has_value(), !caption.isNull());
        if (c)
            QCOMPARE(*c, caption);
    }

    // ---- the stream parser

    void stream_data() {
        QTest::addColumn<QList<QByteArray>>("feeds");
        QTest::addColumn<QStringList>("captions"); // after each feed; "-" for none
        const QByteArray f1 = "S+  100.01g   \r\n";
        const QByteArray f2 = "S+  100.02g   \r\n";
        QTest::newRow("one frame") << QList<QByteArray>{f1} << QStringList{"100.01"};
        QTest::newRow("newest of several")
            << QList<QByteArray>{f1 + f2 + f1 + f2} << QStringList{"100.02"};
        QTest::newRow("starts mid frame")
            << QList<QByteArray>{f1.mid(5) + f2} << QStringList{"100.02"};
        QTest::newRow("mid frame only") << QList<QByteArray>{f1.mid(5)} << QStringList{"-"};
        QTest::newRow("16 chars at a time, misaligned")
            << QList<QByteArray>{(f1 + f2).mid(3, 16), (f1 + f2).mid(19)}
            << QStringList{"-", "100.02"};
        QTest::newRow("bad frame keeps the good one")
            << QList<QByteArray>{f1 + "S+  OVERLDg   \r\n"} << QStringList{"100.01"};
        QTest::newRow("garbage between frames")
            << QList<QByteArray>{f1 + QByteArray("\xff\x00+g--gg+", 9) + f2}
            << QStringList{"100.02"};
        QTest::newRow("no terminators")
            << QList<QByteArray>{"S+  100.01gS+  100.02g"} << QStringList{"100.02"};
        QTest::newRow("garbage only")
            << QList<QByteArray>{QByteArray(500, 'x')} << QStringList{"-"};
    }
    void stream() {
        QFETCH(QList<QByteArray>, feeds);
        QFETCH(QStringList, captions);
        TextFrameParser p(kSmallGPosition);
        for (int i = 0; i < feeds.size(); ++i) {
            const std::optional<QString> c = p.feed(feeds.at(i));
            QCOMPARE(c.value_or(QStringLiteral("-")), captions.at(i));
            QVERIFY(p.pending() < kSmallGPosition);
        }
    }

    void streamSplitAtEveryByte() {
        const QByteArray frames = QByteArray("L+ 1234.5g\r\n") + "L- 0001.2g\r\n";
        for (int cut = 0; cut <= frames.size(); ++cut) {
            TextFrameParser p(kLargeGPosition);
            std::optional<QString> last = p.feed(frames.left(cut));
            if (auto c = p.feed(frames.mid(cut)))
                last = c;
            QCOMPARE(last.value_or(QString()), QString("-1.2"));
        }
        // One byte at a time.
        TextFrameParser p(kLargeGPosition);
        QStringList seen;
        for (char c : frames)
            if (auto r = p.feed(QByteArray(1, c)))
                seen << *r;
        QCOMPARE(seen, (QStringList{"1234.5", "-1.2"}));
    }

    // ---- Modbus replies

    void modbusFrames() {
        QCOMPARE(hex(readRequest(3)), QString("03 03 00 01 00 03 55 E9"));
        QCOMPARE(hex(readRequest(4)), QString("04 03 00 01 00 03 54 5E"));
        QCOMPARE(hex(zeroCommand(4)), QString("04 05 00 F0 FF 00 8C 5C"));
        QCOMPARE(hex(zeroCommand(3)), QString("03 05 00 F0 FF 00 8D EB"));
    }

    void modbusReply_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("slave");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("caption");
        const int reading = int(ReplyStatus::Reading);
        const QByteArray good = reply(3, 0x0001, 0x0000, 0x3039);
        QTest::newRow("small 123.45") << good << 3 << reading << "123.45";
        QTest::newRow("platform example")
            << fromHex("03 03 06 00 01 00 00 30 39 D1 C7") << 3 << reading << "123.45";
        QTest::newRow("small negative")
            << reply(3, 0x0000, 0x0000, 0x3039) << 3 << reading << "-123.45";
        QTest::newRow("digit 7 negative")
            << reply(3, 0x0017, 0x0000, 0x0005) << 3 << reading << "-0.05";
        QTest::newRow("high digits ignored")
            << reply(3, 0xAB91, 0x0000, 0x0064) << 3 << reading << "1";
        QTest::newRow("large 6553.6")
            << reply(4, 0x0001, 0x0001, 0x0000) << 4 << reading << "6553.6";
        QTest::newRow("large zero") << reply(4, 0x0001, 0x0000, 0x0000) << 4 << reading << "0";
        QTest::newRow("signed magnitude")
            << reply(4, 0x0001, 0xFFFF, 0xFFFF) << 4 << reading << "-0.1";
        QTest::newRow("long, valid first 11")
            << good + QByteArray("\x00", 1) << 3 << reading << "123.45";
        QTest::newRow("empty") << QByteArray() << 3 << int(ReplyStatus::Short) << "";
        QTest::newRow("short") << good.left(10) << 3 << int(ReplyStatus::Short) << "";
        QTest::newRow("exception reply")
            << ModbusFrames::withCrc(fromHex("03 83 02")) << 3 << int(ReplyStatus::Short) << "";
        QByteArray lowWrong = good, highWrong = good, bothWrong = good, dataWrong = good;
        lowWrong[9] = char(lowWrong[9] ^ 0x01);
        highWrong[10] = char(highWrong[10] ^ 0x80);
        bothWrong[9] = char(bothWrong[9] ^ 0x01);
        bothWrong[10] = char(bothWrong[10] ^ 0x01);
        dataWrong[8] = char(0x3A);
        QTest::newRow("low checksum byte wrong")
            << lowWrong << 3 << int(ReplyStatus::BadChecksum) << "";
        QTest::newRow("high checksum byte wrong")
            << highWrong << 3 << int(ReplyStatus::BadChecksum) << "";
        QTest::newRow("both checksum bytes wrong")
            << bothWrong << 3 << int(ReplyStatus::BadChecksum) << "";
        QTest::newRow("data byte changed") << dataWrong << 3 << int(ReplyStatus::BadChecksum) << "";
        QTest::newRow("long, bad first 11")
            << QByteArray("\x03", 1) + good << 3 << int(ReplyStatus::BadChecksum) << "";
        QTest::newRow("other slave")
            << reply(4, 0x0001, 0, 1) << 3 << int(ReplyStatus::Invalid) << "";
        QTest::newRow("wrong function")
            << ModbusFrames::withCrc(fromHex("03 04 06 00 01 00 00 30 39")) << 3
            << int(ReplyStatus::Invalid) << "";
        QTest::newRow("wrong byte count")
            << ModbusFrames::withCrc(fromHex("03 03 05 00 01 00 00 30 39")) << 3
            << int(ReplyStatus::Invalid) << "";
        QTest::newRow("letter digit A")
            << reply(3, 0x000A, 0, 0x3039) << 3 << int(ReplyStatus::BadSign) << "";
        QTest::newRow("letter digit F")
            << reply(4, 0x001F, 0, 0x3039) << 4 << int(ReplyStatus::BadSign) << "";
    }
    void modbusReply() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, slave);
        QFETCH(int, status);
        QFETCH(QString, caption);
        const Reply r = parseReply(bytes, slave);
        QCOMPARE(int(r.status), status);
        QCOMPARE(r.caption, caption);
    }

    // ---- the balances' marks ([balance] of dyestation.ini)

    // Each feed's newest reading as "caption mark" (mark ? unknown, S, U, O), "-" for none.
    void marks_data() {
        QTest::addColumn<QString>("form");
        QTest::addColumn<int>("gPosition");
        QTest::addColumn<QList<QByteArray>>("feeds");
        QTest::addColumn<QStringList>("readings");
        const int s = kSmallGPosition, l = kLargeGPosition;
        using F = QList<QByteArray>;
        using R = QStringList;
        QTest::newRow("off: first character ignored")
            << "off" << s << F{"U+  100.01g   \r\n"} << R{"100.01 ?"};
        QTest::newRow("off: header frame read as before")
            << "off" << s << F{"ST+  100.01g  \r\n"} << R{"100.01 ?"};
        QTest::newRow("first stable") << "first" << s << F{"S+  100.01g   \r\n"} << R{"100.01 S"};
        QTest::newRow("first unstable")
            << "first" << s << F{"U-  100.01g   \r\n"} << R{"-100.01 U"};
        QTest::newRow("first overload, no number")
            << "first" << s << F{"O+  OVERLDg   \r\n"} << R{" O"};
        QTest::newRow("first overload with a number")
            << "first" << l << F{"O+ 9999.9g \r\n"} << R{"9999.9 O"};
        QTest::newRow("first garbled mark")
            << "first" << s << F{"X+  100.01g   \r\n"} << R{"100.01 ?"};
        QTest::newRow("first garbled, no number")
            << "first" << s << F{"X+  OVERLDg   \r\n"} << R{"-"};
        QTest::newRow("header stable") << "header" << s << F{"ST+  100.01g  \r\n"} << R{"100.01 S"};
        QTest::newRow("header unstable") << "header" << l << F{"US- 1234.5g\r\n"} << R{"-1234.5 U"};
        QTest::newRow("header overload") << "header" << s << F{"OL+  OVERLDg  \r\n"} << R{" O"};
        QTest::newRow("header garbled")
            << "header" << s << F{"SX+  100.01g  \r\n"} << R{"100.01 ?"};
        QTest::newRow("header at the very start, cut")
            << "header" << s << F{"T+  100.01g  \r\n"} << R{"100.01 ?"};
        QTest::newRow("header split from its frame")
            << "header" << s << F{"S", "T+  100.01g  \r\n"} << R{"-", "100.01 S"};
        QTest::newRow("next header split after a frame")
            << "header" << s << F{"ST+  100.01g  \r\nU", "S+  100.02g  \r\n"}
            << R{"100.01 S", "100.02 U"};
        QTest::newRow("header, no terminators")
            << "header" << s << F{"ST+  100.01gOL+  100.02g"} << R{"100.02 O"};
        QTest::newRow("modbus marks leave text frames unmarked")
            << "modbus" << s << F{"S+  100.01g   \r\n"} << R{"100.01 ?"};
    }
    void marks() {
        QFETCH(QString, form);
        QFETCH(int, gPosition);
        QFETCH(QList<QByteArray>, feeds);
        QFETCH(QStringList, readings);
        TextFrameParser p(gPosition, BalanceMarks::defaults(BalanceMarks::formNamed(form)));
        for (int i = 0; i < feeds.size(); ++i) {
            const std::optional<TextReading> r = p.read(feeds.at(i));
            const QString got =
                r ? r->caption + QLatin1Char(' ') + QLatin1Char("?SUO"[int(r->stability)])
                  : QStringLiteral("-");
            QCOMPARE(got, readings.at(i));
        }
    }

    void modbusMarks_data() {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("bits"); // stable,overload; blank: the usual 8,9
        QTest::addColumn<int>("register1");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("stability");
        const int unknown = int(Stability::Unknown), stable = int(Stability::Stable),
                  unstable = int(Stability::Unstable), overload = int(Stability::Overload);
        QTest::newRow("off ignores the bits") << "off"
                                              << "" << 0x0301 << "123.45" << unknown;
        QTest::newRow("stable") << "modbus"
                                << "" << 0x0101 << "123.45" << stable;
        QTest::newRow("unstable") << "modbus"
                                  << "" << 0x0001 << "123.45" << unstable;
        QTest::newRow("overload") << "modbus"
                                  << "" << 0x0201 << "123.45" << overload;
        QTest::newRow("overload wins over stable") << "modbus"
                                                   << "" << 0x0301 << "123.45" << overload;
        QTest::newRow("sign still read") << "modbus"
                                         << "" << 0x0100 << "-123.45" << stable;
        QTest::newRow("own bits stable") << "modbus"
                                         << "4,5" << 0x0011 << "123.45" << stable;
        QTest::newRow("own bits overload") << "modbus"
                                           << "4,5" << 0x0021 << "123.45" << overload;
        QTest::newRow("sign digit is no mark bit") << "modbus"
                                                   << "0,1" << 0x0101 << "123.45" << stable;
    }
    void modbusMarks() {
        QFETCH(QString, form);
        QFETCH(QString, bits);
        QFETCH(int, register1);
        QFETCH(QString, caption);
        QFETCH(int, stability);
        const BalanceMarks marks = BalanceMarks::fromTexts(
            form, {}, {}, {}, bits.section(',', 0, 0), bits.section(',', 1, 1));
        const Reply r = parseReply(reply(3, quint16(register1), 0, 0x3039), 3, marks);
        QCOMPARE(int(r.status), int(ReplyStatus::Reading));
        QCOMPARE(r.caption, caption);
        QCOMPARE(int(r.stability), stability);
    }

    // An overload reaches the readings as one and leaves the last weight in the caption;
    // settling counts only on a stable mark.
    void marksReachTheReadings() {
        Link l("1");
        l.link.setMarks(BalanceMarks::defaults(BalanceMarks::Form::First));
        l.comm1.feed("S+  100.01g   \r\n");
        l.link.tick();
        QCOMPARE(l.readings.caption(Balance::Small), QString("100.01"));
        QVERIFY(l.readings.countsTowardsSettling(Balance::Small));
        l.comm1.feed("O+  OVERLDg   \r\n");
        l.link.tick();
        QCOMPARE(l.readings.caption(Balance::Small), QString("100.01"));
        QVERIFY(l.readings.isOverloaded(Balance::Small) && l.readings.isLive(Balance::Small));
        QVERIFY(!l.readings.countsTowardsSettling(Balance::Small));
        l.comm1.feed("U+  100.03g   \r\n");
        l.link.tick();
        QCOMPARE(l.readings.caption(Balance::Small), QString("100.03"));
        QVERIFY(!l.readings.isOverloaded(Balance::Small));
        QVERIFY(!l.readings.countsTowardsSettling(Balance::Small));
        // Marks off again: the same frame counts, whatever its first character.
        l.link.setMarks({});
        l.comm1.feed("U+  100.04g   \r\n");
        l.link.tick();
        QCOMPARE(l.readings.stability(Balance::Small), Stability::Unknown);
        QVERIFY(l.readings.countsTowardsSettling(Balance::Small));
    }

    // ---- the link, mode "1"

    void textModeShowsNewestOfEachPort() {
        Link l("1");
        l.comm1.feed("S+  100.01g   \r\nS+  100.02g   \r\nS+  1");
        l.comm2.feed("L- 0020.5g\r\n");
        l.link.tick();
        QCOMPARE(l.readings.caption(Balance::Small), QString("100.02"));
        QCOMPARE(l.readings.caption(Balance::Large), QString("-20.5"));
        QVERIFY(l.readings.isLive(Balance::Large) && l.readings.isLive(Balance::Small));
        l.comm1.feed("00.03g   \r\n");
        l.link.tick();
        QCOMPARE(l.readings.caption(Balance::Small), QString("100.03"));
        QVERIFY(l.comm1.writes.isEmpty() && l.comm2.writes.isEmpty());
    }

    void textModeBadFramesChangeNothing() {
        Link l("1");
        l.comm1.feed("S+  012.50g   \r\n");
        l.link.tick();
        for (const char* bad : {"S+        g   \r\n", "S-        g   \r\n", "S- OVERLD g   \r\n",
                                "  12.50g   \r\n"}) {
            l.comm1.feed(bad);
            l.link.tick();
            QCOMPARE(l.readings.caption(Balance::Small), QString("012.50"));
        }
    }

    void otherModesDoNothing_data() {
        QTest::addColumn<QString>("mode");
        QTest::newRow("empty") << "";
        QTest::newRow("3") << "3";
        QTest::newRow("leading blank") << " 1";
    }
    void otherModesDoNothing() {
        QFETCH(QString, mode);
        Link l("1");
        l.settings.setText(Setting::SetType, mode);
        l.comm1.feed("S+  100.01g   \r\n");
        l.ticks(200);
        QCOMPARE(l.readings.caption(Balance::Small), QString("0"));
        QVERIFY(l.comm1.writes.isEmpty());
    }

    void silentBalanceGoesStaleAndRecovers() {
        Link l("1");
        l.comm1.feed("S+  100.01g   \r\n");
        l.comm2.feed("L+ 0001.0g\r\n");
        l.link.tick();
        QVERIFY(l.readings.isLive(Balance::Small));
        // The large balance keeps sending, the small one falls silent: 2 s of 20 ms ticks.
        for (int t = 1; t < 100; ++t) {
            l.comm2.feed("L+ 0001.0g\r\n");
            l.link.tick();
        }
        QVERIFY(l.readings.isLive(Balance::Small));
        QVERIFY(l.readings.isQuiet(Balance::Small)); // quiet from 600 ms on
        QVERIFY(!l.readings.isQuiet(Balance::Large));
        l.comm2.feed("L+ 0001.0g\r\n");
        l.link.tick();
        QVERIFY(!l.readings.isLive(Balance::Small));
        QVERIFY(l.readings.isLive(Balance::Large));
        QCOMPARE(l.readings.caption(Balance::Small), QString("100.01"));
        // Frames that are not readings do not bring it back; a good one does.
        l.comm1.feed("S+ OVERLD g   \r\n");
        l.link.tick();
        QVERIFY(!l.readings.isLive(Balance::Small));
        l.comm1.feed("S+  100.05g   \r\n");
        l.link.tick();
        QVERIFY(l.readings.isLive(Balance::Small));
        QVERIFY(!l.readings.isQuiet(Balance::Small));
        QCOMPARE(l.readings.caption(Balance::Small), QString("100.05"));
    }

    void lostPortIsReopened() {
        Link l("1");
        QSignalSpy reports(&l.status, &StatusLine::reported);
        l.comm1.feed("S+  100.01g   \r\nS+  10");
        l.link.tick();
        l.comm1.lost = true;     // adapter pulled out
        l.comm1.failOpen = true; // and not back yet
        l.link.tick();
        QCOMPARE(reports.count(), 1);
        QVERIFY(reports.last().at(0).toString().contains("MSComm1"));
        // Retries about once a second, reporting the loss only once.
        l.ticks(200);
        QCOMPARE(reports.count(), 1);
        l.comm1.failOpen = false;
        l.comm1.incoming.clear();
        l.ticks(60);
        QVERIFY(l.comm1.isOpen());
        QCOMPARE(reports.count(), 2);
        QVERIFY(reports.last().at(0).toString().contains("/dev/small"));
        // The half frame from before the loss is not joined to the new bytes.
        l.comm1.feed("0.02g   \r\nS+  100.03g   \r\n");
        l.link.tick();
        QCOMPARE(l.readings.caption(Balance::Small), QString("100.03"));
    }

    // ---- the link, mode "2"

    void modbusAlternatesDrivenByAnswers() {
        Link l("2");
        l.ticks(1);
        QCOMPARE(hex(l.comm1.allWritten()), QString("03 03 00 01 00 03 55 E9"));
        QVERIFY(l.link.awaitingReply());
        l.comm1.feed(reply(3, 1, 0, 0x3039).left(6)); // half the reply: not yet complete
        l.ticks(1);
        QCOMPARE(l.readings.caption(Balance::Small), QString("0"));
        l.comm1.feed(reply(3, 1, 0, 0x3039).mid(6));
        l.ticks(1);
        QCOMPARE(l.readings.caption(Balance::Small), QString("123.45"));
        QCOMPARE(l.link.PollBalance(), 1);
        // The next request waits for the wire: the request's and the reply's bytes, then the
        // silence, however soon the port showed the reply.
        for (int i = 0; i < 20 && l.comm1.writes.size() < 2; ++i)
            l.ticks(1);
        QCOMPARE(l.comm1.writes.size(), 2);
        const auto& sent = l.link.stats(0).sentFrames();
        const qint64 gap = sent.at(1).us - sent.at(0).us;
        QVERIFY2(gap >= RtuLine::lineUs(8) + RtuLine::lineUs(11) + RtuLine::kSilenceUs &&
                     gap <= 30'000,
                 qPrintable(QString::number(gap)));
        QCOMPARE(hex(l.comm1.writes.last()), QString("04 03 00 01 00 03 54 5E"));
        l.comm1.feed(reply(4, 1, 1, 0));
        l.ticks(1);
        QCOMPARE(l.readings.caption(Balance::Large), QString("6553.6"));
        QCOMPARE(l.link.readingCount(Balance::Large), 1);
        QCOMPARE(l.link.readingCount(Balance::Small), 1);
        QVERIFY(l.comm2.writes.isEmpty());
        QCOMPARE(l.link.stats(0).answers(), 2);
    }

    // The link paused for a zero, a reply to the request before it in flight: the first
    // reading after the pause comes from a request made after it, in both modes.
    // The technician's figures: the rate is taken over the last 10 s only (a balance that
    // stopped reads 0 after the window, not its old average), and the trace keeps the
    // newest 200 frames.
    void portStatsRateWindowAndTrace() {
        PortStats st(QStringLiteral("MSComm1"));
        st.start(0);
        for (int i = 0; i < 100; ++i) // 20 readings/s of slave 3 for 5 s
            st.reading(3, 50'000 * qint64(i + 1));
        QCOMPARE(st.readingsPerSecond(3, 5'000'000), 20.0);
        QCOMPARE(st.readingsPerSecond(3, 10'000'000), 10.0);
        QCOMPARE(st.readingsPerSecond(3, 15'000'001), 0.0);
        QCOMPARE(st.readingsPerSecond(4, 5'000'000), 0.0);
        for (int i = 0; i < 250; ++i)
            st.sent(QByteArray(1, char(i)), i);
        QCOMPARE(st.requests(), 250);
        QCOMPARE(st.sentFrames().size(), size_t(PortStats::kTraceFrames));
        QCOMPARE(st.sentFrames().front().bytes, QByteArray(1, char(50)));
        QCOMPARE(st.sentFrames().back().bytes, QByteArray(1, char(249)));
        st.exception(2);
        st.exception(2);
        QVERIFY2(st.summary(15'000'001).contains(QStringLiteral("02 x2")),
                 qPrintable(st.summary(15'000'001)));
    }

    void noReadingFromBeforeTheZero_data() {
        QTest::addColumn<QString>("mode");
        QTest::newRow("modbus") << "2";
        QTest::newRow("text") << "1";
    }
    void noReadingFromBeforeTheZero() {
        QFETCH(QString, mode);
        Link l(mode.toLatin1().constData());
        l.ticks(1); // in mode "2" the request went out; the zero pauses the link here
        if (mode == QStringLiteral("2"))
            l.comm1.feed(reply(3, 1, 0, 0x3039)); // 123.45, from before the zero
        else
            l.comm1.feed("S+  123.45g\r\n");
        l.link.restartAfterPause();
        l.ticks(mode == QStringLiteral("2") ? 3 : 1);
        QCOMPARE(l.readings.caption(Balance::Small), QString("0"));
        if (mode == QStringLiteral("2")) {
            QCOMPARE(l.comm1.writes.size(), 2); // asked again after the pause
            l.comm1.feed(reply(3, 1, 0, 0));
            l.ticks(1);
        } else {
            l.comm1.feed("S+    0.00g\r\n");
            l.ticks(1);
        }
        QVERIFY(l.readings.value(Balance::Small).isZero());
        QCOMPARE(l.link.readingCount(Balance::Small), 1);
    }

    // What the small balance may answer to its request. Every case leaves the reading as it
    // was (or takes the good one), names the fault once, and asks the large balance next.
    void modbusFaults_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("report"); // empty: none
        const QByteArray good = reply(3, 1, 0, 0x3039);
        QByteArray garbled = good;
        garbled[9] = char(garbled[9] ^ 0xFF);
        QByteArray oneByte = good;
        oneByte[10] = char(oneByte[10] ^ 0xFF);
        QTest::newRow("quick") << good << 3 << "123.45"
                               << "";
        QTest::newRow("slow, within the time-out") << good << 90 << "123.45"
                                                   << "";
        QTest::newRow("silent") << QByteArray() << 0 << "5.5"
                                << "小天平回應逾時";
        QTest::newRow("too slow") << good << 120 << "5.5"
                                  << "小天平回應逾時";
        QTest::newRow("exception 02") << ModbusFrames::withCrc(fromHex("03 83 02")) << 10 << "5.5"
                                      << "小天平回報例外 02";
        QTest::newRow("bad checksum") << garbled << 10 << "5.5"
                                      << "小天平回應檢查碼錯誤";
        QTest::newRow("one checksum byte") << oneByte << 10 << "5.5"
                                           << "小天平回應檢查碼錯誤";
        QTest::newRow("short") << good.left(7) << 10 << "5.5"
                               << "小天平回應檢查碼錯誤";
        QTest::newRow("wrong slave") << reply(4, 1, 0, 0x3039) << 10 << "5.5"
                                     << "小天平回應逾時";
        QTest::newRow("letter digit") << reply(3, 0x000C, 0, 0x3039) << 10 << "5.5"
                                      << "小天平回應格式錯誤";
        QTest::newRow("wrong byte count")
            << ModbusFrames::withCrc(fromHex("03 03 05 00 01 00 00 30 39")) << 10 << "5.5"
            << "小天平回應格式錯誤";
    }
    void modbusFaults() {
        QFETCH(QByteArray, answer);
        QFETCH(int, afterMs);
        QFETCH(QString, caption);
        QFETCH(QString, report);
        Link l("2");
        QSignalSpy reports(&l.status, &StatusLine::reported);
        l.readings.setCaption(Balance::Small, QStringLiteral("5.5"));
        l.ticks(1);
        for (int ms = 0; ms < afterMs; ++ms) {
            l.clock.advanceMs(1);
            l.link.tick();
        }
        l.comm1.feed(answer);
        // Until the large balance has been asked (and answers).
        for (int i = 0; i < 100 && l.comm1.writes.size() < 2; ++i)
            l.ticks(1);
        QCOMPARE(hex(l.comm1.writes.value(1)), QString("04 03 00 01 00 03 54 5E"));
        QCOMPARE(l.readings.caption(Balance::Small), caption);
        QCOMPARE(reports.count(), report.isEmpty() ? 0 : 1);
        if (!report.isEmpty())
            QCOMPARE(reports.at(0).at(0).toString(), report);
    }

    // An exception, a time-out and a garbled reply are counted apart; a fault is reported
    // once until a reading clears it, then again.
    void modbusFaultsCountedAndReportedOnce() {
        Link l("2");
        QSignalSpy reports(&l.status, &StatusLine::reported);
        l.comm1.answer = [](const QByteArray& request) {
            return request.at(0) == 3 ? ModbusFrames::withCrc(fromHex("03 83 02"))
                                      : reply(4, 1, 0, 1);
        };
        l.ticks(300); // 0.9 s
        QCOMPARE(reports.count(), 1);
        QCOMPARE(reports.at(0).at(0).toString(), QStringLiteral("小天平回報例外 02"));
        QVERIFY(l.link.stats(0).exceptions().value(2) >= 10);
        QCOMPARE(l.link.stats(0).timeouts(), 0);
        l.comm1.answer = [](const QByteArray& request) {
            return request.at(0) == 3 ? reply(3, 1, 0, 1) : reply(4, 1, 0, 1);
        };
        l.ticks(30);
        l.comm1.answer = [](const QByteArray& request) {
            return request.at(0) == 3 ? ModbusFrames::withCrc(fromHex("03 83 02")) : QByteArray();
        };
        l.ticks(300);
        QCOMPARE(reports.count(), 3);
        const QStringList again{reports.at(1).at(0).toString(), reports.at(2).at(0).toString()};
        QVERIFY(again.contains(QStringLiteral("小天平回報例外 02")));
        QVERIFY(again.contains(QStringLiteral("大天平回應逾時")));
        QVERIFY(l.link.stats(0).timeouts() >= 2);
    }

    // A late reply of one balance that arrives while the other is being asked is not taken
    // for the other's reading.
    void lateReplyIntoTheNextRequest() {
        Link l("2");
        l.ticks(1);  // small asked
        l.ticks(40); // time-out, large asked
        QCOMPARE(l.comm1.writes.size(), 2);
        l.comm1.feed(reply(3, 1, 0, 0x3039) + reply(4, 1, 0, 0x0101));
        l.ticks(1);
        QCOMPARE(l.readings.caption(Balance::Large), QString("25.7"));
        QCOMPARE(l.readings.caption(Balance::Small), QString("0"));
        QCOMPARE(l.link.stats(0).wrongSlaves(), 1);
    }

    // Polling paced on a modelled wire: each request takes its 8 bytes' time, the balance
    // answers after its turnaround with 11 bytes' time, and a request may start only after
    // the reply (or the time-out) and 3.5 characters of silence. One simulated second.
    void modbusRatesOnTheWire_data() {
        QTest::addColumn<int>("smallMs"); // turnaround; -1 silent
        QTest::addColumn<int>("largeMs");
        QTest::addColumn<int>("minSmall");
        QTest::addColumn<int>("minLarge");
        QTest::newRow("quick balances") << 3 << 3 << 15 << 15;
        QTest::newRow("30 ms balances") << 30 << 30 << 8 << 8;
        QTest::newRow("small silent") << -1 << 3 << 0 << 6;
        QTest::newRow("large at 60 ms") << 3 << 60 << 8 << 8;
    }
    void modbusRatesOnTheWire() {
        QFETCH(int, smallMs);
        QFETCH(int, largeMs);
        QFETCH(int, minSmall);
        QFETCH(int, minLarge);
        Link l("2");
        qint64 lineFreeUs = 0, dueAt = 0;
        QByteArray due;
        int early = 0;
        l.comm1.answer = [&](const QByteArray& request) {
            const qint64 now = l.clock.nowUs();
            if (now < lineFreeUs)
                ++early;
            const int turnaround = request.at(0) == 3 ? smallMs : largeMs;
            const qint64 requestEnd = now + RtuLine::lineUs(8);
            if (turnaround < 0) {
                lineFreeUs = requestEnd + 100'000 + RtuLine::kSilenceUs;
            } else {
                dueAt = requestEnd + turnaround * 1000 + RtuLine::lineUs(11);
                due = request.at(0) == 3 ? reply(3, 1, 0, 1) : reply(4, 1, 0, 1);
                lineFreeUs = dueAt + RtuLine::kSilenceUs;
            }
            return QByteArray();
        };
        const qint64 endUs = l.clock.nowUs() + 1'000'000;
        while (l.clock.nowUs() < endUs) {
            l.clock.advanceUs(500);
            if (!due.isEmpty() && dueAt <= l.clock.nowUs())
                l.comm1.feed(std::exchange(due, {}));
            if (l.clock.nowUs() % (BalanceLinkTiming::kModbusTickMs * 1000) == 0)
                l.link.tick();
        }
        QCOMPARE(early, 0);
        const QString got = QStringLiteral("small %1, large %2")
                                .arg(l.link.readingCount(Balance::Small))
                                .arg(l.link.readingCount(Balance::Large));
        QVERIFY2(l.link.readingCount(Balance::Small) >= minSmall, qPrintable(got));
        QVERIFY2(l.link.readingCount(Balance::Large) >= minLarge, qPrintable(got));
    }

    void modbusSilenceMarksBothStale() {
        Link l("2");
        l.ticks(1);
        l.comm1.feed(reply(3, 1, 0, 1));
        l.ticks(1);
        QVERIFY(l.readings.isLive(Balance::Small));
        l.ticks(600);
        QVERIFY(l.readings.isLive(Balance::Small));
        l.ticks(67);
        QVERIFY(!l.readings.isLive(Balance::Small));
        QVERIFY(!l.readings.isLive(Balance::Large));
    }

    void modbusLostPortStopsPolling() {
        Link l("2");
        l.ticks(5);
        l.comm1.lost = true;
        l.comm1.failOpen = true;
        l.ticks(100);
        QCOMPARE(l.comm1.writes.size(), 1);
        l.comm1.failOpen = false;
        l.ticks(400); // the next retry, 1 s of 3 ms ticks after the first
        QVERIFY(l.comm1.isOpen());
        // The request lost with the port is asked again.
        QVERIFY(l.comm1.writes.size() >= 2);
        QCOMPARE(hex(l.comm1.writes.at(1)), QString("03 03 00 01 00 03 55 E9"));
    }

    // ---- zeroing

    void zeroing_data() {
        QTest::addColumn<int>("label");
        QTest::addColumn<QString>("command");
        QTest::newRow("large") << 0 << "04 05 00 F0 FF 00 8C 5C";
        QTest::newRow("small") << 1 << "03 05 00 F0 FF 00 8D EB";
    }
    void zeroing() {
        QFETCH(int, label);
        QFETCH(QString, command);
        MemorySerialPort comm1;
        QVERIFY(comm1.open(QStringLiteral("/dev/bus")).ok());
        TickTimer timer1(20), timer6(20);
        StatusLine status;
        timer1.setEnabled(true);
        Zeroing z(comm1, timer1, timer6, status);
        z.request(balanceAtLabel(label));
        QVERIFY(timer6.enabled());
        z.tick();
        QVERIFY(timer1.enabled());
        z.tick();
        QVERIFY(!timer1.enabled());
        for (int t = 3; t < 20; ++t)
            z.tick();
        QVERIFY(comm1.writes.isEmpty());
        z.tick();
        QCOMPARE(hex(comm1.allWritten()), command);
        for (int t = 21; t < 40; ++t)
            z.tick();
        QVERIFY(!timer1.enabled() && timer6.enabled());
        z.tick();
        QVERIFY(timer1.enabled());
        QVERIFY(!timer6.enabled());
        QCOMPARE(z.ZeroTick(), 0);
        QCOMPARE(comm1.writes.size(), 1);
    }

    void zeroingSecondRequestOnlyChangesTarget() {
        MemorySerialPort comm1;
        QVERIFY(comm1.open(QStringLiteral("/dev/bus")).ok());
        TickTimer timer1(20), timer6(20);
        StatusLine status;
        Zeroing z(comm1, timer1, timer6, status);
        z.request(Balance::Large);
        for (int t = 0; t < 10; ++t)
            z.tick();
        z.request(Balance::Small);
        QCOMPARE(z.ZeroTick(), 10);
        for (int t = 10; t < 20; ++t)
            z.tick();
        QCOMPARE(hex(comm1.allWritten()), QString("03 05 00 F0 FF 00 8D EB"));
    }

    void zeroingWithClosedPortFinishes() {
        MemorySerialPort comm1;
        TickTimer timer1(20), timer6(20);
        StatusLine status;
        QSignalSpy reports(&status, &StatusLine::reported);
        Zeroing z(comm1, timer1, timer6, status);
        z.request(Balance::Large);
        for (int t = 0; t < 40; ++t)
            z.tick();
        QVERIFY(comm1.writes.isEmpty());
        QCOMPARE(reports.count(), 1);
        QVERIFY(timer1.enabled()); // reading resumes at the end, as always
        QVERIFY(!timer6.enabled());
    }
};

QTEST_GUILESS_MAIN(TestBalanceLink)
#include "test_balancelink.moc"
