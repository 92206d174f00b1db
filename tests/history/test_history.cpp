#include "history/HistoryBrowser.h"
#include "tests/history/HistoryFiles.h"
#include "tests/support/TestSupport.h"
#include "tests/support/Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

const QString kMonth = QStringLiteral("DATE_202403.txt");

// Three jobs of March 2024: A-1 on the 2nd (twice), B-2 on the 15th.
QByteArray marchFile() {
    return historyFile({
        {"A-1", "2024/03/02 09:05:07", {{"R-101", "1000"}, {"", "55"}, {"Y-7", "0"}}},
        {"B-2", "2024/03/15 10:00:00", {{"R-101", "234.5"}, {"B-9", "12.34"}}},
        {"A-1", "2024/03/02 17:30:00", {{"B-9", "5.67"}, {"r-101", "1"}}},
    });
}

void writeMonth(const WorkDir& w, const QString& name, const QByteArray& bytes) {
    QDir(w.path()).mkpath(QStringLiteral("data"));
    w.write(QStringLiteral("data/") + name, bytes);
}

QStringList orders(const HistoryBrowser& b) {
    QStringList out;
    for (const QString& line : b.jobLines())
        out << line.left(50).trimmed() + QLatin1Char('@') + line.mid(60 + 8, 2);
    return out;
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    void jobLineIsTheRecordsPaddedFields() {
        WorkDir w;
        QByteArray r =
            historyRecord({"\xB3\xE6\xB8\xB9-7", "2024/03/02 09:05:07", {{"R-101", "12.34"}}});
        r.replace(50, 10, padded("s1", 10));
        r.replace(60, 10, padded("s2", 10));
        r.replace(70, 10, padded("s3", 10));
        r.replace(80 + 20 * 9, 20, padded("LAST", 20));
        r.replace(380 + 10 * 9, 10, padded("9.5", 10));
        writeMonth(w, kMonth, r);
        HistoryBrowser b(w.path());
        QVERIFY(b.load(kMonth).ok());
        QCOMPARE(b.recordCount(), 1);
        const QString line = b.jobLines().value(0);
        QCOMPARE(line.size(), 110 + 10 * 40);
        // "單號-7" is 7 bytes but 4 characters: the list pads to 50 characters.
        QCOMPARE(line.left(50), QStringLiteral("單號-7").leftJustified(50));
        QCOMPARE(line.mid(50, 10), QStringLiteral("s1").leftJustified(10));
        QCOMPARE(line.mid(60, 30), QStringLiteral("2024/03/02 09:05:07").leftJustified(30));
        QCOMPARE(line.mid(90, 10), QStringLiteral("s2").leftJustified(10));
        QCOMPARE(line.mid(100, 10), QStringLiteral("s3").leftJustified(10));
        QCOMPARE(line.mid(110, 40), QStringLiteral("R-101").leftJustified(20) +
                                        QStringLiteral("100").leftJustified(10) +
                                        QStringLiteral("12.34").leftJustified(10));
        QCOMPARE(line.mid(110 + 9 * 40, 20), QStringLiteral("LAST").leftJustified(20));
        QCOMPARE(line.mid(110 + 9 * 40 + 30, 10), QStringLiteral("9.5").leftJustified(10));
        QCOMPARE(b.record(1).OrderNo().toString(), QStringLiteral("單號-7"));
    }

    void loadIgnoresAPartialTailAndLeavesTheFileAlone() {
        WorkDir w;
        const QByteArray bytes = marchFile() + QByteArray(900, 'x');
        writeMonth(w, kMonth, bytes);
        HistoryBrowser b(w.path());
        QVERIFY(b.load(kMonth).ok());
        QCOMPARE(b.recordCount(), 3);
        QCOMPARE(orders(b), (QStringList{"A-1@02", "B-2@15", "A-1@02"}));
        QCOMPARE(w.read(QStringLiteral("data/") + kMonth), bytes);
    }

    void search_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<bool>("inForce");
        QTest::newRow("order") << "A-1" << QStringList{"A-1@02", "A-1@02"} << true;
        QTest::newRow("blanks around") << "  B-2   " << QStringList{"B-2@15"} << true;
        QTest::newRow("other case") << "a-1" << QStringList{} << true;
        QTest::newRow("part of it") << "A-" << QStringList{} << true;
        QTest::newRow("day 02") << "##02" << QStringList{"A-1@02", "A-1@02"} << true;
        QTest::newRow("day 15") << "##15" << QStringList{"B-2@15"} << true;
        QTest::newRow("single digit day") << "##2" << QStringList{} << true;
        QTest::newRow("no day") << "##" << QStringList{} << true;
        QTest::newRow("day without match") << "##31" << QStringList{} << true;
        QTest::newRow("empty: whole month")
            << "" << QStringList{"A-1@02", "B-2@15", "A-1@02"} << false;
        QTest::newRow("blanks: whole month")
            << "   " << QStringList{"A-1@02", "B-2@15", "A-1@02"} << false;
    }
    void search() {
        QFETCH(QString, text);
        QFETCH(QStringList, found);
        QFETCH(bool, inForce);
        WorkDir w;
        writeMonth(w, kMonth, marchFile());
        HistoryBrowser b(w.path());
        QVERIFY(b.load(kMonth).ok());
        b.search(text);
        QCOMPARE(orders(b), found);
        QCOMPARE(b.searchActive(), inForce);
    }

    void totals_data() {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("lines");
        // Codes in first-met order; case counts; the blank code is left out; an Actual of
        // 0 adds nothing but its code is met; exact sums: 12.34 + 5.67 = 18.01 g.
        QTest::newRow("whole month")
            << QString()
            << QStringList{"1   R-101   1.2345(KG)", "2   Y-7   0(KG)", "3   B-9   0.01801(KG)",
                           "4   r-101   0.001(KG)"};
        QTest::newRow("after a search")
            << "A-1"
            << QStringList{"1   R-101   1(KG)", "2   Y-7   0(KG)", "3   B-9   0.00567(KG)",
                           "4   r-101   0.001(KG)"};
        QTest::newRow("after a day search")
            << "##15" << QStringList{"1   R-101   0.2345(KG)", "2   B-9   0.01234(KG)"};
        QTest::newRow("after a search that found nothing") << "##31" << QStringList{};
    }
    void totals() {
        QFETCH(QString, search);
        QFETCH(QStringList, lines);
        WorkDir w;
        writeMonth(w, kMonth, marchFile());
        HistoryBrowser b(w.path());
        QVERIFY(b.load(kMonth).ok());
        b.search(search);
        QCOMPARE(b.totals(), lines);
        // The totals do not end the search: Enter shows the matches again.
        QCOMPARE(b.searchActive(), !search.isEmpty());
    }

    void totalsReadTheLeadingNumber_data() {
        QTest::addColumn<QByteArray>("actual");
        QTest::addColumn<QString>("kg");
        QTest::newRow("text") << QByteArray("abc") << "0";
        QTest::newRow("number then text") << QByteArray("12.5g") << "0.0125";
        QTest::newRow("negative") << QByteArray("-3.25") << "-0.00325";
        QTest::newRow("leading blank") << QByteArray(" 7") << "0.007";
        QTest::newRow("empty") << QByteArray("") << "0";
    }
    void totalsReadTheLeadingNumber() {
        QFETCH(QByteArray, actual);
        QFETCH(QString, kg);
        WorkDir w;
        writeMonth(w, kMonth, historyFile({{"X", "2024/03/01 00:00:00", {{"C", actual}}}}));
        HistoryBrowser b(w.path());
        QVERIFY(b.load(kMonth).ok());
        QCOMPARE(b.totals(), QStringList{QStringLiteral("1   C   %1(KG)").arg(kg)});
    }

    void kilograms_data() {
        QTest::addColumn<QString>("grams");
        QTest::addColumn<QString>("kg");
        QTest::newRow("zero") << "0"
                              << "0";
        QTest::newRow("one gram") << "1"
                                  << "0.001";
        QTest::newRow("smallest") << "0.000001"
                                  << "0.000000001";
        QTest::newRow("whole kilos") << "25000"
                                     << "25";
        QTest::newRow("mixed") << "123456.78"
                               << "123.45678";
        QTest::newRow("negative") << "-0.5"
                                  << "-0.0005";
    }
    void kilograms() {
        QFETCH(QString, grams);
        QFETCH(QString, kg);
        QCOMPARE(HistoryBrowser::kilograms(Decimal::parse(grams)), kg);
    }

    void moreThan23CodesAfterASearchAreAllShown() {
        WorkDir w;
        TestJob a{"MANY", "2024/03/05 08:00:00", {}}, c{"MANY", "2024/03/06 08:00:00", {}},
            d{"MANY", "2024/03/07 08:00:00", {}};
        for (int k = 0; k < 10; ++k) {
            a.lines.append({"A" + QByteArray::number(k), "1"});
            c.lines.append({"C" + QByteArray::number(k), "2"});
            d.lines.append({"D" + QByteArray::number(k), "3"});
        }
        writeMonth(w, kMonth, historyRecord(a) + historyRecord(c) + historyRecord(d));
        HistoryBrowser b(w.path());
        QVERIFY(b.load(kMonth).ok());
        b.search(QStringLiteral("MANY"));
        const QStringList t = b.totals();
        QCOMPARE(t.size(), 30);
        QCOMPARE(t.first(), QStringLiteral("1   A0   0.001(KG)"));
        QCOMPARE(t.at(23), QStringLiteral("24   D3   0.003(KG)"));
        QCOMPARE(t.last(), QStringLiteral("30   D9   0.003(KG)"));
    }

    void noFixedLimits() {
        // 10050 records with 600 distinct codes: all load, all are totalled.
        WorkDir w;
        QByteArray all;
        for (int k = 0; k < 10050; ++k)
            all += historyRecord({"N" + QByteArray::number(k),
                                  "2024/03/09 12:00:00",
                                  {{"K" + QByteArray::number(k % 600), "2"}}});
        writeMonth(w, kMonth, all);
        HistoryBrowser b(w.path());
        QVERIFY(b.load(kMonth).ok());
        QCOMPARE(b.recordCount(), 10050);
        QCOMPARE(b.jobLines().size(), 10050);
        const QStringList t = b.totals();
        QCOMPARE(t.size(), 600);
        QCOMPARE(t.at(0), QStringLiteral("1   K0   0.034(KG)"));       // 17 jobs of 2 g
        QCOMPARE(t.at(599), QStringLiteral("600   K599   0.032(KG)")); // 16 jobs
        b.search(QStringLiteral("N10049"));
        QCOMPARE(b.matchCount(), 1);
    }

    void monthsListFilesAndFoldersAndAreReadAfresh() {
        WorkDir w;
        HistoryBrowser b(w.path());
        HistoryBrowser::Listing l = b.months();
        QVERIFY(l.outcome.ok());
        QVERIFY(l.names.isEmpty());
        QVERIFY(QFileInfo(w.file(QStringLiteral("data"))).isDir()); // created when missing
        writeMonth(w, QStringLiteral("DATE_202404.txt"), marchFile());
        writeMonth(w, kMonth, marchFile());
        QDir(w.path()).mkpath(QStringLiteral("data/old"));
        l = b.months(); // the folder exists now: that is no failure
        QVERIFY(l.outcome.ok());
        QCOMPARE(l.names, (QStringList{"DATE_202403.txt", "DATE_202404.txt", "old"}));
    }

    void dataThatIsAFileIsReported() {
        WorkDir w;
        w.write(QStringLiteral("data"), "not a folder");
        HistoryBrowser b(w.path());
        const HistoryBrowser::Listing l = b.months();
        QVERIFY(!l.outcome.ok());
        QVERIFY(l.names.isEmpty());
        QCOMPARE(w.read(QStringLiteral("data")), QByteArray("not a folder"));
    }

    void aBadNameLoadsNothingAndTheLastMonthStays_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("folder") << "old";
        QTest::newRow("missing") << "DATE_209912.txt";
        QTest::newRow("unreadable") << "DATE_202402.txt";
    }
    void aBadNameLoadsNothingAndTheLastMonthStays() {
        QFETCH(QString, name);
        runUnprivileged([&name] {
            WorkDir w;
            writeMonth(w, kMonth, marchFile());
            QDir(w.path()).mkpath(QStringLiteral("data/old"));
            writeMonth(w, QStringLiteral("DATE_202402.txt"), marchFile());
            QFile::setPermissions(w.file(QStringLiteral("data/DATE_202402.txt")),
                                  QFileDevice::Permissions());
            HistoryBrowser b(w.path());
            QVERIFY(b.load(kMonth).ok());
            b.search(QStringLiteral("B-2"));
            const Outcome o = b.load(name);
            QVERIFY(!o.ok());
            QVERIFY2(o.reason().contains(name), qPrintable(o.reason()));
            QCOMPARE(b.loadedName(), kMonth);
            QCOMPARE(b.recordCount(), 3);
            QCOMPARE(orders(b), QStringList{"B-2@15"}); // the search in force stays too
            QVERIFY(!QFile::exists(w.file(QStringLiteral("data/DATE_209912.txt"))));
        });
    }

    void loadingForgetsTheSearch() {
        WorkDir w;
        writeMonth(w, kMonth, marchFile());
        HistoryBrowser b(w.path());
        QVERIFY(b.load(kMonth).ok());
        b.search(QStringLiteral("##31"));
        QVERIFY(b.totals().isEmpty());
        QVERIFY(b.load(kMonth).ok());
        QVERIFY(!b.searchActive());
        QCOMPARE(b.totals().size(), 4);
    }

    void aMonthLoadsInStepsAndTheLastStaysUntilItIsComplete() {
        WorkDir w;
        writeMonth(w, kMonth, marchFile());
        QByteArray april;
        for (int k = 0; k < 5; ++k)
            april +=
                historyRecord({"P" + QByteArray::number(k), "2024/04/01 08:00:00", {{"Z", "1"}}});
        writeMonth(w, QStringLiteral("DATE_202404.txt"), april);
        HistoryBrowser b(w.path());
        QVERIFY(b.load(kMonth).ok());
        b.search(QStringLiteral("B-2"));

        QVERIFY(b.beginLoad(QStringLiteral("DATE_202404.txt")).ok());
        QVERIFY(b.loading());
        QCOMPARE(b.loadTotal(), 5);
        QVERIFY(!b.loadStep(2));
        QVERIFY(!b.loadStep(2));
        QCOMPARE(b.loadDone(), 4);
        // A bad name meanwhile changes nothing, not even the load under way.
        QVERIFY(!b.beginLoad(QStringLiteral("nothing.txt")).ok());
        QVERIFY(b.loading());
        // Until the last step the March month answers, its search in force.
        QCOMPARE(b.loadedName(), kMonth);
        QCOMPARE(orders(b), QStringList{"B-2@15"});
        QCOMPARE(b.totals(), (QStringList{"1   R-101   0.2345(KG)", "2   B-9   0.01234(KG)"}));
        QVERIFY(b.loadStep(2));
        QVERIFY(!b.loading());
        QCOMPARE(b.loadedName(), QStringLiteral("DATE_202404.txt"));
        QCOMPARE(b.recordCount(), 5);
        QVERIFY(!b.searchActive());
        QCOMPARE(b.totals(), QStringList{"1   Z   0.005(KG)"});

        // A cancelled load leaves the loaded month.
        QVERIFY(b.beginLoad(kMonth).ok());
        b.cancelLoad();
        QVERIFY(!b.loading());
        QCOMPARE(b.loadedName(), QStringLiteral("DATE_202404.txt"));
    }

    void anEmptyMonthLoadsEmpty() {
        WorkDir w;
        writeMonth(w, kMonth, marchFile());
        writeMonth(w, QStringLiteral("DATE_202405.txt"), QByteArray(1599, ' '));
        HistoryBrowser b(w.path());
        QVERIFY(b.load(kMonth).ok());
        QVERIFY(b.load(QStringLiteral("DATE_202405.txt")).ok());
        QCOMPARE(b.recordCount(), 0);
        QVERIFY(b.jobLines().isEmpty());
        QVERIFY(b.totals().isEmpty());
    }

    void nothingLoadedFindsNothing() {
        WorkDir w;
        HistoryBrowser b(w.path());
        b.search(QStringLiteral("A-1"));
        QVERIFY(b.jobLines().isEmpty());
        QVERIFY(b.totals().isEmpty());
        b.search(QString());
        QVERIFY(b.jobLines().isEmpty());
        QVERIFY(b.totals().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "test_history.moc"
