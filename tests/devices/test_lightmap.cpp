#include "common/TextField.h"
#include "devices/LightMap.h"
#include "tests/support/TestSupport.h"
#include "tests/support/Unprivileged.h"

#include <QFile>
#include <QTest>

class TestLightMap : public QObject {
    Q_OBJECT

    static QByteArray record(const QByteArray& code) {
        return code + QByteArray(50 - code.size(), ' ');
    }

private slots:
    void missingFileIsCreatedEmpty() {
        WorkDir d;
        LightMap m;
        QVERIFY(m.load(d.file("DYE_LIGHT.txt")).ok());
        QVERIFY(d.exists("DYE_LIGHT.txt"));
        QCOMPARE(d.read("DYE_LIGHT.txt").size(), 0);
        for (int j = 1; j <= 120; ++j)
            QCOMPARE(m.code(j), QString());
    }

    void shortFileLoadsAndSaveWritesAll120() {
        WorkDir d;
        d.write("DYE_LIGHT.txt", record("R-101") + record("B-7") + record("  Y 3  "));
        LightMap m;
        m.setCode(50, QStringLiteral("left over"));
        QVERIFY(m.load(d.file("DYE_LIGHT.txt")).ok());
        QCOMPARE(m.code(1), QString("R-101"));
        QCOMPARE(m.code(2), QString("B-7"));
        QCOMPARE(m.code(3), QString("Y 3"));
        for (int j = 4; j <= 120; ++j)
            QCOMPARE(m.code(j), QString());
        QVERIFY(m.save(d.file("DYE_LIGHT.txt")).ok());
        const QByteArray bytes = d.read("DYE_LIGHT.txt");
        QCOMPARE(bytes.size(), 6000);
        QCOMPARE(bytes.left(150), record("R-101") + record("B-7") + record("Y 3"));
        QCOMPARE(bytes.mid(150), QByteArray(5850, ' '));
    }

    void blanksAroundACodeAreNotSaved() {
        WorkDir d;
        LightMap m;
        m.setCode(7, QStringLiteral("  R-101  "));
        QVERIFY(m.save(d.file("DYE_LIGHT.txt")).ok());
        QCOMPARE(d.read("DYE_LIGHT.txt").mid(300, 50), record("R-101"));
        LightMap back;
        QVERIFY(back.load(d.file("DYE_LIGHT.txt")).ok());
        QCOMPARE(back.code(7), QString("R-101"));
    }

    void longAndChineseCodesAreCutWhole() {
        WorkDir d;
        LightMap m;
        m.setCode(1, QString(60, QLatin1Char('X')));
        // 25 double-byte characters and one more: the 26th does not fit in 50 bytes.
        m.setCode(2, QString(26, QChar(0x7D05)));
        QVERIFY(m.save(d.file("DYE_LIGHT.txt")).ok());
        const QByteArray bytes = d.read("DYE_LIGHT.txt");
        QCOMPARE(bytes.size(), 6000);
        QCOMPARE(bytes.left(50), QByteArray(50, 'X'));
        LightMap back;
        QVERIFY(back.load(d.file("DYE_LIGHT.txt")).ok());
        QCOMPARE(back.code(2), QString(25, QChar(0x7D05)));
        QCOMPARE(back.code(3), QString());
    }

    void partialRecordAtTheEnd() {
        WorkDir d;
        d.write("DYE_LIGHT.txt", record("A") + QByteArray("B-2"));
        LightMap m;
        QVERIFY(m.load(d.file("DYE_LIGHT.txt")).ok());
        QCOMPARE(m.code(1), QString("A"));
        // A partial last record reads as far as it goes, so nothing typed there is lost.
        QCOMPARE(m.code(2), QString("B-2"));
        QCOMPARE(m.code(3), QString());
    }

    void lookup_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("light");
        QTest::newRow("exact") << "R-101" << 3;
        QTest::newRow("first of two") << "B-7" << 2;
        QTest::newRow("up to the first blank") << "R-101 extra words" << 3;
        QTest::newRow("unknown") << "Z-9" << 0;
        QTest::newRow("unknown before blank") << "Z-9 R-101" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("starts with a blank") << " R-101" << 0;
        QTest::newRow("case matters") << "r-101" << 0;
        QTest::newRow("last position") << "LAST" << 120;
        QTest::newRow("stored with blanks") << "PAD" << 40;
    }
    void lookup() {
        QFETCH(QString, code);
        QFETCH(int, light);
        LightMap m;
        m.setCode(2, QStringLiteral("B-7"));
        m.setCode(3, QStringLiteral("R-101"));
        m.setCode(9, QStringLiteral("B-7"));
        m.setCode(40, QStringLiteral("  PAD "));
        m.setCode(120, QStringLiteral("LAST"));
        QCOMPARE(m.lookup(code), light);
    }

    void unwritableFileKeepsTheOldMap() {
        runUnprivileged([] {
            WorkDir d;
            d.write("DYE_LIGHT.txt", record("OLD"));
            QFile::setPermissions(d.path(), QFile::ReadOwner | QFile::ExeOwner);
            LightMap m;
            m.setCode(1, QStringLiteral("NEW"));
            const Outcome o = m.save(d.file("DYE_LIGHT.txt"));
            QFile::setPermissions(d.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QVERIFY(!o.ok());
            QVERIFY(o.reason().contains("DYE_LIGHT.txt"));
            QCOMPARE(d.read("DYE_LIGHT.txt"), record("OLD"));
        });
    }
};

QTEST_GUILESS_MAIN(TestLightMap)
#include "test_lightmap.moc"
