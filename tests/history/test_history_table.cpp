#include "common/TextField.h"
#include "history/HistorySet.h"
#include "history/HistoryTableModel.h"
#include "history/WeighingLogDetails.h"
#include "tests/history/HistoryFiles.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

namespace {

struct Line {
    QString code, target, actual;
};

// A record with targets of its own (HistoryFiles.h writes "100" for every target).
QByteArray record(const QString& order, const char* stamp, const QList<Line>& lines) {
    QByteArray r = historyRecord({TextField::toCp950(order), stamp, {}});
    for (int k = 0; k < lines.size(); ++k) {
        r.replace(80 + 20 * k, 20, padded(TextField::toCp950(lines[k].code), 20));
        r.replace(280 + 10 * k, 10, padded(lines[k].target.toLatin1(), 10));
        r.replace(380 + 10 * k, 10, padded(lines[k].actual.toLatin1(), 10));
    }
    return r;
}

std::shared_ptr<const HistorySet> loaded(const WorkDir& w, const QStringList& months) {
    return std::make_shared<const HistorySet>(
        HistorySet::load(QDir(w.path()).filePath(QStringLiteral("data")), months));
}

QStringList column(const HistoryTableModel& m, int c) {
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << m.cell(r, c);
    return out;
}

QMap<QString, Decimal> asMap(const std::vector<HistoryTableModel::Usage>& totals) {
    QMap<QString, Decimal> out;
    for (const auto& u : totals)
        out[u.code] = u.grams;
    return out;
}

} // namespace

class TestHistoryTable : public QObject {
    Q_OBJECT
private slots:
    // Chinese text, a blank line between two lines, and a partial tail left by a cut append.
    void rowsAreTheOrderLinesOfTheFile() {
        WorkDir w;
        QDir(w.path()).mkpath(QStringLiteral("data"));
        w.write(QStringLiteral("data/DATE_202403.txt"),
                record(QStringLiteral("單號-7"), "2024/03/02 09:05:07",
                       {{QStringLiteral("紅色"), "12.5", "12.34"}, {}, {"Y-7", "3", "3"}}) +
                    record("B-2", "2024/03/15 10:00:00", {{"R-101", "0", "5"}}) +
                    QByteArray(900, 'x'));
        HistoryTableModel m;
        m.setSet(loaded(w, {QStringLiteral("DATE_202403.txt")}));
        QCOMPARE(m.rowCount(), 3);
        QCOMPARE(column(m, HistoryTableModel::OrderNo),
                 (QStringList{QStringLiteral("單號-7"), QStringLiteral("單號-7"), "B-2"}));
        QCOMPARE(column(m, HistoryTableModel::Line), (QStringList{"1", "3", "1"}));
        QCOMPARE(column(m, HistoryTableModel::Code),
                 (QStringList{QStringLiteral("紅色"), "Y-7", "R-101"}));
        QCOMPARE(
            column(m, HistoryTableModel::Time),
            (QStringList{"2024/03/02 09:05:07", "2024/03/02 09:05:07", "2024/03/15 10:00:00"}));
        QCOMPARE(column(m, HistoryTableModel::DeviationGrams), (QStringList{"-0.16", "0", "5"}));
        // A target of 0 has no percentage; no log: no balance, no barrel.
        QCOMPARE(column(m, HistoryTableModel::DeviationPercent), (QStringList{"-1.28", "0", ""}));
        QCOMPARE(column(m, HistoryTableModel::Balance), (QStringList{"", "", ""}));
    }

    void deviationsAreExact_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("grams");
        QTest::addColumn<QString>("percent");
        // 0.3 - 0.1 in binary is 0.19999999999999998.
        QTest::newRow("binary") << "0.1"
                                << "0.3"
                                << "0.2"
                                << "200";
        QTest::newRow("half up") << "3"
                                 << "3.00015"
                                 << "0.00015"
                                 << "0.01";
        QTest::newRow("half down") << "3"
                                   << "2.99985"
                                   << "-0.00015"
                                   << "-0.01";
        QTest::newRow("large") << "25000"
                               << "25012.5"
                               << "12.5"
                               << "0.05";
        QTest::newRow("lenient") << "12.5g"
                                 << "abc"
                                 << "-12.5"
                                 << "-100";
    }
    void deviationsAreExact() {
        QFETCH(QString, target);
        QFETCH(QString, actual);
        HistoryLine l;
        l.target = Decimal::parse(target);
        l.actual = Decimal::parse(actual);
        Decimal p;
        QVERIFY(l.percent(p));
        QTEST(l.deviation().toString(), "grams");
        QTEST(p.toString(), "percent");
    }

    void filterFindAndSort() {
        WorkDir w;
        QDir(w.path()).mkpath(QStringLiteral("data"));
        w.write(QStringLiteral("data/DATE_202403.txt"),
                record("a-1", "2024/03/02 09:05:07", {{"R-101", "10", "9"}, {"Y-7", "5", "5.5"}}) +
                    record(QStringLiteral("單號"), "2024/03/15 10:00:00",
                           {{"R-101", "10", "11"}, {"B-9", "1", "9"}}) +
                    record("C-3", "2024/03/16 10:00:00", {{"r-101", "10", "11"}}));
        HistoryTableModel m;
        m.setSet(loaded(w, {QStringLiteral("DATE_202403.txt")}));
        QCOMPARE(m.rowCount(), 5);
        m.setCodeFilter("R-101"); // exact: r-101 is another code
        QCOMPARE(column(m, HistoryTableModel::OrderNo),
                 (QStringList{"a-1", QStringLiteral("單號")}));
        m.setCodeFilter(QString());
        m.setTextFilter("A-1"); // ignoring case, in order numbers, times and codes
        QCOMPARE(column(m, HistoryTableModel::Code), (QStringList{"R-101", "Y-7"}));
        m.setTextFilter(QStringLiteral("單"));
        QCOMPARE(m.rowCount(), 2);
        m.setTextFilter("03/16");
        QCOMPARE(column(m, HistoryTableModel::OrderNo), QStringList{"C-3"});
        m.setTextFilter(QString());
        // The records the browser found: record 2 only, and only in its month.
        m.setFoundRecords("DATE_202403.txt", {2}, true);
        QCOMPARE(column(m, HistoryTableModel::Code), (QStringList{"R-101", "B-9"}));
        m.setFoundRecords("DATE_202404.txt", {2}, true);
        QCOMPARE(m.rowCount(), 0);
        m.setFoundRecords(QString(), {}, false);
        // Equal keys keep file order, in both directions.
        m.sort(HistoryTableModel::Actual, Qt::DescendingOrder);
        QCOMPARE(column(m, HistoryTableModel::Actual), (QStringList{"11", "11", "9", "9", "5.5"}));
        QCOMPARE(column(m, HistoryTableModel::OrderNo).mid(0, 3),
                 (QStringList{QStringLiteral("單號"), "C-3", "a-1"}));
        m.sort(HistoryTableModel::DeviationGrams, Qt::DescendingOrder); // signed keys
        QCOMPARE(column(m, HistoryTableModel::DeviationGrams),
                 (QStringList{"8", "1", "1", "0.5", "-1"}));
        m.sort(HistoryTableModel::DeviationPercent, Qt::AscendingOrder);
        QCOMPARE(column(m, HistoryTableModel::DeviationPercent),
                 (QStringList{"-10", "10", "10", "10", "800"}));
        // A filter keeps the sort.
        m.setTextFilter("101");
        QCOMPARE(column(m, HistoryTableModel::DeviationPercent), (QStringList{"-10", "10", "10"}));
    }

    // Quoting, and cells a spreadsheet would run (a leading =, @) written as text, while
    // negative numbers stay numbers.
    void csvBytes() {
        WorkDir w;
        QDir(w.path()).mkpath(QStringLiteral("data"));
        w.write(QStringLiteral("data/DATE_202403.txt"),
                record(QStringLiteral("=單,號"), "2024/03/02 09:05:07",
                       {{"R\"1\"", "2", "1.5"}, {QStringLiteral("@紅"), "1", "1"}}));
        HistoryTableModel m;
        m.setSet(loaded(w, {QStringLiteral("DATE_202403.txt")}));
        m.setHeaders({"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}, {"n", "code", "g", "kg"});
        QCOMPARE(m.tableCsv(),
                 QByteArray("\xEF\xBB\xBF"
                            "a,b,c,d,e,f,g,h,i,j\r\n") +
                     QStringLiteral(
                         "\"'=單,號\",2024/03/02 09:05:07,,1,\"R\"\"1\"\"\",2,1.5,-0.5,-25,\r\n"
                         "\"'=單,號\",2024/03/02 09:05:07,,2,'@紅,1,1,0,0,\r\n")
                         .toUtf8());
        QCOMPARE(m.totalsCsv(), QByteArray("\xEF\xBB\xBF"
                                           "n,code,g,kg\r\n"
                                           "1,\"R\"\"1\"\"\",1.5,0.0015\r\n") +
                                    QStringLiteral("2,'@紅,1,0.001\r\n").toUtf8());
    }

    // Totals over a range of months are the sums of each month's, largest first; the
    // per-day usage covers every day of the range.
    void rangeTotalsAreTheSumOfEachMonth() {
        WorkDir w;
        QDir(w.path()).mkpath(QStringLiteral("data/DATE_202402.txt.old"));
        const QStringList names{"DATE_202401.txt", "DATE_202402.txt", "DATE_202403.txt"};
        w.write("data/" + names[0], record("A", "2024/01/31 23:59:59", {{"R", "1", "0.1"}}));
        w.write("data/" + names[1],
                record("B", "2024/02/01 08:00:00",
                       {{"R", "1", "0.2"}, {"Y", "1", "1000"}, {"", "1", "7"}}));
        w.write("data/" + names[2], record("C", "2024/03/01 08:00:00", {{"B", "1", "0.35"}}));
        const QStringList all =
            QDir(w.file("data")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        QCOMPARE(HistorySet::range(all, names[2], names[0]), names);

        HistoryTableModel range;
        range.setSet(loaded(w, names));
        QMap<QString, Decimal> sum;
        for (const QString& n : names) {
            HistoryTableModel one;
            one.setSet(loaded(w, {n}));
            for (const auto& u : one.totals())
                sum[u.code] += u.grams;
        }
        QCOMPARE(asMap(range.totals()), sum);
        QCOMPARE(range.totals().front().code, QString("Y"));
        QCOMPARE(sum["R"].toString(), QString("0.3")); // exact, not 0.30000000000000004
        const auto days = range.dailyUsage();
        QCOMPARE(int(days.size()), 31 + 29 + 1 - 30);
        QCOMPARE(days.front().day, QDate(2024, 1, 31));
        QCOMPARE(days[1].grams.toString(), QString("1000.2"));
        QCOMPARE(days[2].grams.toString(), QString("0"));
        QCOMPARE(days.back().grams.toString(), QString("0.35"));
    }

    void aMonthOfTenThousandRecords() {
        WorkDir w;
        QDir(w.path()).mkpath(QStringLiteral("data"));
        QByteArray month;
        Decimal expected;
        for (int k = 0; k < 10000; ++k) {
            const QString actual = QStringLiteral("%1.%2").arg(k % 50).arg(k % 7);
            expected += Decimal::parse(actual);
            month += record(QStringLiteral("訂%1").arg(k), "2024/03/02 09:05:07",
                            {{"R-" + QString::number(k % 3), "1", actual}, {"Y", "2", "2"}});
        }
        w.write(QStringLiteral("data/DATE_202403.txt"), month);
        HistoryTableModel m;
        m.setSet(loaded(w, {QStringLiteral("DATE_202403.txt")}));
        QCOMPARE(m.rowCount(), 20000);
        QCOMPARE(m.cell(19999, HistoryTableModel::OrderNo), QStringLiteral("訂9999"));
        Decimal r;
        for (const auto& u : m.totals())
            if (u.code.startsWith("R-"))
                r += u.grams;
        QCOMPARE(r, expected);
        QCOMPARE(asMap(m.totals())["Y"].toString(), QString("20000"));
    }

    // The balance of a line is that of its last acceptance up to the order's finish: an
    // order weighed twice has its own balance each time.
    void balanceFromTheWeighingLog() {
        WorkDir w;
        QDir(w.path()).mkpath(QStringLiteral("data"));
        w.write(QStringLiteral("data/DATE_202403.txt"),
                record("A", "2024/03/02 09:05:07", {{"R", "1", "1"}, {"Y", "1", "1"}}) +
                    record("A", "2024/03/02 10:00:00", {{"R", "1", "1"}}));
        const QString db = w.file("data/weighings.db");
        {
            QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "log");
            c.setDatabaseName(db);
            QVERIFY(c.open());
            QSqlQuery q(c);
            QVERIFY(q.exec("PRAGMA journal_mode=WAL")); // as the log keeps it
            QVERIFY(q.exec("CREATE TABLE weighing_event (at TEXT, station TEXT, order_no TEXT, "
                           "line INTEGER, code TEXT, lot TEXT, target_g TEXT, actual_g TEXT, "
                           "tolerance_g TEXT, balance TEXT, event TEXT, detail TEXT)"));
            QVERIFY(q.exec("INSERT INTO weighing_event (at, order_no, line, balance, event) VALUES "
                           "('2024-03-02T09:04:00.250+08:00', 'A', 1, 'small', 'accepted'),"
                           "('2024-03-02T09:04:30+08:00', 'A', 1, 'small', 'undo'),"
                           "('2024-03-02T09:04:40+08:00', 'A', 2, 'large', 'pick_ok'),"
                           "('2024-03-02T09:59:00+08:00', 'A', 1, 'large', 'accepted')"));
        }
        QSqlDatabase::removeDatabase("log");
        auto set = std::make_shared<HistorySet>(
            HistorySet::load(w.file("data"), {QStringLiteral("DATE_202403.txt")}));
        QVERIFY(WeighingLogDetails(db, "L", "S").fillFrom(*set).ok());
        HistoryTableModel m;
        m.setSet(set);
        QCOMPARE(column(m, HistoryTableModel::Balance), (QStringList{"S", "", "L"}));
        m.sort(HistoryTableModel::Balance, Qt::AscendingOrder);
        QCOMPARE(column(m, HistoryTableModel::Balance), (QStringList{"", "L", "S"}));
        // No log file: blank, and the file is not made.
        set->balances.clear();
        QVERIFY(!WeighingLogDetails(w.file("data/none.db"), "L", "S").fillFrom(*set).ok());
        QVERIFY(set->balances.empty());
        QVERIFY(!w.exists("data/none.db"));
    }

    void aBadMonthIsNamedAndTheOthersLoad() {
        WorkDir w;
        QDir(w.path()).mkpath(QStringLiteral("data/DATE_202402.txt"));
        w.write("data/DATE_202401.txt", record("A", "2024/01/02 09:05:07", {{"R", "1", "1"}}));
        const auto s = loaded(w, {"DATE_202401.txt", "DATE_202402.txt", "DATE_202403.txt"});
        QCOMPARE(s->months, QStringList{"DATE_202401.txt"});
        QCOMPARE(s->failures.size(), 2);
        QCOMPARE(s->recordBytes(0).left(1), QByteArray("A"));
    }
};

QTEST_GUILESS_MAIN(TestHistoryTable)
#include "test_history_table.moc"
