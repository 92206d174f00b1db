#include "plant/LogExport.h"
#include "plant/LogStore.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

class TestLogExport : public QObject {
    Q_OBJECT
private slots:
    void monthOfTheChosenFile_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QDate>("month");
        QTest::newRow("a month file") << "DATE_202403.txt" << QDate(2024, 3, 1);
        QTest::newRow("none chosen") << "" << QDate(2026, 12, 1);
        QTest::newRow("not a month file") << "DATE_202403.txt.old" << QDate(2026, 12, 1);
        QTest::newRow("no such month") << "DATE_202413.txt" << QDate(2026, 12, 1);
    }
    void monthOfTheChosenFile() {
        QFETCH(QString, chosen);
        QFETCH(QDate, month);
        QCOMPARE(LogExport::monthOf(chosen, QDate(2026, 12, 9)), month);
    }

    // One export at a time; the file is written whole, named by its month.
    void exportsTheMonth() {
        WorkDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("data")));
        {
            LogStore store({}, LogStore::embeddedFile(dir.path()));
            QVERIFY(store.open(true).ok());
        }
        LogExport e(dir.path(), {}, nullptr);
        const QString file = dir.file(QStringLiteral("data/weighings_202403.csv"));
        QCOMPARE(e.fileOf(QDate(2024, 3, 31)), file);
        QSignalSpy done(&e, &LogExport::finished);
        QCOMPARE(e.start(QDate(2024, 3, 15)), QStringLiteral("計量紀錄匯出中 %1").arg(file));
        QVERIFY(e.running());
        QVERIFY(e.start(QDate(2024, 3, 15)).isEmpty());
        QVERIFY(done.wait(10000));
        QCOMPARE(done.size(), 1);
        QCOMPARE(done[0][0].toString(), QStringLiteral("計量紀錄已匯出 %1").arg(file));
        QVERIFY(!e.running());
        QVERIFY(dir.read(QStringLiteral("data/weighings_202403.csv")).startsWith("\xEF\xBB\xBF"));
    }
};

QTEST_GUILESS_MAIN(TestLogExport)
#include "test_log_export.moc"
