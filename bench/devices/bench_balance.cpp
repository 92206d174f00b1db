// Balance link figures against the device simulator, over pseudo-terminals:
//  - mode "1": delay from the moment devsim has written a frame's last byte to the
//    caption showing it, at 10 frames a second and back to back at 9600 baud;
//  - mode "2": readings a second that each balance gets through the Modbus poll cycle,
//    with both answering and with the small balance silent.
// Usage: bench_balance [frames] (default 1000 frames per mode "1" run).
#include "common/BoundTimer.h"
#include "common/StatusLine.h"
#include "common/TickTimer.h"
#include "config/StationSettings.h"
#include "devices/BalanceLink.h"
#include "devices/BalanceLinkTiming.h"
#include "devices/BalanceReadings.h"
#include "devices/QtSerialPort.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <time.h>
#include <vector>

namespace {

qint64 monotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Sim {
    QTemporaryDir dir;
    QProcess process;
    bool start(const QStringList& args) {
        process.setProgram(
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("devsim")));
        process.setArguments(QStringList{QStringLiteral("--dir"), dir.path()} + args);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start();
        const QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            if (log().contains(" ready "))
                return true;
            runFor(20);
        }
        return false;
    }
    QByteArray log() const {
        QFile f(dir.filePath(QStringLiteral("events.log")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    ~Sim() {
        process.write("quit\n");
        if (!process.waitForFinished(3000))
            process.kill();
    }
};

struct Link {
    StationSettings settings;
    QtSerialPort comm1, comm2;
    BalanceReadings readings;
    StatusLine status;
    TickTimer timer1;
    BalanceLink link{settings, comm1, comm2, readings, status};
    BoundTimer bound{timer1, [this] { link.tick(); }};
    bool open(const QString& mode, const QString& port1, const QString& port2) {
        settings.setText(Setting::SetType, mode);
        settings.setText(Setting::BalancePort1, port1);
        settings.setText(Setting::BalancePort2, port2);
        if (!comm1.open(port1) || (mode == QLatin1String("1") && !comm2.open(port2)))
            return false;
        timer1.setInterval(mode == QLatin1String("1") ? BalanceLinkTiming::kTextModeTickMs
                                                      : BalanceLinkTiming::kModbusTickMs);
        timer1.setEnabled(true);
        return true;
    }
};

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v[size_t(
        std::min<double>(double(v.size() - 1), std::floor(p * double(v.size() - 1) + 0.5)))];
}

// Mode "1": the small balance ramps by 0.01 g a frame, so every frame names itself.
QStringList summary; // one line a figure, with its goal, for bench/run-all.sh

void textDelay(const char* label, const char* rate, int frames) {
    const double rateValue = QByteArray(rate) == "max" ? 0 : QByteArray(rate).toDouble();
    Sim sim;
    if (!sim.start({QStringLiteral("--rate"), QLatin1String(rate), QStringLiteral("--ramp"),
                    QStringLiteral("--frame-log")})) {
        std::printf("%-28s devsim did not start\n", label);
        return;
    }
    Link l;
    if (!l.open(QStringLiteral("1"), sim.dir.filePath(QStringLiteral("small")),
                sim.dir.filePath(QStringLiteral("large")))) {
        std::printf("%-28s ports did not open\n", label);
        return;
    }
    std::map<qint64, qint64> shownAt; // counts -> monotonic ns
    QObject::connect(&l.readings, &BalanceReadings::changed, [&](Balance index) {
        if (index == Balance::Small)
            shownAt.emplace(llround(l.readings.caption(index).toDouble() * 100), monotonicNs());
    });
    runFor(500); // the backlog of frames queued before the port opened
    const qint64 firstCount = shownAt.empty() ? 0 : shownAt.rbegin()->first;
    const QDeadlineTimer deadline(frames * 200 + 10000);
    while (!deadline.hasExpired() &&
           (shownAt.empty() || shownAt.rbegin()->first < firstCount + frames + 1))
        runFor(50);

    std::vector<double> delays;
    qint64 sent = 0;
    for (const QByteArray& line : sim.log().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() != 5 || f[1] != "frame" || f[2] != "small")
            continue;
        const qint64 counts = llround(f[3].toDouble() * 100);
        if (counts <= firstCount || counts > firstCount + frames)
            continue;
        ++sent;
        auto it = shownAt.find(counts);
        if (it != shownAt.end())
            delays.push_back(double(it->second - f[4].toLongLong()) / 1e6);
    }
    const double worst = delays.empty() ? NAN : *std::max_element(delays.begin(), delays.end());
    std::printf("%-28s %6lld %6zu %8.1f %8.1f %8.1f\n", label, static_cast<long long>(sent),
                delays.size(), percentile(delays, 0.5), percentile(delays, 0.95), worst);
    // The goal: never more than one frame period and one tick behind the balance.
    const double period = rateValue > 0 ? 1000.0 / rateValue : 16.0 * 10.0 * 1000.0 / 9600.0;
    summary.push_back(
        QString::asprintf("mode 1 delay, %s  n %zu  median %.1f ms  worst %.1f ms  goal %.0f ms",
                          label, delays.size(), percentile(delays, 0.5), worst,
                          std::ceil(period + BalanceLinkTiming::kTextModeTickMs)));
}

void modbusRate(int seconds, bool smallSilent) {
    Sim sim;
    if (!sim.start({QStringLiteral("--small"), QStringLiteral("100"), QStringLiteral("--large"),
                    QStringLiteral("1000")})) {
        std::printf("mode 2: devsim did not start\n");
        return;
    }
    Link l;
    if (!l.open(QStringLiteral("2"), sim.dir.filePath(QStringLiteral("bus")), QString())) {
        std::printf("mode 2: port did not open\n");
        return;
    }
    if (smallSilent)
        sim.process.write("silent small\n");
    runFor(300);
    const qint64 s0 = l.link.readingCount(Balance::Small), g0 = l.link.readingCount(Balance::Large);
    const qint64 t0 = monotonicNs();
    runFor(seconds * 1000);
    const double elapsed = double(monotonicNs() - t0) / 1e9;
    const QByteArray log = sim.log();
    std::printf("%-28s %8.1f %8.1f   (%lld requests answered by devsim, %lld refused)\n",
                smallSilent ? "mode 2, small silent" : "mode 2, 3 ms tick",
                double(l.link.readingCount(Balance::Small) - s0) / elapsed,
                double(l.link.readingCount(Balance::Large) - g0) / elapsed,
                static_cast<long long>(log.count(" read ")),
                static_cast<long long>(log.count("bad-frame")));
    if (smallSilent) {
        summary.push_back(
            QString::asprintf("mode 2 readings, large balance, small silent  %.1f /s  goal >= 4 /s",
                              double(l.link.readingCount(Balance::Large) - g0) / elapsed));
        return;
    }
    for (Balance index : {Balance::Small, Balance::Large}) {
        const qint64 start = index == Balance::Small ? s0 : g0;
        summary.push_back(QString::asprintf("mode 2 readings, %s balance  %.1f /s  goal >= 8 /s",
                                            index == Balance::Small ? "small" : "large",
                                            double(l.link.readingCount(index) - start) / elapsed));
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(10, atoi(argv[1])) : 1000;
    std::printf("Mode 1: delay from devsim's last byte of a frame to the caption (ms)\n");
    std::printf("%-28s %6s %6s %8s %8s %8s\n", "", "sent", "shown", "median", "p95", "max");
    textDelay("10 frames/s", "10", frames);
    textDelay("back to back (60 frames/s)", "max", frames);
    std::printf("\nMode 2: readings per second\n%-28s %8s %8s\n", "", "small", "large");
    modbusRate(10, false);
    modbusRate(10, true);
    std::printf("\n");
    for (const QString& line : summary)
        std::printf("%s\n", qPrintable(line));
    return 0;
}
