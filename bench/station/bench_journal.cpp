// The amount poured so far is journalled (written, synced, renamed, folder synced) on every
// sequencer tick in which it changed. What that costs the window's thread: the tick that
// writes it, and how late Timer2 runs, while a pour changes the reading 10 times a second,
// alone and with another program writing and syncing a large file on the same disk.
#include "common/Clock.h"
#include "common/StatusLine.h"
#include "config/StationSettings.h"
#include "devices/BalanceReadings.h"
#include "devices/LightBus.h"
#include "devices/LightMap.h"
#include "devices/MemorySerialPort.h"
#include "jobs/JobFile.h"
#include "weighing/RunControl.h"
#include "weighing/Sequencer.h"
#include "weighing/StationTimers.h"
#include "weighing/WeighingModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void print(const char* what, std::vector<double> ms, double goal) {
    std::sort(ms.begin(), ms.end());
    if (ms.empty())
        return;
    std::printf("%-40s n %5zu  median %8.3f ms  worst %8.3f ms  goal %5.0f ms  %s\n", what,
                ms.size(), ms[ms.size() / 2], ms.back(), goal,
                ms.back() <= goal ? "met" : "MISSED");
}

// Another program on the same disk: 4 MiB written and synced, again and again.
struct DiskLoad {
    std::atomic<bool> stop{false};
    std::thread t;
    explicit DiskLoad(const QString& file) {
        t = std::thread([this, path = file.toStdString()] {
            const std::vector<char> block(4 << 20, 'x');
            while (!stop) {
                const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0)
                    return;
                if (::write(fd, block.data(), block.size()) < 0 || ::fsync(fd) != 0)
                    stop = true;
                ::close(fd);
            }
        });
    }
    ~DiskLoad() {
        stop = true;
        t.join();
    }
};

void pour(bool loaded) {
    QTemporaryDir dir;
    WeighingModel model;
    BalanceReadings readings;
    LightMap lightMap;
    StationSettings settings;
    StationTimers timers;
    RunControl run{timers};
    Clock clock;
    StatusLine status;
    MemorySerialPort comm3;
    LightBus bus{settings, comm3, timers.Timer5, status};
    settings.setText(Setting::WeightDecision, QStringLiteral("100000"));
    readings.setLive(Balance::Small, true);
    readings.setLive(Balance::Large, true);
    Sequencer seq({model, readings, lightMap, bus, settings, run, clock, status, dir.path(), {}});
    JobRecord job;
    job.OrderNo = QStringLiteral("BENCH");
    job.Code[1] = QStringLiteral("RED");
    job.Weight[1] = QStringLiteral("2900");
    if (!AppendJob(dir.filePath(QStringLiteral("START_DISPEN.txt")), job))
        qFatal("queue not written");
    while (model.State != SequencerState::Weigh)
        seq.tick();

    std::unique_ptr<DiskLoad> load;
    if (loaded)
        load = std::make_unique<DiskLoad>(dir.filePath(QStringLiteral("load.bin")));
    std::vector<double> writes, late;
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 last = -1;
    int reading = 0;
    // The reading changes every 100 ms, Timer2 ticks every 200 ms: every tick journals.
    QTimer balance, timer2;
    QObject::connect(&balance, &QTimer::timeout, [&] {
        reading += 37;
        readings.setCaption(Balance::Small, QString::number(reading / 100.0, 'f', 2));
    });
    QObject::connect(&timer2, &QTimer::timeout, [&] {
        const qint64 now = elapsed.nsecsElapsed();
        if (last >= 0)
            late.push_back((now - last) / 1e6 - 200);
        last = now;
        QElapsedTimer t;
        t.start();
        seq.tick();
        writes.push_back(t.nsecsElapsed() / 1e6);
        if (writes.size() == 50)
            QCoreApplication::quit();
    });
    timer2.setTimerType(Qt::PreciseTimer);
    balance.start(100);
    timer2.start(200);
    QCoreApplication::exec();
    print(loaded ? "journalling tick, disk loaded" : "journalling tick", writes, 50);
    print(loaded ? "Timer2 lateness pouring, disk loaded" : "Timer2 lateness pouring", late, 50);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    pour(false);
    pour(true);
    return 0;
}
