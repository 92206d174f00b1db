// Weighing panel figures, on the whole station with in-memory balance ports (offscreen):
//  - Timer1 ticks from a balance frame arriving to the panel showing its amount;
//  - time to draw the panel for one reading;
//  - Timer2 lateness over 10 s of real timers, a new reading every Timer1 tick and the
//    panel redrawn at every one.
// Usage: bench_panel [readings] (default 500).
#include "app/Station.h"
#include "config/SettingsFile.h"
#include "devices/BalanceLink.h"
#include "devices/MemorySerialPort.h"
#include "jobs/JobFile.h"
#include "station/Form3.h"
#include "station/Form3Panel.h"
#include "weighing/Sequencer.h"
#include "weighing/WeighingPanelModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <time.h>
#include <vector>

namespace {

// CPU time of this thread: the draw's own cost, without the time other programs on the
// machine take the processor away.
qint64 threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

QByteArray frame(double grams) {
    return QStringLiteral("S+ %1g   \r\n").arg(grams, 7, 'f', 2, QLatin1Char('0')).toLatin1();
}

void report(const char* what, std::vector<double> ms, double goal) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-40s 99th percentile %.3f ms\n", what, ms[ms.size() * 99 / 100]);
    std::printf("%-40s n %5zu  median %8.3f ms  worst %8.3f ms  goal %5.0f ms  %s\n", what,
                ms.size(), ms[ms.size() / 2], ms.back(), goal,
                ms.back() <= goal ? "met" : "MISSED");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int n = argc > 1 ? std::max(20, atoi(argv[1])) : 500;
    QTemporaryDir work;
    StationSettings s;
    s.setText(Setting::SetType, QStringLiteral("1"));
    s.setText(Setting::BalancePort1, QStringLiteral("/dev/small"));
    s.setText(Setting::BalancePort2, QStringLiteral("/dev/large"));
    s.setText(Setting::WeightDecision, QStringLiteral("1000"));
    if (!SettingsFile::save(work.filePath(QStringLiteral("set.txt")), s).ok())
        return 2;
    JobRecord job;
    job.OrderNo = QStringLiteral("BENCH-1");
    job.Code[1] = QStringLiteral("R-101");
    job.Weight[1] = QStringLiteral("250");
    if (!AppendJob(work.filePath(QStringLiteral("START_DISPEN.txt")), job).ok())
        return 2;

    StationOptions o;
    o.workDir = work.path();
    o.portFactory = [] { return std::make_unique<MemorySerialPort>(); };
    Station station(o);
    station.start();
    StationTimers& t = station.timers();
    t.Timer1.setEnabled(false);
    t.Timer2.setEnabled(false);
    auto& small = static_cast<MemorySerialPort&>(station.MSComm1());
    Form3& f3 = station.form3();
    f3.resize(1366, 768);
    f3.show();

    // To the weighing state by hand: a first reading makes the balance live.
    small.feed(frame(0));
    station.balanceLink().tick();
    for (int i = 0; i < 400 && station.weighing().State != SequencerState::Weigh; ++i)
        station.sequencer().tick();
    if (station.weighing().State != SequencerState::Weigh)
        return 2;

    // 1. Ticks until the panel shows a new reading; 2. the panel's draw for it.
    WeighingPanelModel& panel = station.panel();
    QImage image(f3.Panel->size(), QImage::Format_ARGB32_Premultiplied);
    int worstTicks = 0;
    std::vector<double> draw, drawCpu;
    for (int i = 1; i <= n; ++i) {
        const double grams = 100.0 + (i % 300) * 0.37; // too little: never accepted
        small.feed(frame(grams));
        int ticks = 0;
        while (panel.amount() != Decimal::parse(QString::number(grams, 'f', 2)) && ticks < 10) {
            station.balanceLink().tick();
            ++ticks;
        }
        worstTicks = std::max(worstTicks, ticks);
        QElapsedTimer e;
        e.start();
        const qint64 cpu = threadCpuNs();
        f3.Panel->render(&image);
        if (i > 10) { // the first draws fill the font caches
            draw.push_back(double(e.nsecsElapsed()) / 1e6);
            drawCpu.push_back(double(threadCpuNs() - cpu) / 1e6);
        }
    }
    std::printf("reading to panel, worst %d ticks goal <= 1 ticks\n", worstTicks);
    report("panel draw per reading", draw, 2);
    report("panel draw per reading, CPU time", drawCpu, 2);

    // 3. Real timers: a frame before every Timer1 tick, the panel redrawn for each.
    int redraws = 0;
    QObject::connect(&panel, &WeighingPanelModel::changed, [&] { ++redraws; });
    std::vector<double> late;
    QElapsedTimer clock;
    clock.start();
    qint64 last = -1;
    QObject::connect(&station.weighing(), &WeighingModel::changed, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            late.push_back(std::max(0.0, double(now - last) / 1e6 - 200.0));
        last = now;
    });
    QTimer feeder;
    int k = 0;
    QObject::connect(&feeder, &QTimer::timeout,
                     [&] { small.feed(frame(100.0 + (++k % 300) * 0.37)); });
    feeder.start(20);
    t.Timer1.setEnabled(true);
    t.Timer2.setEnabled(true);
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    std::printf("panel redraws in 10 s: %d\n", redraws);
    report("Timer2 lateness, panel redrawn", late, 50);
    return 0;
}
