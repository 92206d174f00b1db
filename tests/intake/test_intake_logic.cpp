// The order intake's pure parts: query texts, the field-mapping files, the staging grid,
// the job and dye order records built from rows, the fault report.
#include "common/StatusLine.h"
#include "config/FieldMapping.h"
#include "intake/DyeOrderRecord.h"
#include "intake/FaultMonitor.h"
#include "intake/ImportBuilder.h"
#include "intake/OrderDatabase.h"
#include "intake/Queries.h"
#include "intake/StagingGrid.h"
#include "tests/support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray field(const QByteArray& text, int width) {
    return text + QByteArray(width - text.size(), ' ');
}

// Rows of `fields` texts each, row r field f = "r.f" unless given.
DbRows rows(QList<QStringList> data, int lastField) {
    DbRows r;
    r.rows = std::move(data);
    r.lastField = lastField;
    return r;
}

// A fixed-layout row: 16 fields with the order number in field 1, output position 3,
// goods weight 4, code 8, recipe 10, weight 11, B01 14.
QStringList fixedRow(const QString& order, const QString& code, const QString& weight,
                     const QString& b01 = {}) {
    QStringList f(16);
    f[0] = QStringLiteral("1");
    f[1] = order;
    f[3] = QStringLiteral("P7");
    f[4] = QStringLiteral("250.5");
    f[8] = code;
    f[10] = QStringLiteral("1.25");
    f[11] = weight;
    f[14] = b01;
    return f;
}

} // namespace

class TestIntakeLogic : public QObject {
    Q_OBJECT
private slots:
    void mappedQuery_data() {
        QTest::addColumn<QString>("c1");
        QTest::addColumn<QString>("c2");
        QTest::addColumn<QString>("c3");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected"); // empty: no query
        const QString t = QStringLiteral("select * from orders where id = ");
        QTest::newRow("1 only") << "id"
                                << ""
                                << ""
                                << " A1 " << t + "'A1'";
        QTest::newRow("1+2") << "id"
                             << "kind"
                             << ""
                             << "A1" << t + "'A1' and kind = 2";
        QTest::newRow("1+2+3") << "id"
                               << "kind"
                               << "st"
                               << "A1" << t + "'A1' and kind = 2 and st = 'X'";
        QTest::newRow("1+3 no query") << "id"
                                      << ""
                                      << "st"
                                      << "A1"
                                      << "";
        QTest::newRow("2 only no query") << ""
                                         << "kind"
                                         << ""
                                         << "A1"
                                         << "";
        QTest::newRow("none") << ""
                              << ""
                              << ""
                              << "A1"
                              << "";
        QTest::newRow("apostrophe doubled") << "id"
                                            << ""
                                            << ""
                                            << "O'REILLY-7" << t + "'O''REILLY-7'";
        QTest::newRow("injection stays a value") << "id"
                                                 << ""
                                                 << ""
                                                 << "x' or '1'='1" << t + "'x'' or ''1''=''1'";
        QTest::newRow("percent kept") << "id"
                                      << "kind"
                                      << ""
                                      << "A%1%2" << t + "'A%1%2' and kind = 2";
    }
    void mappedQuery() {
        QFETCH(QString, c1);
        QFETCH(QString, c2);
        QFETCH(QString, c3);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        FieldMapping m;
        m.setEntry(FieldMapping::TableName, QStringLiteral(" orders "));
        m.setEntry(FieldMapping::Condition1Field, c1);
        m.setEntry(FieldMapping::Condition1Value, QStringLiteral("unused"));
        m.setEntry(FieldMapping::Condition2Field, c2);
        m.setEntry(FieldMapping::Condition2Value, QStringLiteral(" 2 "));
        m.setEntry(FieldMapping::Condition3Field, c3);
        m.setEntry(FieldMapping::Condition3Value, QStringLiteral("'X'")); // carries its own quotes
        const auto q = Queries::mapped(m, key);
        QCOMPARE(q ? q->shown : QString(), expected);
        // The key is sent as a bound value, never within the text.
        if (q)
            QCOMPARE(q->values, QStringList{key.trimmed()});
    }

    void generatedQuery_data() {
        QTest::addColumn<QString>("c2");
        QTest::addColumn<QString>("c3");
        QTest::addColumn<QString>("searchBox");
        QTest::addColumn<QString>("expected");
        QTest::newRow("1 alone takes entry 21") << ""
                                                << ""
                                                << "ignored"
                                                << "select * from orders where id = 'A1'";
        QTest::newRow("1+2 takes the search box")
            << "kind"
            << ""
            << "K9"
            << "select * from orders where id = 'K9' and kind = 2";
        QTest::newRow("1+2 empty search box") << "kind"
                                              << ""
                                              << ""
                                              << "select * from orders where id = '' and kind = 2";
        QTest::newRow("1+2+3") << "kind"
                               << "st"
                               << " K9 "
                               << "select * from orders where id = 'K9' and kind = 2 and st = 3";
        QTest::newRow("3 without 2") << ""
                                     << "st"
                                     << "K9"
                                     << "";
    }
    void generatedQuery() {
        QFETCH(QString, c2);
        QFETCH(QString, c3);
        QFETCH(QString, searchBox);
        QFETCH(QString, expected);
        FieldMapping m;
        m.setEntry(FieldMapping::TableName, QStringLiteral("orders"));
        m.setEntry(FieldMapping::Condition1Field, QStringLiteral("id"));
        m.setEntry(FieldMapping::Condition1Value, QStringLiteral(" A1 "));
        m.setEntry(FieldMapping::Condition2Field, c2);
        m.setEntry(FieldMapping::Condition2Value, QStringLiteral("2"));
        m.setEntry(FieldMapping::Condition3Field, c3);
        m.setEntry(FieldMapping::Condition3Value, QStringLiteral("3"));
        QCOMPARE(Queries::generated(m, searchBox).value_or(QString()), expected);
        FieldMapping empty;
        QVERIFY(!Queries::generated(empty, searchBox).has_value());
    }

    void directAndPollingQueries_data() {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        QTest::newRow("direct 2") << Queries::direct(QStringLiteral(" A-1 "), 2).shown
                                  << "select * from vantrell where id_no = 'A-1' and prod_type = 2";
        QTest::newRow("direct 1 quoted")
            << Queries::direct(QStringLiteral("O'R"), 1).shown
            << "select * from vantrell where id_no = 'O''R' and prod_type = 1";
        QTest::newRow("waiting")
            << Queries::pollWaiting(QStringLiteral(" vantrell "), 4).shown
            << "select * from vantrell where step_no = 44 and note3 = '4' and prod_type = 2";
        QTest::newRow("lines")
            << Queries::pollLines(QStringLiteral("vantrell"), 1, QStringLiteral("a'b")).shown
            << "select * from vantrell where step_no = 44 and note3 = '1' and id_no = 'a''b' "
               "and prod_type = 2";
        QTest::newRow("update")
            << Queries::pollUpdate(QStringLiteral("vantrell"), 5, QStringLiteral("X1")).shown
            << "UPDATE vantrell SET STEP_NO = 45 where step_no = 44 and id_no = 'X1' and "
               "prod_type = 2 and note3 = '5'";
    }
    void directAndPollingQueries() {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }

    void odbcValueQuoting_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "dsuser"
                               << "dsuser";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("semicolon") << "a;DSN=x"
                                   << "{a;DSN=x}";
        QTest::newRow("brace doubled") << "p}w"
                                       << "{p}}w}";
        QTest::newRow("open brace") << "{x"
                                    << "{{x}";
    }
    void odbcValueQuoting() {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QCOMPARE(odbcValue(value), expected);
    }

    void mappingFilesRoundTrip() {
        WorkDir dir;
        FieldMapping m;
        QVERIFY(m.load(dir.path()).ok()); // missing files are created empty
        QCOMPARE(dir.read(QStringLiteral("set2_1.txt")).size(), 0);
        QCOMPARE(m.fieldCount(), 0);
        m.setText(0, QStringLiteral(" 15 "));
        m.setText(1, QStringLiteral("1"));
        m.setText(4, QStringLiteral("spare"));
        m.setEntry(22, QStringLiteral("  <0><1> kept "));
        m.setEntry(59, QStringLiteral("單號"));
        m.setQuery(QStringLiteral("select ") + QString(120, QLatin1Char('x')));
        QVERIFY(m.save(dir.path()).ok());
        QCOMPARE(dir.read(QStringLiteral("set2_1.txt")).size(), 500);
        QCOMPARE(dir.read(QStringLiteral("set2_2.txt")).size(), 6000);
        QCOMPARE(dir.read(QStringLiteral("set2.txt")).size(), 100);
        QCOMPARE(dir.read(QStringLiteral("set2_2.txt")).mid(59 * 100, 4),
                 QByteArray("\xB3\xE6\xB8\xB9"));
        FieldMapping back;
        QVERIFY(back.load(dir.path()).ok());
        QCOMPARE(back.text(0), QStringLiteral("15"));
        QCOMPARE(back.fieldCount(), 15);
        QCOMPARE(back.text(4), QStringLiteral("spare"));
        QCOMPARE(back.entry(22), QStringLiteral("<0><1> kept"));
        QCOMPARE(back.entry(59), QStringLiteral("單號"));
        QCOMPARE(back.query().size(), 100); // the stored query is cut at 100 bytes
    }

    void fieldCountAndColumns_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("beyond");
        QTest::newRow("blank") << "" << 0 << false;
        QTest::newRow("letters") << "abc" << 0 << false;
        QTest::newRow("negative") << "-3" << 0 << false;
        QTest::newRow("5.7") << "5.7" << 5 << false;
        QTest::newRow("1000") << "1000" << 1000 << false;
        QTest::newRow("5000") << "5000" << 1000 << true;
    }
    void fieldCountAndColumns() {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(bool, beyond);
        FieldMapping m;
        m.setText(0, text);
        QCOMPARE(m.fieldCount(), count);
        QCOMPARE(m.fieldCountBeyondBound(), beyond);
        m.setEntry(3, text);
        QCOMPARE(m.column(3), beyond ? 0 : count);
    }

    void gridShowsRowsAndGrows() {
        StagingGrid g(2);
        ImportBuilder::showRows(g, rows({{"a", " ", "c"}, {"d", "e", ""}, {"g", "h", "i"}}, 2));
        QCOMPARE(g.rows(), 5); // header, 3 rows, one blank numbered row
        QCOMPARE(g.cols(), 4);
        QCOMPARE(g.text(0, 0), QString());
        QCOMPARE(g.text(0, 1), QStringLiteral("1"));
        QCOMPARE(g.text(0, 3), QStringLiteral("3"));
        QCOMPARE(g.text(1, 0), QStringLiteral("1"));
        QCOMPARE(g.text(4, 0), QStringLiteral("4"));
        QCOMPARE(g.text(1, 2), QString()); // a blank value leaves its cell empty
        QCOMPARE(g.text(3, 3), QStringLiteral("i"));
        QCOMPARE(g.text(4, 1), QString());
        // A smaller search after a larger one shows nothing of the first.
        g.reset();
        ImportBuilder::showRows(g, rows({{"x", "y", "z"}}, 2));
        QCOMPARE(g.rows(), 3);
        QCOMPARE(g.text(3, 3), QString());
        // Writes past the grid are ignored; the grid never shrinks.
        g.set(10, 10, QStringLiteral("no"));
        QCOMPARE(g.text(10, 10), QString());
        ImportBuilder::showRows(g, rows({{"x"}}, 0));
        QCOMPARE(g.cols(), 4);
        StagingGrid zero(0);
        ImportBuilder::showRows(zero, rows({}, 0));
        QCOMPARE(zero.cols(), 2);
        QCOMPARE(zero.rows(), 2);
    }

    void fixedJobRecord_data() {
        QTest::addColumn<bool>("mainWindow");
        QTest::newRow("settings window: B01 blank") << false;
        QTest::newRow("main window: B01 from column 15") << true;
    }
    void fixedJobRecord() {
        QFETCH(bool, mainWindow);
        StagingGrid g;
        const DbRows r = rows({fixedRow("ORD-1", "R-1", "12.5", "b1"), fixedRow("", "GAP", "1"),
                               fixedRow("ORD-1", "R-3", "7", "b3")},
                              15);
        ImportBuilder::showRows(g, r);
        FieldMapping m;
        const auto b = ImportBuilder::buildJob(g, 3, 15, {true, mainWindow}, m, 45000.5);
        QVERIFY(b.outcome.ok());
        QCOMPARE(b.rowsUsed, 2);
        QCOMPARE(b.jobs.value(0).OrderNo, QStringLiteral("ORD-1"));
        QCOMPARE(b.jobs.value(0).OutputPos, QStringLiteral("P7"));
        QCOMPARE(b.jobs.value(0).Code[1], QStringLiteral("R-1"));
        QCOMPARE(b.jobs.value(0).Code[2], QString()); // the gap keeps its element blank
        QCOMPARE(b.jobs.value(0).Code[3], QStringLiteral("R-3"));
        QCOMPARE(b.jobs.value(0).Weight[3], QStringLiteral("7"));
        QCOMPARE(b.jobs.value(0).Code[4], QString());
        QCOMPARE(b.jobs.value(0).B01[1], mainWindow ? QStringLiteral("b1") : QString());
        QCOMPARE(b.jobs.value(0).Created, 45000.5);
    }

    void fixedLayoutNeedsItsColumns_data() {
        QTest::addColumn<int>("lastField");
        QTest::addColumn<bool>("ok");
        QTest::newRow("fields 0..10: column 12 missing") << 10 << false;
        QTest::newRow("fields 0..11: enough") << 11 << true;
        QTest::newRow("fields 0..0") << 0 << false;
    }
    void fixedLayoutNeedsItsColumns() {
        QFETCH(int, lastField);
        QFETCH(bool, ok);
        StagingGrid g;
        QStringList row = fixedRow("O", "C", "1").mid(0, lastField + 1);
        ImportBuilder::showRows(g, rows({row}, lastField));
        FieldMapping m;
        const auto b = ImportBuilder::buildJob(g, 1, lastField, {true, true}, m, 0);
        QCOMPARE(b.outcome.ok(), ok);
        // Column 15 beyond the fields read reads blank in the main window.
        if (ok)
            QCOMPARE(b.jobs.value(0).B01[1], QString());
    }

    void mappedJobRecord() {
        StagingGrid g;
        ImportBuilder::showRows(
            g, rows({{"K1", "A", "100", "DYE-1", "1.5", "T", "n1", "x2", "x3", "x4", "x5"},
                     {"K1", "B", "", "DYE-2", "2.5", "T", "n2", "y2", "", "", ""}},
                    10));
        FieldMapping m;
        for (int e = 0; e <= 10; ++e)
            m.setEntry(e, QString::number(e + 1));
        m.setEntry(5, QString()); // time not mapped
        const auto b = ImportBuilder::buildJob(g, 2, 10, {false, false}, m, 1.0);
        QVERIFY(b.outcome.ok());
        QCOMPARE(b.rowsUsed, 2);
        QCOMPARE(b.jobs.value(0).OrderNo, QStringLiteral("K1"));
        QCOMPARE(b.jobs.value(0).OutputPos, QStringLiteral("B")); // the last row's value stands
        QCOMPARE(b.jobs.value(0).WaterAdd, QString());            // the last row's blank cell
        QCOMPARE(b.jobs.value(0).Code[2], QStringLiteral("DYE-2"));
        QCOMPARE(b.jobs.value(0).Weight[1], QStringLiteral("1.5"));
        QCOMPARE(b.jobs.value(0).B01[2], QStringLiteral("n2"));
        QCOMPARE(b.jobs.value(0).B02, QStringLiteral("y2"));
        QCOMPARE(b.jobs.value(0).B05, QString());
        // A mapped column beyond the fields read is a configuration fault.
        m.setEntry(10, QStringLiteral("13"));
        QVERIFY(!ImportBuilder::buildJob(g, 2, 10, {false, false}, m, 1.0).outcome.ok());
        // Entry 0 unmapped: column 0 holds the row number, so every row counts.
        m.setEntry(10, QString());
        m.setEntry(0, QString());
        QCOMPARE(ImportBuilder::buildJob(g, 2, 10, {false, false}, m, 1.0).rowsUsed, 2);
    }

    // An order of more than ten lines becomes consecutive job records; the dye order
    // record still stops at its last slot.
    void longOrdersBecomeConsecutiveRecords() {
        QList<QStringList> data;
        for (int i = 1; i <= 17; ++i)
            data << fixedRow("LONG", QStringLiteral("C%1").arg(i), QStringLiteral("%1").arg(i));
        StagingGrid g;
        ImportBuilder::showRows(g, rows(data, 15));
        FieldMapping m;
        const auto job = ImportBuilder::buildJob(g, 17, 15, {true, false}, m, 0);
        QCOMPARE(job.rowsUsed, 17);
        QCOMPARE(job.jobs.size(), 2);
        QCOMPARE(job.jobs[0].Code[10], QStringLiteral("C10"));
        QCOMPARE(job.jobs[1].OrderNo, QStringLiteral("LONG"));
        QCOMPARE(job.jobs[1].Code[1], QStringLiteral("C11"));
        QCOMPARE(job.jobs[1].Weight[7], QStringLiteral("17"));
        QCOMPARE(job.jobs[1].Code[8], QString());
        const auto dye = ImportBuilder::buildDyeOrder(g, 17, 15, true, m);
        QCOMPARE(dye.rowsUsed, 15);
        QCOMPARE(dye.linesLeftOut, 2);
        QCOMPARE(dye.record.DyeCode[15], QStringLiteral("C15"));
    }

    void dyeOrderRecordByteExact() {
        StagingGrid g;
        ImportBuilder::showRows(
            g, rows({fixedRow("單號1", "RED-5", "3.25"), fixedRow("單號1", "BLU", "0.5")}, 15));
        FieldMapping m;
        const auto b = ImportBuilder::buildDyeOrder(g, 2, 15, true, m);
        QVERIFY(b.outcome.ok());
        const QByteArray r = b.record.encode();
        QCOMPARE(r.size(), 932);
        QCOMPARE(r.mid(0, 30), field("\xB3\xE6\xB8\xB9"
                                     "1",
                                     30));
        QCOMPARE(r.mid(30, 6), field("P7", 6));
        QCOMPARE(r.mid(36, 42), QByteArray(42, ' ')); // note 2, note 3, code
        QCOMPARE(r.mid(78, 10), field("250.5", 10));
        QCOMPARE(r.mid(88, 6), field("10", 6));
        QCOMPARE(r.mid(94, 30), QByteArray(30, ' ')); // total weight, material
        QCOMPARE(r.mid(124, 20), field("RED-5", 20));
        QCOMPARE(r.mid(144, 20), field("BLU", 20));
        QCOMPARE(r.mid(164, 20), QByteArray(20, ' '));
        QCOMPARE(r.mid(424, 8), field("1.25", 8));
        QCOMPARE(r.mid(544, 9), field("3.25", 9));
        QCOMPARE(r.mid(553, 9), field("0.5", 9));
        QCOMPARE(r.mid(679, 251), QByteArray(251, ' '));
        QCOMPARE(r.mid(930), QByteArray("\r\n"));
        QCOMPARE(monthlyDyeOrderFileName(QDate(2026, 12, 1)), QStringLiteral("G202612.666"));
        QCOMPARE(monthlyDyeOrderFileName(QDate(2027, 3, 31)), QStringLiteral("G202703.666"));
    }

    void mappedDyeOrderRecord() {
        StagingGrid g;
        QStringList row;
        for (int f = 0; f < 13; ++f)
            row << QStringLiteral("v%1").arg(f);
        ImportBuilder::showRows(g, rows({row}, 12));
        FieldMapping m;
        for (int e = 40; e <= 52; ++e)
            m.setEntry(e, QString::number(e - 39));
        const auto b = ImportBuilder::buildDyeOrder(g, 1, 12, false, m);
        QVERIFY(b.outcome.ok());
        const DyeOrderRecord& d = b.record;
        QCOMPARE(d.OrderNo, QStringLiteral("v0"));
        QCOMPARE(d.Material, QStringLiteral("v8"));
        QCOMPARE(d.DyeCode[1], QStringLiteral("v9"));
        QCOMPARE(d.Weight[1], QStringLiteral("v11"));
        QCOMPARE(d.Reserve, QStringLiteral("v12"));
        m.setEntry(40, QStringLiteral("20"));
        QVERIFY(!ImportBuilder::buildDyeOrder(g, 1, 12, false, m).outcome.ok());
    }

    void faultReportedOnceWithCount() {
        StatusLine status;
        QSignalSpy reports(&status, &StatusLine::reported);
        FaultMonitor f(status);
        const QDateTime t0(QDate(2026, 5, 4), QTime(8, 0, 0));
        for (int i = 0; i < 5; ++i)
            f.fault(QStringLiteral("連線失敗"), t0.addSecs(i));
        QCOMPARE(reports.count(), 1);
        QCOMPARE(f.count(), 5);
        QVERIFY(f.text().contains(QStringLiteral("2026-05-04 08:00:00")));
        QVERIFY(f.text().contains(QStringLiteral("5")));
        f.fault(QStringLiteral("other"), t0.addSecs(9)); // a new fault is a new report
        QCOMPARE(reports.count(), 2);
        QCOMPARE(f.count(), 1);
        f.success();
        QCOMPARE(f.text(), QString());
        QCOMPARE(status.text(), QString()); // its report is taken off the status line
        f.fault(QStringLiteral("x"), t0);
        status.report(QStringLiteral("someone else"));
        f.success();
        QCOMPARE(status.text(), QStringLiteral("someone else")); // another report stays
    }
};

QTEST_GUILESS_MAIN(TestIntakeLogic)
#include "test_intake_logic.moc"
