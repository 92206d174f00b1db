#include "common/OleDate.h"
#include "jobs/History.h"
#include "tests/support/TestSupport.h"
#include "tests/support/Unprivileged.h"
#include "weighing/Completion.h"
#include "weighing/TicketService.h"
#include "weighing/WeighingModel.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QtEndian>
#include <cstring>

namespace {

QByteArray field(const QByteArray& rec, int offset, int width) {
    return rec.mid(offset, width);
}
QByteArray padded(const QByteArray& text, int width) {
    return text + QByteArray(width - text.size(), ' ');
}

HistoryRecord threeLines(const QDateTime& at) {
    std::array<QString, 201> table;
    const char* codes[] = {"RED 01", "YEL-2", "BLUE"};
    const char* targets[] = {"12.34", "1500", "0.5"};
    const char* actuals[] = {"12.35", "1500.1", "0.5"};
    for (int i = 1; i <= 3; ++i) {
        table[lineSlot(i, LineSlot::Code)] = QLatin1String(codes[i - 1]);
        table[lineSlot(i, LineSlot::B01)] = QStringLiteral("b%1").arg(i);
        table[lineSlot(i, LineSlot::Target)] = QLatin1String(targets[i - 1]);
        table[lineSlot(i, LineSlot::Actual)] = QLatin1String(actuals[i - 1]);
        table[lineSlot(i, LineSlot::Balance)] = QStringLiteral("2");
    }
    return historyFromLineTable(QStringLiteral("  單號A1  "), table, at);
}

double stampOf(const QByteArray& rec) {
    const quint64 bits = qFromLittleEndian<quint64>(rec.constData() + 510);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    void threeLineRecordByteExact();
    void monthBoundary_data();
    void monthBoundary();
    void notMonthFiles_data();
    void notMonthFiles();
    void appendsAfterWholeRecordsOnly();
    void existingFolderIsFine();
    void folderThatIsAFileFails();
    void readOnlyFolderFails();
    void decodeRoundTrip();
    void ticketOfRecord();
};

void TestHistory::threeLineRecordByteExact() {
    WorkDir dir;
    const QDateTime at(QDate(2024, 3, 2), QTime(9, 5, 7));
    QVERIFY(AppendHistory(dir.path(), threeLines(at)).ok());
    const QByteArray rec = dir.read(QStringLiteral("data/DATE_202403.txt"));
    QCOMPARE(rec.size(), 1600);
    QCOMPARE(field(rec, 0, 50), padded("\xB3\xE6\xB8\xB9"
                                       "A1",
                                       50));
    QCOMPARE(field(rec, 50, 30), QByteArray(30, ' '));
    QCOMPARE(field(rec, 80, 20), padded("RED 01", 20));
    QCOMPARE(field(rec, 100, 20), padded("YEL-2", 20));
    QCOMPARE(field(rec, 120, 20), padded("BLUE", 20));
    QCOMPARE(field(rec, 140, 140), QByteArray(140, ' '));
    QCOMPARE(field(rec, 280, 30), padded("12.34", 10) + padded("1500", 10) + padded("0.5", 10));
    QCOMPARE(field(rec, 310, 70), QByteArray(70, ' '));
    QCOMPARE(field(rec, 380, 30), padded("12.35", 10) + padded("1500.1", 10) + padded("0.5", 10));
    QCOMPARE(field(rec, 410, 70), QByteArray(70, ' '));
    QCOMPARE(field(rec, 480, 30), QByteArray("2024/03/02 09:05:07") + QByteArray(11, ' '));
    // 2024-03-02 is day 45353 after 1899-12-30; 09:05:07 is 32707 s into the day.
    QVERIFY(qAbs(stampOf(rec) - (45353.0 + 32707.0 / 86400.0)) < 1e-9);
    QCOMPARE(field(rec, 568, 50), padded("b1", 50));
    QCOMPARE(field(rec, 618, 50), padded("b2", 50));
    QCOMPARE(field(rec, 668, 50), padded("b3", 50));
    QCOMPARE(field(rec, 718, 350), QByteArray(350, ' '));
    QCOMPARE(field(rec, 1068, 30), QByteArray(30, ' '));
    QCOMPARE(field(rec, 1598, 2), QByteArray("\r\n"));
}

void TestHistory::monthBoundary_data() {
    QTest::addColumn<QDateTime>("at");
    QTest::addColumn<QString>("file");
    QTest::newRow("last second of March")
        << QDateTime(QDate(2024, 3, 31), QTime(23, 59, 59)) << "DATE_202403.txt";
    QTest::newRow("first second of April")
        << QDateTime(QDate(2024, 4, 1), QTime(0, 0, 0)) << "DATE_202404.txt";
    QTest::newRow("new year's eve")
        << QDateTime(QDate(2023, 12, 31), QTime(23, 59, 59)) << "DATE_202312.txt";
    QTest::newRow("new year") << QDateTime(QDate(2024, 1, 1), QTime(0, 0, 0)) << "DATE_202401.txt";
}

void TestHistory::monthBoundary() {
    QFETCH(QDateTime, at);
    QFETCH(QString, file);
    WorkDir dir;
    QVERIFY(AppendHistory(dir.path(), threeLines(at)).ok());
    const QStringList files = QDir(dir.file(QStringLiteral("data"))).entryList(QDir::Files);
    QCOMPARE(files, QStringList{file});
    const QByteArray rec = dir.read(QStringLiteral("data/") + file);
    QCOMPARE(field(rec, 480, 19), at.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")).toLatin1());
    QCOMPARE(OleDate::toDateTime(stampOf(rec)), at);
    // The readers take the month back from the name the writer gave.
    QCOMPARE(MonthFile::month(file), QDate(at.date().year(), at.date().month(), 1));
}

void TestHistory::notMonthFiles_data() {
    QTest::addColumn<QString>("name");
    for (const char* n :
         {"DATE_202413.txt", "DATE_202400.txt", "DATE_2024031.txt", "DATE_20243.txt",
          "DATE_2024a3.txt", "DATE_202403.txt.old", "date_202403.txt", "DATE_202403"})
        QTest::newRow(n) << QString::fromLatin1(n);
}

void TestHistory::notMonthFiles() {
    QFETCH(QString, name);
    QVERIFY(!MonthFile::month(name).isValid());
}

void TestHistory::appendsAfterWholeRecordsOnly() {
    WorkDir dir;
    const QDateTime at(QDate(2024, 3, 2), QTime(9, 5, 7));
    QVERIFY(AppendHistory(dir.path(), threeLines(at)).ok());
    const QByteArray first = dir.read(QStringLiteral("data/DATE_202403.txt"));
    // A torn tail (from another program) is not a record: the next record takes its place.
    dir.write(QStringLiteral("data/DATE_202403.txt"), first + QByteArray(700, 'x'));
    HistoryRecord second = threeLines(at.addSecs(60));
    second.OrderNo = QStringLiteral("B2");
    QVERIFY(AppendHistory(dir.path(), second).ok());
    const QByteArray all = dir.read(QStringLiteral("data/DATE_202403.txt"));
    QCOMPARE(all.size(), 3200);
    QCOMPARE(all.left(1600), first);
    QCOMPARE(HistoryRecord::decode(all.mid(1600)).OrderNo, QStringLiteral("B2"));
    QCOMPARE(field(all.mid(1600), 480, 19), QByteArray("2024/03/02 09:06:07"));
}

void TestHistory::existingFolderIsFine() {
    WorkDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("data")));
    QVERIFY(AppendHistory(dir.path(), threeLines(QDateTime(QDate(2024, 5, 1), QTime(8, 0)))).ok());
    QCOMPARE(dir.read(QStringLiteral("data/DATE_202405.txt")).size(), 1600);
}

void TestHistory::folderThatIsAFileFails() {
    WorkDir dir;
    dir.write(QStringLiteral("data"), "x");
    const Outcome o =
        AppendHistory(dir.path(), threeLines(QDateTime(QDate(2024, 5, 1), QTime(8, 0))));
    QVERIFY(!o.ok());
    QVERIFY(o.reason().contains(QStringLiteral("data")));
    QCOMPARE(dir.read(QStringLiteral("data")), QByteArray("x"));
}

void TestHistory::readOnlyFolderFails() {
    runUnprivileged([] {
        WorkDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("data")));
        QFile::setPermissions(dir.file(QStringLiteral("data")),
                              QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const Outcome o =
            AppendHistory(dir.path(), threeLines(QDateTime(QDate(2024, 5, 1), QTime(8, 0))));
        QFile::setPermissions(dir.file(QStringLiteral("data")), QFileDevice::ReadOwner |
                                                                    QFileDevice::WriteOwner |
                                                                    QFileDevice::ExeOwner);
        QVERIFY(!o.ok());
        QVERIFY(!dir.exists(QStringLiteral("data/DATE_202405.txt")));
    });
}

void TestHistory::decodeRoundTrip() {
    const QDateTime at(QDate(2024, 3, 2), QTime(9, 5, 7));
    const HistoryRecord h = threeLines(at);
    const HistoryRecord back = HistoryRecord::decode(h.encode());
    QCOMPARE(back.OrderNo, QStringLiteral("單號A1"));
    QCOMPARE(back.Code, h.Code);
    QCOMPARE(back.Target, h.Target);
    QCOMPARE(back.Actual, h.Actual);
    QCOMPARE(back.B01, h.B01);
    QCOMPARE(back.Completed, at);
}

// Line k of the record is ticket line k, a line left blank keeps its place, and the
// ticket is stamped with the moment of printing, not the completion.
void TestHistory::ticketOfRecord() {
    HistoryRecord h = threeLines(QDateTime(QDate(2024, 3, 2), QTime(9, 5, 7)));
    h.Code[2] = h.Target[2] = h.Actual[2] = QString();
    const QDateTime printed(QDate(2024, 3, 4), QTime(10, 0, 0));
    const QList<TicketItem> items = historyTicket(h, printed);
    QCOMPARE(items.size(), 1 + 4 * Ticket::kLines + 1);
    QCOMPARE(items.first().text, QStringLiteral("單號A1"));
    auto texts = [&items](int line) {
        return QStringList{items[1 + 4 * (line - 1)].text, items[2 + 4 * (line - 1)].text,
                           items[3 + 4 * (line - 1)].text};
    };
    QCOMPARE(texts(1), (QStringList{"RED 01", "12.34", "12.35"}));
    QCOMPARE(texts(2), (QStringList{"", "", ""}));
    QCOMPARE(texts(3), (QStringList{"BLUE", "0.5", "0.5"}));
    QCOMPARE(items.last().text, QStringLiteral("2024/03/04 10:00:00"));
}

QTEST_GUILESS_MAIN(TestHistory)
#include "test_history.moc"
