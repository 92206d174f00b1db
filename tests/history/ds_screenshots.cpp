// Shows every window of the station in turn, in a temporary working folder, and saves a
// PNG of each, then the main window in every state of a weighed line (container, zeroing,
// countdown, too little, too much, within, settling, accepted, end):
// ds_screenshots <folder> <language> <WxH>. Run by scripts/screenshots.sh under Xvfb.
// Every file name carries the language and the size. A window that does not fit, or stands
// partly off the screen, is said on stderr and fails the run.
#include "app/DiagnosticsWindow.h"
#include "app/ExtensionsWindow.h"
#include "app/Station.h"
#include "config/SettingsFile.h"
#include "devices/MemorySerialPort.h"
#include "devices/TicketPrinter.h"
#include "history/Form5.h"
#include "history/HistoryTableModel.h"
#include "jobs/JobFile.h"
#include "station/Form3.h"
#include "station/Form7.h"
#include "tests/history/HistoryFiles.h"
#include "weighing/Sequencer.h"
#include "weighing/WeighingPanelModel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QPrinter>
#include <QRegularExpression>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>

namespace {

// Drives the sequencer by hand through one order of three lines and saves the main window
// in each state of a line.
template <typename Save> bool weighingStates(Station& station, const QRect& screen, Save save) {
    station.timers().Timer1.setEnabled(false); // the readings are set here
    JobRecord job;
    job.OrderNo = QStringLiteral("DEMO-003");
    const char* const lines[3][2] = {{"R-101", "12.5"}, {"Y-7", "5.67"}, {"B-9", "1500"}};
    for (int i = 0; i < 3; ++i) {
        job.Code[size_t(i + 1)] = QString::fromLatin1(lines[i][0]);
        job.Weight[size_t(i + 1)] = QString::fromLatin1(lines[i][1]);
        job.B01[size_t(i + 1)] = QStringLiteral("B-%1").arg(i + 1);
    }
    if (!AppendJob(station.path(QStringLiteral("START_DISPEN.txt")), job).ok())
        return false;
    station.lightMap().setCode(12, QStringLiteral("R-101"));
    station.lightMap().setCode(47, QStringLiteral("Y-7"));
    BalanceReadings& r = station.readings();
    r.setLive(Balance::Large, true);
    r.setLive(Balance::Small, true);
    station.status().report(QStringLiteral("天平連接埠 MSComm2 (/dev/ttyS1) 中斷, 等待重新連線"));
    station.status().report(QStringLiteral("天平連接埠 MSComm2 (/dev/ttyS1) 已重新連線"));
    station.status().report(QStringLiteral("單號 DEMO-003 已排入計量, 3 行 (START_DISPEN.txt)"));

    Form3& f3 = station.form3();
    f3.move(screen.topLeft());
    f3.resize(screen.size());
    f3.show();
    const WeighingModel& m = station.weighing();
    auto tick = [&](int n) {
        for (int i = 0; i < n; ++i)
            station.sequencer().tick();
    };
    auto until = [&](int state) {
        for (int i = 0; i < 200 && m.State != state; ++i) {
            station.sequencer().tick();
            if (getenv("DS_SHOT_DEBUG"))
                std::fprintf(stderr, "  tick: state %d line %d\n", m.State, m.Line);
        }
        return m.State == state;
    };
    auto shot = [&](const char* state) {
        if (getenv("DS_SHOT_DEBUG"))
            std::fprintf(stderr, "%s: state %d line %d\n", state, m.State, m.Line);
        return save(&f3, QStringLiteral("Form3_%1").arg(QLatin1String(state)));
    };
    bool ok = true;
    r.setCaption(Balance::Small, QStringLiteral("35.20")); // an empty container, not zeroed yet
    ok &= until(SequencerState::WaitZero) && shot("1_container");
    station.panel().zeroStarted(Balance::Small);
    ok &= shot("2_zeroing");
    station.panel().zeroFinished(true);
    r.setCaption(Balance::Small, QStringLiteral("0.00"));
    ok &= until(SequencerState::Weigh);
    r.setCaption(Balance::Small, QStringLiteral("8.40"));
    tick(1);
    ok &= shot("4_too_little");
    r.setCaption(Balance::Small, QStringLiteral("13.10"));
    tick(1);
    ok &= shot("5_too_much");
    r.setCaption(Balance::Small, QStringLiteral("12.51"));
    tick(1);
    ok &= shot("6_within");
    tick(9);
    ok &= shot("7_settling");
    ok &= until(SequencerState::NextLine) && shot("8_accepted");
    r.setCaption(Balance::Small,
                 QStringLiteral("0.00")); // the container taken off: the next one reads 0
    ok &= until(SequencerState::ZeroAlready);
    tick(12);
    ok &= shot("3_countdown");
    ok &= until(SequencerState::Weigh);
    r.setCaption(Balance::Small, QStringLiteral("5.66"));
    ok &= until(SequencerState::NextLine);
    r.setCaption(Balance::Small, QStringLiteral("0.00"));
    r.setCaption(Balance::Large, QStringLiteral("0.0"));
    ok &= until(SequencerState::Weigh);
    r.setCaption(Balance::Large, QStringLiteral("1500.1"));
    ok &= until(SequencerState::Finish);
    tick(2);
    ok &= shot("9_end");
    ok &= until(SequencerState::Idle);
    tick(3);
    ok &= shot("10_summary");
    f3.hide();
    return ok;
}

} // namespace

// The history window's table and charts over both months, and a reprinted ticket. Returns
// the number of pictures that could not be made.
static int form5Pages(Form5& f, const QString& out, const QString& tag) {
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
    const QString page = QStringLiteral("Form5_%1_%2.png");
    f.Tabs->setCurrentIndex(1);
    f.Table->sortByColumn(4, Qt::AscendingOrder);
    while (f.table().sorting() && waited.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    f.Table->selectRow(0);
    settle();
    f.reprintSelected();
    settle();
    failed += !f.grab().save(QDir(out).filePath(page.arg(QStringLiteral("table"), tag)));
    f.Tabs->setCurrentIndex(2);
    settle();
    failed += !f.grab().save(QDir(out).filePath(page.arg(QStringLiteral("chart"), tag)));
    f.Tabs->setCurrentIndex(0);
    std::printf("%s\n", qPrintable(f.findChild<QLabel*>(QStringLiteral("TableStatus"))->text()));
    return failed;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: ds_screenshots <folder> <language> <WxH>\n");
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
    // "lang1_1366x768": in every file name, so that no run overwrites another's pictures.
    const QString tag = QStringLiteral("lang%1_%2").arg(language, QString::fromLocal8Bit(argv[3]));
    QDir().mkpath(out);
    QTemporaryDir work;

    StationSettings s;
    s.setText(Setting::Language, language);
    s.setText(Setting::BalancePort1, QStringLiteral("1"));
    s.setText(Setting::BalancePort2, QStringLiteral("2"));
    s.setText(Setting::LightPort, QStringLiteral("3"));
    s.setText(Setting::SetType, QStringLiteral("1"));
    s.setText(Setting::WeightDecision, QStringLiteral("1000"));
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
    const QString ticketPdf = QDir(out).filePath(QStringLiteral("ticket_%1.pdf").arg(tag));
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
    station.extensionsWindow().setObjectName(QStringLiteral("ExtensionsWindow"));
    station.diagnosticsWindow().setObjectName(QStringLiteral("DiagnosticsWindow"));
    windows << &station.extensionsWindow() << &station.diagnosticsWindow();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    int saved = 0;
    bool placed = true;
    auto save = [&](QWidget* w, const QString& name) {
        for (int i = 0; i < 10; ++i)
            QApplication::processEvents();
        const QString file = QDir(out).filePath(QStringLiteral("%1_%2.png").arg(name, tag));
        if (!screen.contains(w->frameGeometry())) {
            const QRect g = w->frameGeometry();
            std::fprintf(stderr, "%s: %dx%d at %d,%d is not whole on the screen %dx%d\n",
                         qPrintable(name), g.width(), g.height(), g.x(), g.y(), screen.width(),
                         screen.height());
            placed = false;
        }
        if (!w->grab().save(file))
            return false;
        std::printf("%s\n", qPrintable(file));
        return true;
    };
    for (QWidget* w : windows) {
        // The box/barrel dialog places itself, as it does when the line boxes call it.
        if (w != &station.form7())
            w->move(20, 20);
        w->show();
        if (auto* f5 = qobject_cast<Form5*>(w))
            f5->loadMonth(QStringLiteral("DATE_202403.txt"));
        saved += save(w, w->objectName()) ? 1 : 0;
        if (auto* f5 = qobject_cast<Form5*>(w))
            saved -= form5Pages(*f5, out, tag);
        w->hide();
    }
    if (saved != windows.size() || saved == 0)
        return 1;
    return weighingStates(station, screen, save) && placed ? 0 : 1;
}
