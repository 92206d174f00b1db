// Shows every window of the station in turn, in a temporary working folder, and saves a
// PNG of each: ds_screenshots <folder> <language>. Run by scripts/screenshots.sh under Xvfb.
#include "app/Station.h"
#include "config/SettingsFile.h"
#include "devices/MemorySerialPort.h"
#include "devices/TicketPrinter.h"
#include "history/Form5.h"
#include "history/HistoryTableModel.h"
#include "tests/history/HistoryFiles.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QPrinter>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>

// The history window's table and charts over both months, and a reprinted ticket. Returns
// the number of pictures that could not be made.
static int form5Pages(Form5& f, const QString& out, const QString& language) {
    int failed = 0;
    auto settle = [] {
        for (int i = 0; i < 10; ++i)
            QApplication::processEvents();
    };
    f.loadRange(QStringLiteral("DATE_202403.txt"), QStringLiteral("DATE_202404.txt"));
    QElapsedTimer waited;
    waited.start();
    while (f.tableLoading() && waited.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const QString page = QStringLiteral("Form5_%1_lang%2.png");
    f.Tabs->setCurrentIndex(1);
    f.Table->sortByColumn(4, Qt::AscendingOrder);
    while (f.table().sorting() && waited.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    f.Table->selectRow(0);
    settle();
    f.reprintSelected();
    settle();
    failed += !f.grab().save(QDir(out).filePath(page.arg(QStringLiteral("table"), language)));
    f.Tabs->setCurrentIndex(2);
    settle();
    failed += !f.grab().save(QDir(out).filePath(page.arg(QStringLiteral("chart"), language)));
    f.Tabs->setCurrentIndex(0);
    std::printf("%s\n", qPrintable(f.findChild<QLabel*>(QStringLiteral("TableStatus"))->text()));
    return failed;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: ds_screenshots <folder> <language>\n");
        return 2;
    }
    // Without a CJK font every Chinese text shows as boxes: no picture is worth taking.
    if (QFontDatabase::families(QFontDatabase::TraditionalChinese).isEmpty() ||
        QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty()) {
        std::fprintf(stderr, "no Chinese font installed (fonts-wqy-microhei)\n");
        return 1;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString language = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);
    QTemporaryDir work;

    StationSettings s;
    s.setText(Setting::Language, language);
    s.setText(Setting::BalancePort1, QStringLiteral("1"));
    s.setText(Setting::BalancePort2, QStringLiteral("2"));
    s.setText(Setting::LightPort, QStringLiteral("3"));
    s.setText(Setting::SetType, QStringLiteral("1"));
    if (!SettingsFile::save(work.filePath(QStringLiteral("set.txt")), s).ok())
        return 1;
    QDir(work.path()).mkpath(QStringLiteral("data"));
    QFile month(work.filePath(QStringLiteral("data/DATE_202403.txt")));
    if (!month.open(QIODevice::WriteOnly) ||
        month.write(historyFile(
            {{"DEMO-001", "2024/03/02 09:05:07", {{"R-101", "12.34"}, {"Y-7", "5.67"}}},
             {"DEMO-002", "2024/03/15 14:20:00", {{"R-101", "1000"}, {"B-9", "234.5"}}}})) < 0)
        return 1;
    month.close();
    // A second month with more jobs and codes, for the table and the charts over a range.
    QByteArray april;
    for (int k = 0; k < 40; ++k)
        april += historyRecord(
            {"DEMO-1" + QByteArray::number(100 + k),
             "2024/04/" + QByteArray::number(1 + k % 28).rightJustified(2, '0') + " 10:00:00",
             {{"R-101", QByteArray::number(100 + k * 7)},
              {"Y-" + QByteArray::number(k % 6), QByteArray::number(20 + k)},
              {"B-9", "99.5"}}});
    QFile second(work.filePath(QStringLiteral("data/DATE_202404.txt")));
    if (!second.open(QIODevice::WriteOnly) || second.write(april) < 0)
        return 1;
    second.close();

    StationOptions o;
    o.workDir = work.path();
    o.portFactory = [] { return std::make_unique<MemorySerialPort>(); };
    // Printer01 prints into a PDF here, as it would on the default printer.
    const QString ticketPdf = QDir(out).filePath(QStringLiteral("ticket_lang%1.pdf").arg(language));
    o.ticketOutput = [&](const QList<TicketItem>& items) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(ticketPdf);
        return TicketPrinter::print(items, printer);
    };
    Station station(o);
    station.start();
    station.timers().Timer2.setEnabled(false); // the picture, not the weighing

    QList<QWidget*> windows;
    const QRegularExpression form(QStringLiteral("^Form\\d$"));
    for (QWidget* w : QApplication::topLevelWidgets())
        if (form.match(w->objectName()).hasMatch())
            windows << w;
    std::sort(windows.begin(), windows.end(),
              [](QWidget* a, QWidget* b) { return a->objectName() < b->objectName(); });
    int saved = 0;
    for (QWidget* w : windows) {
        w->move(20, 20);
        w->show();
        if (auto* f5 = qobject_cast<Form5*>(w))
            f5->loadMonth(QStringLiteral("DATE_202403.txt"));
        for (int i = 0; i < 10; ++i)
            QApplication::processEvents();
        const QString file =
            QDir(out).filePath(QStringLiteral("%1_lang%2.png").arg(w->objectName(), language));
        if (w->grab().save(file)) {
            std::printf("%s\n", qPrintable(file));
            ++saved;
        }
        if (auto* f5 = qobject_cast<Form5*>(w))
            saved -= form5Pages(*f5, out, language);
        w->hide();
    }
    return saved == windows.size() && saved > 0 ? 0 : 1;
}
