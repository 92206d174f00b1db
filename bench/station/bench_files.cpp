// The durable file operations on stores of a plant's size: a recipe modified and a recipe
// removed in a QUICK.txt of 10000 recipes (each a copy written, synced and renamed over
// the store), and a job's finish (journal, history record, removal from the queue, end of
// the journal), each synced as the station does it.
#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "weighing/Completion.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRecipes = 10000;
int missed = 0;

JobRecord recipe(int n) {
    JobRecord j;
    j.OrderNo = QStringLiteral("配方%1").arg(n);
    for (int i = 1; i <= JobRecord::kLines; ++i) {
        j.Code[size_t(i)] = QStringLiteral("DYE-%1").arg(i);
        j.Weight[size_t(i)] = QString::number(n % 100 + i);
    }
    return j;
}

// `prepare` runs before each timed round, untimed.
void timing(const char* what, int rounds, double goalMs, const std::function<bool(int)>& op,
            const std::function<bool(int)>& prepare = {}) {
    std::vector<double> ms;
    for (int r = 0; r < rounds; ++r) {
        if (prepare && !prepare(r)) {
            std::printf("%s: preparation failed\n", what);
            ++missed;
            return;
        }
        QElapsedTimer t;
        t.start();
        if (!op(r)) {
            std::printf("%s: failed\n", what);
            ++missed;
            return;
        }
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    const double worst = ms.back();
    std::printf("%s n %d median %.1f ms worst %.1f ms goal %.0f ms\n", what, rounds,
                ms[ms.size() / 2], worst, goalMs);
    if (worst > goalMs)
        ++missed;
}

} // namespace

int main() {
    QTemporaryDir dir;
    const QString quick = dir.filePath(QStringLiteral("QUICK.txt"));
    const QString twin = dir.filePath(QStringLiteral("QUICK2.txt"));
    {
        QByteArray all;
        for (int n = 1; n <= kRecipes; ++n)
            all += recipe(n).encode();
        QFile f(quick);
        if (!f.open(QIODevice::WriteOnly) || f.write(all) != all.size())
            return 2;
    }
    timing("recipe modify (WriteJob), QUICK.txt of 10000", 15, 100, [&](int r) {
        return WriteJob(quick, 1 + (r * 661) % kRecipes, recipe(kRecipes + r)).ok();
    });
    timing(
        "RemoveJob, QUICK.txt of 10000", 15, 100,
        [&](int r) { return RemoveJob(quick, twin, 1 + (r * 661) % kRecipes).ok(); },
        [&](int r) { return AppendJob(quick, recipe(r)).ok(); });

    const QString queue = dir.filePath(QStringLiteral("START_DISPEN.txt"));
    const QString queueTwin = dir.filePath(QStringLiteral("START_DISPEN2.txt"));
    for (int n = 0; n < 5; ++n)
        if (!AppendJob(queue, recipe(n)))
            return 3;
    timing(
        "finish: journal, history, removal", 30, 50,
        [&](int r) {
            HistoryRecord h;
            h.OrderNo = QStringLiteral("配方%1").arg(r);
            h.Code[1] = QStringLiteral("DYE-1");
            h.Actual[1] = QStringLiteral("12.51");
            h.Completed = QDateTime(QDate(2026, 12, 8), QTime(9, 0)).addSecs(r);
            const QByteArray job = ReadJob(queue, 1).bytes;
            const bool ok = Completion::begin(dir.path(), queue, job, h.encode()).ok() &&
                            AppendHistory(dir.path(), h).ok() &&
                            RemoveJob(queue, queueTwin, 1).ok() && Completion::end(dir.path()).ok();
            return ok;
        },
        [&](int r) { return AppendJob(queue, recipe(r)).ok(); });

    // The journal of the job in progress: at each acceptance (synced with its folder) and
    // every second of weighing (synced).
    Completion::Progress progress;
    for (int line = 1; line <= 9; ++line)
        progress.accepted.append(
            {line, QStringLiteral("%1.25").arg(line), 2, QDateTime::currentDateTime()});
    progress.line = 10;
    const QByteArray head = ReadJob(queue, 1).bytes;
    timing("journal of the amount so far (synced, folder too)", 30, 5, [&](int r) {
        progress.amount = QString::number(r);
        return Completion::record(dir.path(), queue, head, progress).ok();
    });
    return missed == 0 ? 0 : 1;
}
