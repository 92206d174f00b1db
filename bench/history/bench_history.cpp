// A month of 10000 history records (16 MB): load and show, search by order number,
// search by day, usage totals, and how late a 200 ms Timer2 tick runs while months load.
// "bench_history day" times the day search alone.
#include "common/TextField.h"
#include "config/StationSettings.h"
#include "history/Form5.h"
#include "history/HistoryBrowser.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRecords = 10000;

QByteArray monthFile() {
    QByteArray all;
    all.reserve(qsizetype(kRecords) * 1600);
    for (int k = 0; k < kRecords; ++k) {
        QByteArray r(1600, ' ');
        TextField::put(r, 0, 50, QStringLiteral("ORD%1").arg(k, 6, 10, QLatin1Char('0')));
        const int day = 1 + k * 28 / kRecords;
        TextField::put(r, 480, 30,
                       QStringLiteral("2024/03/%1 10:%2:00")
                           .arg(day, 2, 10, QLatin1Char('0'))
                           .arg(k % 60, 2, 10, QLatin1Char('0')));
        for (int i = 0; i < 10; ++i) {
            TextField::put(r, 80 + 20 * i, 20,
                           QStringLiteral("DYE-%1").arg((k * 7 + i * 13) % 400));
            TextField::put(r, 280 + 10 * i, 10, QStringLiteral("%1.5").arg(i + 1));
            TextField::put(r, 380 + 10 * i, 10, QStringLiteral("%1.%2").arg(i + 1).arg(k % 100));
        }
        r[1598] = '\r';
        r[1599] = '\n';
        all += r;
    }
    return all;
}

struct Figures {
    std::vector<double> ms;
    void add(double v) { ms.push_back(v); }
    void print(const char* what, double goal) {
        std::sort(ms.begin(), ms.end());
        const double median = ms[ms.size() / 2], worst = ms.back();
        std::printf("%-28s median %7.2f ms  worst %7.2f ms  goal %5.0f ms  %s\n", what, median,
                    worst, goal, worst <= goal ? "ok" : "OVER");
    }
};

template <typename F> double timed(F&& f) {
    QElapsedTimer t;
    t.start();
    f();
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("data"));
    const QString name = QStringLiteral("DATE_202403.txt");
    {
        QFile f(dir.filePath(QStringLiteral("data/") + name));
        if (!f.open(QIODevice::WriteOnly) || f.write(monthFile()) != qint64(kRecords) * 1600)
            return 1;
    }
    StationSettings settings;
    HistoryBrowser browser(dir.path());
    Form5 form(browser, settings);
    form.show();
    QApplication::processEvents();

    // "bench_history day": only the day search with its display, after a search by order
    // number, over the month shown in the list and in the table.
    if (argc > 1 && QByteArray(argv[1]) == "day") {
        form.loadMonth(name);
        while (browser.loading() || form.tableLoading())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        Figures day;
        for (int i = 0; i < 21; ++i) {
            // From one job found to a day's jobs, as in the full run.
            form.Text1->setText(QStringLiteral("ORD004321"));
            form.runSearch();
            QApplication::processEvents();
            form.Text1->setText(QStringLiteral("##15"));
            day.add(timed([&] {
                form.runSearch();
                QApplication::processEvents();
            }));
            form.Text1->clear();
            form.runSearch();
            QApplication::processEvents();
        }
        day.print("search day (##15)", 10);
        return 0;
    }

    constexpr int kRuns = 7;
    Figures load, loadOnly, step, order, day, dayOnly, totals, totalsOnly;
    for (int i = 0; i < kRuns; ++i) {
        loadOnly.add(timed([&] { (void)browser.load(name); }));
        double longestStep = 0;
        load.add(timed([&] {
            form.loadMonth(name);
            while (browser.loading())
                longestStep = std::max(longestStep, timed([] { QApplication::processEvents(); }));
            QApplication::processEvents(); // painted
        }));
        step.add(longestStep);
        form.Text1->setText(QStringLiteral("  ORD004321 "));
        order.add(timed([&] {
            form.runSearch();
            QApplication::processEvents();
        }));
        dayOnly.add(timed([&] { browser.search(QStringLiteral("##15")); }));
        form.Text1->setText(QStringLiteral("##15"));
        day.add(timed([&] {
            form.runSearch();
            QApplication::processEvents();
        }));
        form.Text1->clear();
        form.runSearch();
        totalsOnly.add(timed([&] { (void)browser.totals(); }));
        totals.add(timed([&] {
            form.showTotals();
            QApplication::processEvents();
        }));
    }
    std::printf(
        "month: %d records, %lld bytes; day 15: %d jobs; totals: %d codes\n", kRecords,
        qint64(kRecords) * 1600,
        [&] {
            browser.search(QStringLiteral("##15"));
            return int(browser.matchCount());
        }(),
        int(browser.totals().size()));
    loadOnly.print("read and decode", 100);
    load.print("load and show", 100);
    step.print("longest load step", 50);
    order.print("search order number", 10);
    dayOnly.print("search day, logic only", 10);
    day.print("search day (##15)", 10);
    totalsOnly.print("usage totals, logic only", 10);
    totals.print("usage totals (month)", 10);

    // A 200 ms precise timer stands for Timer2; months are loaded and shown between its ticks.
    QTimer timer2;
    timer2.setTimerType(Qt::PreciseTimer);
    timer2.setInterval(200);
    QElapsedTimer clock;
    std::vector<double> late;
    qint64 last = -1;
    QObject::connect(&timer2, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            late.push_back(std::max(0.0, double(now - last) / 1e6 - 200.0));
        last = now;
    });
    QTimer loader;
    loader.setInterval(290);
    QObject::connect(&loader, &QTimer::timeout, [&] { form.loadMonth(name); });
    clock.start();
    timer2.start();
    loader.start();
    QTimer::singleShot(6000, &app, &QApplication::quit);
    app.exec();
    std::printf("Timer2 ticks while loading: %zu, latest %.2f ms (goal 50 ms) %s\n", late.size(),
                late.empty() ? 0.0 : *std::max_element(late.begin(), late.end()),
                !late.empty() && *std::max_element(late.begin(), late.end()) <= 50 ? "ok" : "OVER");
    return 0;
}
