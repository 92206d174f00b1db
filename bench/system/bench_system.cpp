// Whole-station figures: RemoveJob on a recipe store of 10000 recipes, start-up to a shown
// main window with those 10000 recipes, and the resident memory idle and with a month of
// 10000 history records loaded in the history window.
// Output lines: "<figure>  <value> <unit>  goal <= <goal> <unit>  met|MISSED".
#include "app/Station.h"
#include "history/Form5.h"
#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "station/Form3.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRecipes = 10000;
constexpr int kRecords = 10000;

int missed = 0;

void figure(const char* what, double value, const char* unit, double goal) {
    const bool met = value <= goal;
    missed += met ? 0 : 1;
    std::printf("%-44s %10.1f %-3s goal <= %7.0f %-3s %s\n", what, value, unit, goal, unit,
                met ? "met" : "MISSED");
    std::fflush(stdout);
}

double residentMb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

JobRecord recipe(int k) {
    JobRecord j;
    j.OrderNo = QStringLiteral("配方%1").arg(k, 5, 10, QLatin1Char('0'));
    for (int i = 1; i <= 1 + k % JobRecord::kLines; ++i) {
        j.Code[size_t(i)] = QStringLiteral("D%1").arg((k + i) % 120 + 1, 3, 10, QLatin1Char('0'));
        j.Weight[size_t(i)] = QString::number(1 + (k * i) % 900) + QStringLiteral(".25");
    }
    return j;
}

bool writeStore(const QString& path) {
    QByteArray all;
    all.reserve(qsizetype(kRecipes) * JobRecord::kLength);
    for (int k = 1; k <= kRecipes; ++k)
        all += recipe(k).encode();
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(all) == all.size();
}

bool writeMonth(const QString& dir, const QString& name) {
    QDir(dir).mkpath(QStringLiteral("data"));
    QByteArray all;
    all.reserve(qsizetype(kRecords) * HistoryRecord::kLength);
    for (int k = 0; k < kRecords; ++k) {
        HistoryRecord h;
        h.OrderNo = QStringLiteral("單號%1").arg(k);
        for (int i = 1; i <= 1 + k % 10; ++i) {
            h.Code[size_t(i)] =
                QStringLiteral("D%1").arg((k * 7 + i) % 400, 3, 10, QLatin1Char('0'));
            h.Target[size_t(i)] = QStringLiteral("12.34");
            h.Actual[size_t(i)] = QStringLiteral("12.35");
        }
        h.Completed = QDateTime(QDate(2024, 3, 1 + k * 28 / kRecords), QTime(8, 0));
        all += h.encode();
    }
    QFile f(dir + QStringLiteral("/data/") + name);
    return f.open(QIODevice::WriteOnly) && f.write(all) == all.size();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString quick = dir.filePath(QStringLiteral("QUICK.txt"));
    const QString twin = dir.filePath(QStringLiteral("QUICK2.txt"));

    // RemoveJob of the first, middle and last recipe of 10000 (the shortened copy is
    // written to the twin, flushed and renamed over the store).
    if (!writeStore(quick))
        return 2;
    std::vector<double> removeMs;
    for (int round = 0; round < 9; ++round) {
        const qint64 s = round % 3 == 0 ? 1 : round % 3 == 1 ? kRecipes / 2 : kRecipes - round;
        QElapsedTimer t;
        t.start();
        if (!RemoveJob(quick, twin, s))
            return 3;
        removeMs.push_back(t.nsecsElapsed() / 1e6);
        if (!AppendJob(quick, recipe(kRecipes + round)))
            return 4;
    }
    figure("RemoveJob, QUICK.txt of 10000 recipes (median)", median(removeMs), "ms", 500);
    figure("RemoveJob, QUICK.txt of 10000 recipes (worst)",
           *std::max_element(removeMs.begin(), removeMs.end()), "ms", 1000);

    // Start-up to a shown main window with the 10000 recipes listed.
    if (!writeStore(quick) || !writeMonth(dir.path(), QStringLiteral("DATE_202403.txt")))
        return 5;
    const double rssBefore = residentMb();
    QElapsedTimer t;
    t.start();
    Station station(StationOptions{dir.path(), {}, nullptr});
    station.start();
    Form3& main = station.form3();
    main.show();
    if (!QTest::qWaitForWindowExposed(&main, 10000))
        return 6;
    figure("start-up to a shown main window, 10000 recipes", t.nsecsElapsed() / 1e6, "ms", 2000);

    // Idle: a few seconds of the station's timers with nothing queued.
    QTest::qWait(3000);
    const double idle = residentMb();
    figure("resident memory, idle with 10000 recipes", idle, "MB", 100);

    Form5& history = station.form5();
    history.show();
    QElapsedTimer load;
    load.start();
    history.loadMonth(QStringLiteral("DATE_202403.txt"));
    QTest::qWait(1000);
    if (!history.List1->model() || history.List1->model()->rowCount() < kRecords) {
        std::printf("the month did not load (%d lines shown)\n",
                    history.List1->model() ? history.List1->model()->rowCount() : -1);
        return 7;
    }
    const double loaded = residentMb();
    figure("resident memory, 10000-record month loaded", loaded, "MB", 150);
    std::printf("(resident before the station: %.1f MB; month adds %.1f MB)\n", rssBefore,
                loaded - idle);
    return missed == 0 ? 0 : 1;
}
