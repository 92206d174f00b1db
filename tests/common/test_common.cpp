#include "common/Numbers.h"
#include "common/OleDate.h"
#include "common/RecordFile.h"
#include "common/TextField.h"
#include "tests/support/TestSupport.h"

#include <QTest>
#include <ctime>

class TestCommon : public QObject {
    Q_OBJECT
private slots:
    void leadingNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("plain") << "12.5" << 12.5;
        QTest::newRow("padded digits") << "0012.34" << 12.34;
        QTest::newRow("leading blanks") << "   7" << 7.0;
        QTest::newRow("negative") << "-3.25g" << -3.25;
        QTest::newRow("plus") << "+4" << 4.0;
        QTest::newRow("point first") << ".5" << 0.5;
        QTest::newRow("trailing text") << "30abc" << 30.0;
        QTest::newRow("second point ends") << "1.2.3" << 1.2;
        QTest::newRow("letters") << "abc" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("sign only") << "-" << 0.0;
        QTest::newRow("blank inside ends") << "1 2" << 1.0;
    }
    void leadingNumber() {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(::leadingNumber(text), value);
    }

    void shortest_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("two decimals") << 123.45 << "123.45";
        QTest::newRow("negative") << -12.34 << "-12.34";
        QTest::newRow("tenth") << 6553.6 << "6553.6";
        QTest::newRow("whole") << 1400.0 << "1400";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("large, no exponent") << 25000000.0 << "25000000";
        QTest::newRow("small, no exponent") << 0.0001 << "0.0001";
    }
    void shortest() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(shortestDecimal(value), text);
    }

    void decimalIsExact() {
        // 0.12 g against 0.14 g with 0.02 g of tolerance is exactly on the bound.
        const Decimal target = Decimal::parse(QStringLiteral("0.12"));
        const Decimal actual = Decimal::parse(QStringLiteral("0.14"));
        const Decimal tol = Decimal::parse(QStringLiteral("0.02"));
        QVERIFY(!(actual - tol > target));
        QCOMPARE((Decimal::parse(QStringLiteral("12.34")) + Decimal::parse(QStringLiteral("5.67")))
                     .toString(),
                 QStringLiteral("18.01"));
        QCOMPARE(Decimal::parse(QStringLiteral("-0012.50")).toString(), QStringLiteral("-12.5"));
        QCOMPARE(Decimal::parse(QStringLiteral("x")).toString(), QStringLiteral("0"));
        QCOMPARE(Decimal::parse(QStringLiteral("699.96")).roundedTo(Decimal::kScale).toString(),
                 QStringLiteral("700"));
        QCOMPARE(Decimal::parse(QStringLiteral("-0.5")).roundedTo(Decimal::kScale).toString(),
                 QStringLiteral("-1"));
        QCOMPARE(Decimal::parse(QStringLiteral("99999999999999999999999")).units() > 0, true);
    }

    void fieldCutOnCharacterBoundary() {
        // "單號" is B3 E6 B8 B9; a width of 3 holds only the first character.
        QCOMPARE(TextField::encode(QStringLiteral("單號"), 3), QByteArray("\xB3\xE6 ", 3));
        QCOMPARE(TextField::encode(QStringLiteral("單號"), 4), QByteArray("\xB3\xE6\xB8\xB9", 4));
        QCOMPARE(TextField::encode(QStringLiteral("AB單"), 3), QByteArray("AB "));
        QCOMPARE(TextField::encode(QStringLiteral("ABCDEF"), 4), QByteArray("ABCD"));
        QCOMPARE(TextField::decode(QByteArray("  R-101   ")), QStringLiteral("R-101"));
        QCOMPARE(TextField::decode(QByteArray("\xB3\xE6\xB8\xB9  ", 6)), QStringLiteral("單號"));
        QCOMPARE(TextField::decodeRaw(QByteArray("AB\0\0", 4)), QStringLiteral("AB"));
        // A lone lead byte at the end does not swallow anything after it.
        QCOMPARE(TextField::decode(QByteArray("A\xB3", 2)).left(1), QStringLiteral("A"));
        QCOMPARE(TextField::trimSpaces(QStringLiteral("\t a b \t")), QStringLiteral("\t a b \t"));
    }

    void oleDate() {
        const QDateTime t(QDate(2024, 3, 2), QTime(9, 5, 7));
        const double d = OleDate::fromDateTime(t);
        QCOMPARE(qint64(d), qint64(45353));
        QCOMPARE(OleDate::toDateTime(d), t);
        QCOMPARE(OleDate::fromDateTime(QDateTime(QDate(1899, 12, 30), QTime(12, 0))), 0.5);
        QVERIFY(!OleDate::toDateTime(qQNaN()).isValid());
    }

    // On the days daylight saving time begins or ends, the clock time of the day is not the
    // time elapsed since midnight; a stored date must read back as the same clock time.
    void oleDateAcrossDaylightSavingChanges() {
        const QByteArray tz = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        ::tzset();
        for (const QDateTime& t : {QDateTime(QDate(2024, 3, 31), QTime(15, 0, 7)),
                                   QDateTime(QDate(2024, 10, 27), QTime(23, 59, 59))})
            QCOMPARE(OleDate::toDateTime(OleDate::fromDateTime(t)), t);
        tz.isNull() ? qunsetenv("TZ") : qputenv("TZ", tz);
        ::tzset();
    }

    void recordFile() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("r.txt"));
        // A missing file is created empty when counted.
        QCOMPARE(RecordFile::count(f, 10).records, qint64(0));
        QVERIFY(dir.exists(QStringLiteral("r.txt")));
        QVERIFY(RecordFile::append(f, 10, QByteArray("0123456789")).ok());
        QVERIFY(RecordFile::append(f, 10, QByteArray("abcdefghij")).ok());
        // A partial tail is ignored and overwritten by the next append.
        QFile raw(f);
        QVERIFY(raw.open(QIODevice::Append));
        raw.write("XYZ");
        raw.close();
        QCOMPARE(RecordFile::count(f, 10).records, qint64(2));
        QVERIFY(RecordFile::append(f, 10, QByteArray("KLMNOPQRST")).ok());
        QCOMPARE(dir.read(QStringLiteral("r.txt")), QByteArray("0123456789abcdefghijKLMNOPQRST"));
        QCOMPARE(RecordFile::read(f, 10, 2).bytes, QByteArray("abcdefghij"));
        // Beyond the end reads as zero bytes; writing there leaves a zero gap.
        QCOMPARE(RecordFile::read(f, 10, 9).bytes, QByteArray(10, '\0'));
        QVERIFY(RecordFile::write(f, dir.file(QStringLiteral("r2.txt")), 10, 5,
                                  QByteArray("5555555555"))
                    .ok());
        QCOMPARE(dir.read(QStringLiteral("r.txt")).mid(30, 10), QByteArray(10, '\0'));
        // A folder that does not exist fails with a reason.
        const RecordFile::Count bad =
            RecordFile::count(dir.file(QStringLiteral("no/such.txt")), 10);
        QVERIFY(!bad.outcome.ok());
        QVERIFY(!bad.outcome.reason().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCommon)
#include "test_common.moc"
