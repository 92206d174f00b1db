#include "app/Station.h"
#include "config/SettingsFile.h"
#include "devices/MemorySerialPort.h"
#include "devices/TicketQueue.h"
#include "history/Form5.h"
#include "history/Form5Charts.h"
#include "history/HistoryTableModel.h"
#include "tests/history/HistoryFiles.h"
#include "tests/support/TestSupport.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QHorizontalBarSeries>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <mutex>

namespace {

void writeStation(const WorkDir& w, const QString& language) {
    StationSettings s;
    s.setText(Setting::Language, language);
    QVERIFY(SettingsFile::save(w.file(QStringLiteral("set.txt")), s).ok());
    QDir(w.path()).mkpath(QStringLiteral("data"));
    w.write(QStringLiteral("data/DATE_202403.txt"),
            historyFile({{"A-1", "2024/03/02 09:05:07", {{"R-101", "1000"}, {"Y-7", "5.5"}}},
                         {"B-2", "2024/03/15 10:00:00", {{"R-101", "234.5"}, {"B-9", "2000"}}}}));
    w.write(QStringLiteral("data/DATE_202404.txt"),
            historyFile({{"C-3", "2024/04/01 08:00:00", {{"Y-7", "1"}}}}));
}

struct Fixture {
    WorkDir w;
    std::mutex ticketsMx;
    bool jam = false; // under ticketsMx
    QList<QList<TicketItem>> tickets;
    std::unique_ptr<Station> st;
    Form5* f = nullptr;

    explicit Fixture(const QString& language = QStringLiteral("0")) {
        writeStation(w, language);
        StationOptions o;
        o.workDir = w.path();
        o.portFactory = [] { return std::make_unique<MemorySerialPort>(); };
        o.ticketOutput = [this](const QList<TicketItem>& items) { // the ticket queue's thread
            std::lock_guard lk(ticketsMx);
            if (jam)
                return Outcome::failure(QStringLiteral("卡紙"));
            tickets << items;
            return Outcome::success();
        };
        st = std::make_unique<Station>(o);
        st->start();
        f = &st->form5();
        f->show();
    }
    void loadMarch() {
        f->loadMonth(QStringLiteral("DATE_202403.txt"));
        QTRY_VERIFY(!f->tableLoading() && f->table().rowCount() > 0);
    }
};

} // namespace

class TestHistoryViews : public QObject {
    Q_OBJECT
private slots:
    // The table follows the month of List2 and the search of Text1; a chosen order's ticket
    // goes through Printer01 with the record's own lines.
    void tableFollowsTheBrowserAndReprints() {
        Fixture x;
        {
            QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "log");
            c.setDatabaseName(x.w.file("data/weighings.db"));
            QVERIFY(c.open());
            QSqlQuery q(c);
            QVERIFY(q.exec("CREATE TABLE weighing_event (at TEXT, order_no TEXT, line INTEGER, "
                           "balance TEXT, event TEXT)"));
            QVERIFY(q.exec("INSERT INTO weighing_event VALUES "
                           "('2024-03-02T09:05:00+08:00', 'A-1', 2, 'small', 'accepted')"));
        }
        QSqlDatabase::removeDatabase("log");
        x.loadMarch();
        QCOMPARE(x.f->table().rowCount(), 4);
        QCOMPARE(x.f->table().cell(1, HistoryTableModel::Balance), QStringLiteral("小天平"));
        x.f->Text1->setText(QStringLiteral("B-2"));
        x.f->runSearch();
        QCOMPARE(x.f->table().rowCount(), 2);
        x.f->Table->selectRow(1);
        x.f->reprintSelected();
        QVERIFY(x.st->tickets().waitIdle(5000));
        {
            std::lock_guard lk(x.ticketsMx);
            QCOMPARE(x.tickets.size(), 1);
            const QList<TicketItem>& t = x.tickets.first();
            QCOMPARE(t.value(0).text, QStringLiteral("B-2"));
            QCOMPARE(t.value(1).text, QStringLiteral("R-101"));
            QCOMPARE(t.value(3).text, QStringLiteral("234.5"));
            QCOMPARE(t.value(5).text, QStringLiteral("B-9"));
            QCOMPARE(t.value(5).y, 850);
        }
        QVERIFY(x.f->TableStatus->text().contains(QStringLiteral("B-2")));

        // The printer fails on the queue's thread: the main window's status line says so.
        {
            std::lock_guard lk(x.ticketsMx);
            x.jam = true;
        }
        x.f->reprintSelected();
        QTRY_COMPARE(x.st->status().text(), QStringLiteral("單號 B-2 未列印: 卡紙"));

        // A failing printer is said, not hidden.
        x.f->setReprint([](const QByteArray&) { return Outcome::failure(QStringLiteral("卡紙")); });
        x.f->reprintSelected();
        QVERIFY(x.f->TableStatus->text().contains(QStringLiteral("卡紙")));
    }

    // Export files hold exactly what the model makes of the rows shown; the charts show
    // the totals of those rows, largest first.
    void rangeExportAndCharts() {
        Fixture x;
        x.f->loadRange(QStringLiteral("DATE_202404.txt"), QStringLiteral("DATE_202403.txt"));
        QTRY_VERIFY(!x.f->tableLoading() && x.f->table().rowCount() == 5);
        x.f->exportTable();
        x.f->exportTotals();
        QCOMPARE(x.w.read(QStringLiteral("export/table_202403-202404.csv")),
                 x.f->table().tableCsv());
        QVERIFY(
            x.w.read(QStringLiteral("export/totals_202403-202404.csv")).startsWith("\xEF\xBB\xBF"));
        x.f->exportChart();
        QVERIFY(x.w.read(QStringLiteral("export/chart_202403-202404.png")).startsWith("\x89PNG"));

        // The window sorts on a worker thread; the rows follow once it is done.
        x.f->Table->sortByColumn(HistoryTableModel::Actual, Qt::DescendingOrder);
        QTRY_VERIFY(!x.f->table().sorting());
        QCOMPARE(x.f->table().cell(0, HistoryTableModel::Actual), QStringLiteral("2000"));
        QCOMPARE(x.f->table().cell(4, HistoryTableModel::Actual), QStringLiteral("1"));

        x.f->Tabs->setCurrentIndex(2);
        auto* series =
            qobject_cast<QHorizontalBarSeries*>(x.f->Charts->CodeChart->chart()->series().value(0));
        QVERIFY(series);
        // Drawn bottom to top: the largest (B-9, 2 kg) is the last bar.
        auto* axis = qobject_cast<QBarCategoryAxis*>(series->attachedAxes().value(0));
        QCOMPARE(axis->categories(), (QStringList{"Y-7", "R-101", "B-9"}));
        QCOMPARE(series->barSets().value(0)->at(2), 2.0);
        QCOMPARE(series->barSets().value(0)->at(1), 1.2345);
        QCOMPARE(series->barSets().value(0)->at(0), 0.0065);
        // A filter redraws the charts of the page shown.
        x.f->TextFilter->setText(QStringLiteral("Y-7"));
        series =
            qobject_cast<QHorizontalBarSeries*>(x.f->Charts->CodeChart->chart()->series().value(0));
        QCOMPARE(series->barSets().value(0)->count(), 1);
    }

    // A clicked month becomes the range of months; the charts, and their picture, name the
    // months and days they cover.
    void rangeFollowsTheMonthAndChartsNameTheirPeriod() {
        Fixture x;
        QListWidget* months = x.f->List2;
        const QRect march =
            months->visualItemRect(months->findItems("DATE_202403.txt", Qt::MatchExactly)[0]);
        QTest::mouseClick(months->viewport(), Qt::LeftButton, {}, march.center());
        QTRY_VERIFY(!x.f->tableLoading() && x.f->table().rowCount() == 4);
        QCOMPARE(x.f->MonthFrom->currentText(), QStringLiteral("DATE_202403.txt"));
        QCOMPARE(x.f->MonthTo->currentText(), QStringLiteral("DATE_202403.txt"));
        x.f->Tabs->setCurrentIndex(2);
        QCOMPARE(x.f->Charts->Period->text(), QStringLiteral("202403  2024/03/02 - 2024/03/15"));

        x.f->MonthTo->setCurrentIndex(x.f->MonthTo->findText("DATE_202404.txt"));
        QTest::mouseClick(x.f->LoadRange, Qt::LeftButton);
        QTRY_VERIFY(!x.f->tableLoading() && x.f->table().rowCount() == 5);
        QCOMPARE(x.f->Charts->Period->text(),
                 QStringLiteral("202403-202404  2024/03/02 - 2024/04/01"));
        // The exported picture is a picture of the charts with their period on top.
        QVERIFY(x.f->Charts->isAncestorOf(x.f->Charts->Period) && x.f->Charts->Period->isVisible());
        QCOMPARE(x.f->Charts->Period->y(), 0);
    }

    void newTextsInSimplified() {
        Fixture x(QStringLiteral("1"));
        QCOMPARE(x.f->table().headers().value(0), QStringLiteral("单号"));
        QCOMPARE(x.f->Reprint->text(), QStringLiteral("重印单据"));
        QCOMPARE(x.f->Tabs->tabText(1), QStringLiteral("表格"));
        QCOMPARE(x.f->Command1->text(), QStringLiteral("統計當前用量")); // the window's own wording
        x.loadMarch();
        x.f->Table->selectRow(0);
        x.f->reprintSelected();
        QCOMPARE(x.f->TableStatus->text(), QStringLiteral("已重印单号 A-1"));
    }
};

QTEST_MAIN(TestHistoryViews)
#include "test_history_views.moc"
