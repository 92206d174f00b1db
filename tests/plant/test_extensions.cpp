// The extensions' logic with plain calls: the pick's matching rule, the settings file and
// the fixed scanner's line splitting.
#include "config/ExtensionSettings.h"
#include "devices/FixedScanner.h"
#include "tests/support/QueueRig.h"
#include "weighing/PickCheck.h"
#include "weighing/WeighingEvents.h"

#include <QSettings>
#include <QTest>

namespace {
struct Recorder : WeighingEvents {
    QStringList seen;
    void record(const WeighingEvent& e) override {
        seen << QStringLiteral("%1 %2 %3").arg(e.event, e.orderNo).arg(e.line);
    }
};
} // namespace

class TestExtensions : public QObject {
    Q_OBJECT

private slots:
    void pickMatch_data() {
        QTest::addColumn<QString>("scan");
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("matches");
        QTest::addColumn<QString>("lot");
        QTest::newRow("equal") << "R-101"
                               << "R-101" << true << "";
        QTest::newRow("code up to its space") << "R-101"
                                              << "R-101 red" << true << "";
        QTest::newRow("lot after space") << "R-101 L77"
                                         << "R-101" << true << "L77";
        QTest::newRow("lot after bar") << "R-101|L77"
                                       << "R-101" << true << "L77";
        QTest::newRow("lot after semicolon") << "R-101;L 7"
                                             << "R-101" << true << "L 7";
        QTest::newRow("lot after comma") << "R-101,L7"
                                         << "R-101" << true << "L7";
        QTest::newRow("longer code") << "R-1010"
                                     << "R-101" << false << "";
        QTest::newRow("other separator") << "R-101/L7"
                                         << "R-101" << false << "";
        QTest::newRow("case counts") << "r-101"
                                     << "R-101" << false << "";
        QTest::newRow("alias") << "CAN-7"
                               << "B-202" << true << "";
        QTest::newRow("alias with lot") << "CAN-7|L9"
                                        << "B-202" << true << "L9";
        QTest::newRow("alias of another dye") << "CAN-7"
                                              << "R-101" << false << "";
        QTest::newRow("empty scan") << ""
                                    << "R-101" << false << "";
        QTest::newRow("empty line code") << "CAN-8"
                                         << "" << false << "";
    }
    void pickMatch() {
        QFETCH(QString, scan);
        QFETCH(QString, code);
        QFETCH(bool, matches);
        QFETCH(QString, lot);
        WorkDir dir;
        dir.write("aliases.txt", "CAN-7,B-202\r\n\r\nno comma\nCAN-8,\n");
        QHash<QString, QString> aliases;
        QVERIFY(PickCheck::loadAliases(dir.file("aliases.txt"), aliases).ok());
        QCOMPARE(aliases.size(), 1);
        const std::optional<QString> got = PickCheck::match(scan, code, aliases);
        QCOMPARE(got.has_value(), matches);
        if (matches)
            QCOMPARE(*got, lot);
    }

    void settingsMissingFileIsOff() {
        WorkDir dir;
        const ExtensionSettings s = ExtensionSettings::load(dir.file("dyestation.ini"));
        QVERIFY(!s.present);
        QVERIFY(!s.pickConfirm);
        QVERIFY(s.mqttHost.isEmpty());
    }

    // A save keeps the keys it does not own and writes values that read back as written.
    void settingsSaveKeepsOtherKeys() {
        WorkDir dir;
        dir.write("dyestation.ini", "[OrderDatabase]\nStatementTimeout=3\n[pick]\nconfirm=TRUE\n");
        ExtensionSettings s = ExtensionSettings::load(dir.file("dyestation.ini"));
        QVERIFY(s.present && s.pickConfirm);
        s.scannerPort = QStringLiteral("/dev/ttyUSB1");
        s.aliases = QStringLiteral("別名,a;b.txt");
        s.logOdbc = QStringLiteral("DRIVER={x};SERVER=h;UID=u");
        s.mqttHost = QStringLiteral("broker");
        s.mqttPort = 1884;
        s.mqttStation = QStringLiteral(" 站 1 ");
        QVERIFY(ExtensionSettings::save(dir.file("dyestation.ini"), s).ok());
        QVERIFY(!dir.exists("dyestation.ini.new"));
        const QSettings ini(dir.file("dyestation.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value("OrderDatabase/StatementTimeout").toInt(), 3);
        QCOMPARE(ini.value("pick/aliases").toString(), s.aliases);
        QCOMPARE(ini.value("log/odbc").toString(), s.logOdbc);
        const ExtensionSettings back = ExtensionSettings::load(dir.file("dyestation.ini"));
        QCOMPARE(back.scannerPort, s.scannerPort);
        QCOMPARE(back.mqttPort, 1884);
        QCOMPARE(back.station(), QStringLiteral("站 1"));
    }

    // Values as plants write them by hand: an unquoted connection string keeps its `;`
    // (a `;` after a blank is a comment), a comma stays in a name, a quoted value is read
    // as QSettings reads it. A MQTT value that does not parse is a problem that names its
    // line, never a default in its place; TLS alone means port 8883.
    void settingsReadAsWritten() {
        WorkDir dir;
        dir.write("pw.txt", "s;e,cret\n");
        dir.write("dyestation.ini",
                  "[log]\nodbc=DRIVER={PostgreSQL Unicode};SERVER=db;PWD={a;b}   ; the shared log\n"
                  "[mqtt]\nhost=broker\nstation=bench,3\nusername=\"u;1\"\n"
                  "password_file=pw.txt\ntls=true\nca_file=ca.pem\nkeepalive=45\n");
        ExtensionSettings s = ExtensionSettings::load(dir.file("dyestation.ini"));
        QCOMPARE(s.logOdbc, QStringLiteral("DRIVER={PostgreSQL Unicode};SERVER=db;PWD={a;b}"));
        QCOMPARE(s.station(), QStringLiteral("bench,3"));
        QCOMPARE(s.mqttUser, QStringLiteral("u;1"));
        QCOMPARE(s.mqttPassword, QStringLiteral("s;e,cret"));
        QVERIFY(s.mqttTls);
        QCOMPARE(s.mqttPort, 8883);
        QCOMPARE(s.mqttKeepalive, 45);
        QVERIFY2(s.mqttProblems.isEmpty(), qPrintable(s.mqttProblems.join('\n')));
        // Saved and read again: the same values, and the keys no box shows are kept.
        s.mqttHost = QStringLiteral("broker2");
        QVERIFY(ExtensionSettings::save(dir.file("dyestation.ini"), s).ok());
        const ExtensionSettings back = ExtensionSettings::load(dir.file("dyestation.ini"));
        QCOMPARE(back.logOdbc, s.logOdbc);
        QCOMPARE(back.station(), s.station());
        QCOMPARE(back.mqttUser, s.mqttUser);
        QCOMPARE(back.mqttPasswordFile, QStringLiteral("pw.txt"));
        QCOMPARE(back.mqttCaFile, QStringLiteral("ca.pem"));
        QVERIFY(back.mqttTls && back.mqttKeepalive == 45 && back.mqttHost == "broker2");

        dir.write("dyestation.ini", "[mqtt]\nhost=broker\nport=18 83\nkeepalive=2\n"
                                    "tls=yes please\npassword_file=missing.txt\n");
        const ExtensionSettings bad = ExtensionSettings::load(dir.file("dyestation.ini"));
        QCOMPARE(bad.mqttProblems.size(), 4);
        QVERIFY2(bad.mqttProblems.at(0).contains(QStringLiteral("第 5 行 tls=yes please")),
                 qPrintable(bad.mqttProblems.join('\n')));
        QVERIFY(bad.mqttProblems.at(1).contains(QStringLiteral("第 3 行 port=18 83")));
        QVERIFY(bad.mqttProblems.at(2).contains(QStringLiteral("第 4 行 keepalive=2")));
        QVERIFY(bad.mqttProblems.at(3).contains(QStringLiteral("第 6 行 password_file")));
    }

    // [balance]: the form's usual marks where keys are missing; bits that are the sign digit
    // or name one bit twice fall back; anything but a known form is off. What is saved
    // reads back the same.
    void balanceMarksKeys_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("marks"); // form stable/unstable/overload stable_bit,overload_bit
        QTest::newRow("no [balance]") << QByteArray("[pick]\nconfirm=true\n") << "off // 8,9";
        QTest::newRow("unknown form")
            << QByteArray("[balance]\nmarks=yes\nstable=X\n") << "off // 8,9";
        QTest::newRow("first, usual")
            << QByteArray("[balance]\nmarks=First\n") << "first S/U/O 8,9";
        QTest::newRow("first, own characters")
            << QByteArray("[balance]\nmarks=first\nstable=S,s\nunstable=Uu\noverload=\n")
            << "first S,s/Uu/O 8,9";
        QTest::newRow("header, usual")
            << QByteArray("[balance]\nmarks=header\n") << "header ST/US/OL 8,9";
        QTest::newRow("modbus, own bits")
            << QByteArray("[balance]\nmarks=modbus\nstable_bit=12\noverload_bit=4\n")
            << "modbus // 12,4";
        QTest::newRow("modbus, sign digit refused")
            << QByteArray("[balance]\nmarks=modbus\nstable_bit=3\noverload_bit=16\n")
            << "modbus // 8,9";
        QTest::newRow("modbus, one bit for both")
            << QByteArray("[balance]\nmarks=modbus\nstable_bit=9\n") << "modbus // 8,9";
    }
    void balanceMarksKeys() {
        QFETCH(QByteArray, ini);
        QFETCH(QString, marks);
        auto shown = [](const BalanceMarks& m) {
            return QStringLiteral("%1 %2/%3/%4 %5,%6")
                .arg(BalanceMarks::formName(m.form), m.stable, m.unstable, m.overload)
                .arg(m.stableBit)
                .arg(m.overloadBit);
        };
        WorkDir dir;
        dir.write("dyestation.ini", ini);
        const ExtensionSettings s = ExtensionSettings::load(dir.file("dyestation.ini"));
        QCOMPARE(shown(s.balance), marks);
        QVERIFY(ExtensionSettings::save(dir.file("dyestation.ini"), s).ok());
        QCOMPARE(shown(ExtensionSettings::load(dir.file("dyestation.ini")).balance), marks);
    }

    // A deleted job and every job of a cancelled queue are reported by their order numbers,
    // as the queue held them (the list shown may be older than the file).
    void queueCommandsReportJobs() {
        QueueRig r;
        Recorder events;
        r.commands.setEvents(&events);
        r.addQueued({"A1", "B2", "C3"});
        r.commands.deleteQueued(1, r.weighing.queueEntries.at(1));
        QVERIFY(r.said.once(QStringLiteral("已刪除 單號 B2")));
        JobRecord late;
        late.OrderNo = "D4"; // appended after the list was filled
        QVERIFY(AppendJob(r.queue(), late).ok());
        r.commands.cancelAll();
        QVERIFY(r.said.once(QStringLiteral("已取消全部 3 筆 (單號 A1, C3, D4)")));
        QCOMPARE(events.seen, QStringList({"deleted B2 0", "cancelled A1 0", "cancelled C3 0",
                                           "cancelled D4 0"}));
    }

    // Codes split at CR, LF or both, across reads; blank and overlong lines dropped.
    void scannerLines() {
        MemorySerialPort port;
        StatusLine status;
        QStringList codes;
        FixedScanner scanner(port, QStringLiteral("/dev/null"), status,
                             [&](const QString& c) { codes << c; });
        scanner.feed("R-1");
        scanner.feed("01|L7\r\n\r\nB-2");
        scanner.feed("02\rC-3\n\n");
        scanner.feed(QByteArray(FixedScanner::kMaxCode + 5, 'x') + "\rD-4\r");
        QCOMPARE(codes, QStringList({"R-101|L7", "B-202", "C-3", "D-4"}));
    }
};

QTEST_GUILESS_MAIN(TestExtensions)
#include "test_extensions.moc"
