// The station's extensions: the weighing log's write per event (off the timers' thread),
// how late Timer2 ticks run while jobs are weighed with every event going to the log and
// to an MQTT broker, and the CSV export of 100,000 logged events.
// The log is on the PostgreSQL server that DS_PG_* name (scripts/pg-start.sh), else on the
// embedded SQLite file; the broker is a mosquitto started here (skipped when not installed).
#include "common/Clock.h"
#include "common/StatusLine.h"
#include "config/StationSettings.h"
#include "devices/BalanceReadings.h"
#include "devices/LightBus.h"
#include "devices/LightMap.h"
#include "devices/MemorySerialPort.h"
#include "jobs/JobFile.h"
#include "plant/LogStore.h"
#include "plant/MqttLink.h"
#include "plant/PlantEvents.h"
#include "plant/WeighingLog.h"
#include "weighing/RunControl.h"
#include "weighing/Sequencer.h"
#include "weighing/StationTimers.h"
#include "weighing/WeighingModel.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

struct Figures {
    std::vector<double> ms;
    void print(const char* what, double goal) {
        std::sort(ms.begin(), ms.end());
        if (ms.empty())
            return;
        std::printf("%-44s n %5zu  median %8.3f ms  worst %8.3f ms  goal %5.0f ms  %s\n", what,
                    ms.size(), ms[ms.size() / 2], ms.back(), goal,
                    ms.back() <= goal ? "met" : "MISSED");
        std::fflush(stdout);
    }
};

QString braced(const char* name) {
    return qEnvironmentVariable(name).replace(QLatin1Char('}'), QStringLiteral("}}"));
}

QString sharedLog() {
    if (qEnvironmentVariableIsEmpty("DS_PG_PORT"))
        return {};
    return QStringLiteral("DRIVER=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so;SERVER=%1;PORT=%2;"
                          "DATABASE=%3;UID=%4;PWD={%5};SSLmode=disable")
        .arg(qEnvironmentVariable("DS_PG_HOST", QStringLiteral("127.0.0.1")),
             qEnvironmentVariable("DS_PG_PORT"),
             qEnvironmentVariable("DS_PG_DB", QStringLiteral("orders")),
             qEnvironmentVariable("DS_PG_USER"), braced("DS_PG_PASSWORD"));
}

WeighingEvent event(int k) {
    WeighingEvent e;
    e.at = QDateTime(QDate(2026, 1, 1), QTime(0, 0)).addMSecs(qint64(k) * 20);
    e.station = QStringLiteral("bench-%1").arg(getpid());
    e.orderNo = QStringLiteral("ORD%1").arg(k / 10, 6, 10, QLatin1Char('0'));
    e.line = k % 10 + 1;
    e.code = QStringLiteral("DYE-%1").arg(k % 120);
    e.lot = QStringLiteral("L%1").arg(k % 97);
    e.target = QStringLiteral("12.34");
    e.actual = QStringLiteral("12.35");
    e.tolerance = QStringLiteral("0.02");
    e.balance = QStringLiteral("small");
    e.event = QStringLiteral("accepted");
    return e;
}

void logWrite(const QString& odbc, const char* label) {
    QTemporaryDir dir;
    WeighingLog log({dir.path(), odbc, 2000});
    Figures write, call;
    QElapsedTimer t;
    // The first event connects (and creates the table): not a figure of the write.
    log.record(event(-1));
    if (!log.waitWritten(10000))
        qFatal("the log was not written");
    for (int k = 0; k < 300; ++k) {
        WeighingEvent e = event(k);
        e.at = QDateTime::currentDateTime().addMSecs(k);
        t.start();
        log.record(e);
        call.ms.push_back(t.nsecsElapsed() / 1e6);
        if (!log.waitWritten(5000))
            qFatal("the log was not written");
        write.ms.push_back(t.nsecsElapsed() / 1e6);
    }
    write.print(qPrintable(QStringLiteral("log write per event (%1)").arg(label)), 5);
    // record() appends the event to the spool and syncs it before it returns: one disk
    // sync on the timers' thread, a handful per weighed line, against Timer2's 50 ms.
    call.print("record() on the timers' thread (synced)", 10);
}

struct Broker {
    QTemporaryDir dir;
    QProcess process;
    int port = 0;
    bool start() {
        const QString exe = QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/bin"});
        if (exe.isEmpty())
            return false;
        port = 20000 + getpid() % 20000;
        QFile conf(dir.filePath("m.conf"));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n%2")
                       .arg(port)
                       .arg(getuid() == 0 ? "user root\n" : "")
                       .toUtf8());
        conf.close();
        process.start(exe, {"-c", conf.fileName()});
        if (!process.waitForStarted(3000))
            return false;
        QThread::msleep(300); // listening
        return process.state() == QProcess::Running;
    }
    ~Broker() {
        process.terminate();
        process.waitForFinished(3000);
    }
};

JobRecord job(int k) {
    JobRecord j;
    j.OrderNo = QStringLiteral("ORD%1").arg(k, 6, 10, QLatin1Char('0'));
    for (int i = 1; i <= 3; ++i) {
        j.Code[size_t(i)] = QStringLiteral("DYE-%1").arg((k + i) % 120);
        j.Weight[size_t(i)] = QStringLiteral("%1.25").arg(i * 3);
    }
    return j;
}

// Jobs weighed by the sequencer on a 20 ms timer (the lateness in milliseconds does not
// depend on the interval), every accepted line and finish logged and published.
void timer2Lateness(const QString& odbc, const char* label) {
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
    settings.setText(Setting::WeightDecision, QStringLiteral("1000"));
    readings.setLive(Balance::Large, true);
    readings.setLive(Balance::Small, true);
    Sequencer seq(Sequencer::Parts{model, readings, lightMap, bus, settings, run, clock, status,
                                   dir.path(), nullptr});
    const int jobs = 8;
    for (int k = 0; k < jobs; ++k)
        if (!AppendJob(dir.filePath(QStringLiteral("START_DISPEN.txt")), job(k)))
            qFatal("queue not written");

    Broker broker;
    const bool mqtt = broker.start();
    WeighingLog log({dir.path(), odbc, 2000});
    std::unique_ptr<MqttLink> link;
    if (mqtt)
        link = std::make_unique<MqttLink>(
            MqttLink::Config{dir.path(), QStringLiteral("127.0.0.1"), broker.port, "bench"});
    PlantEvents events(clock, QStringLiteral("bench"), &log, link.get());
    seq.setExtensions(nullptr, &events);

    Figures all;
    QElapsedTimer elapsed;
    qint64 last = -1;
    int finished = 0;
    const int intervalMs = 20;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(intervalMs);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = elapsed.nsecsElapsed();
        if (last >= 0)
            all.ms.push_back((now - last) / 1e6 - intervalMs);
        last = now;
        const int n = model.Line;
        readings.setCaption(Balance::Large, QStringLiteral("0"));
        readings.setCaption(Balance::Small, QStringLiteral("0"));
        if (model.State == SequencerState::Weigh && n >= 1)
            readings.setCaption(LineBalanceCode::balance(model.LineBalance[size_t(n - 1)]),
                                model.LineTable[size_t(10 * n + 2)]);
        const int before = model.State;
        seq.tick();
        if (before == SequencerState::Finish && model.State == SequencerState::ClearUp &&
            ++finished == jobs)
            QCoreApplication::quit();
    });
    elapsed.start();
    timer.start();
    QCoreApplication::exec();
    const bool written = log.waitWritten(10000);
    const bool sent = !link || link->waitSent(10000);
    std::printf("%d jobs, log on %s %s, MQTT %s\n", finished, label,
                written ? "written" : "NOT WRITTEN",
                mqtt ? (sent ? "all acknowledged" : "NOT ACKNOWLEDGED") : "skipped (no broker)");
    all.print(qPrintable(QStringLiteral("Timer2 lateness, log on %1 + MQTT").arg(label)), 50);
}

void exportFigure() {
    QTemporaryDir dir;
    const int n = 100000;
    {
        LogStore store({}, LogStore::embeddedFile(dir.path()));
        QList<WeighingEvent> batch;
        for (int k = 0; k < n; ++k) {
            batch << event(k);
            if (batch.size() == 10000) {
                if (!store.write(batch))
                    qFatal("log not filled");
                batch.clear();
            }
        }
    }
    QElapsedTimer t;
    t.start();
    qint64 bytes = 0;
    const Outcome o = LogStore::exportLog(dir.path(), {}, QDate(2026, 1, 1), QDate(2026, 1, 31),
                                          [&](const QByteArray& b) { bytes += b.size(); });
    const double ms = t.nsecsElapsed() / 1e6;
    if (!o)
        qFatal("export failed: %s", qPrintable(o.reason()));
    std::printf("export of %d events (%lld bytes of CSV) %.0f ms goal <= 2000 ms\n", n, bytes, ms);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString pg = sharedLog();
    logWrite({}, "SQLite");
    if (!pg.isEmpty())
        logWrite(pg, "PostgreSQL");
    timer2Lateness(pg, pg.isEmpty() ? "SQLite" : "PostgreSQL");
    exportFigure();
    return 0;
}
