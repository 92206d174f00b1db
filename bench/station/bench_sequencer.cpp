// Cost of one sequencer tick with 100 jobs queued (a plain tick and a queue-refresh tick),
// and how late Timer2 ticks run while jobs end (history append with its flush to disk,
// removal from the queue, the ticket printed to a PDF file): with the ticket printed inside
// the tick, and as the station does it, handed to the ticket queue's thread.
#include "app/QueuedTickets.h"
#include "common/Clock.h"
#include "common/StatusLine.h"
#include "config/StationSettings.h"
#include "devices/BalanceReadings.h"
#include "devices/LightBus.h"
#include "devices/LightMap.h"
#include "devices/MemorySerialPort.h"
#include "devices/Ticket.h"
#include "devices/TicketPrinter.h"
#include "devices/TicketQueue.h"
#include "jobs/JobFile.h"
#include "weighing/RunControl.h"
#include "weighing/Sequencer.h"
#include "weighing/StationTimers.h"
#include "weighing/WeighingModel.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

struct Figures {
    std::vector<double> ms;
    void print(const char* what, double goal) {
        std::sort(ms.begin(), ms.end());
        if (ms.empty())
            return;
        std::printf("%-34s n %5zu  median %8.3f ms  worst %8.3f ms  goal %5.0f ms  %s\n", what,
                    ms.size(), ms[ms.size() / 2], ms.back(), goal,
                    ms.back() <= goal ? "met" : "MISSED");
    }
};

JobRecord job(int k) {
    JobRecord j;
    j.OrderNo = QStringLiteral("ORD%1").arg(k, 6, 10, QLatin1Char('0'));
    j.OutputPos = QString::number(k % 20);
    for (int i = 1; i <= 3; ++i) {
        j.Code[size_t(i)] = QStringLiteral("DYE-%1").arg((k + i) % 120);
        j.Weight[size_t(i)] =
            i == 2 ? QStringLiteral("1500.5") : QStringLiteral("%1.25").arg(i * 3);
    }
    return j;
}

struct Rig {
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
    std::unique_ptr<Sequencer> seq;
    int prints = 0;

    explicit Rig(TicketService* tickets) {
        settings.setText(Setting::WeightDecision, QStringLiteral("1000"));
        settings.setText(Setting::LightPort, QStringLiteral("3"));
        settings.setText(Setting::PrintFlag, QStringLiteral("1"));
        for (int j = 1; j <= 120; ++j)
            lightMap.setCode(j, QStringLiteral("DYE-%1").arg(j - 1));
        if (!comm3.open(QStringLiteral("lights")))
            qFatal("the in-memory light port did not open");
        readings.setLive(Balance::Large, true);
        readings.setLive(Balance::Small, true);
        seq = std::make_unique<Sequencer>(Sequencer::Parts{
            model, readings, lightMap, bus, settings, run, clock, status, dir.path(), tickets});
        for (int k = 0; k < 100; ++k)
            if (Outcome o = AppendJob(dir.filePath(QStringLiteral("START_DISPEN.txt")), job(k)); !o)
                qFatal("queue not written: %s", qPrintable(o.reason()));
    }
    // The operator: the target goes on the balance as soon as the line is weighed, and
    // comes off when it is accepted.
    void operate() {
        comm3.writes.clear();
        const int n = model.Line;
        const bool weighing = model.State == SequencerState::Weigh && n >= 1;
        const Balance b =
            n >= 1 ? LineBalanceCode::balance(model.LineBalance[size_t(n - 1)]) : Balance::Large;
        readings.setCaption(Balance::Large, QStringLiteral("0"));
        readings.setCaption(Balance::Small, QStringLiteral("0"));
        if (weighing)
            readings.setCaption(b, model.LineTable[size_t(10 * n + 2)]);
    }
};

// The baseline: the ticket printed to a PDF file inside the tick.
struct PdfInsideTick : TicketService {
    std::function<QString()> nextFile;
    Outcome print(const HistoryRecord& h) override {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(nextFile());
        return TicketPrinter::print(historyTicket(h, QDateTime::currentDateTime()), printer);
    }
};

void tickCost() {
    Rig r(nullptr);
    r.settings.setText(Setting::PrintFlag, QString());
    while (r.model.State != SequencerState::Weigh)
        r.seq->tick();
    r.readings.setCaption(Balance::Small,
                          QStringLiteral("1")); // too little: the line stays in weighing
    Figures plain, refresh;
    QElapsedTimer t;
    for (int i = 0; i < 4000; ++i) {
        r.comm3.writes.clear();
        t.start();
        r.seq->tick();
        const double ms = t.nsecsElapsed() / 1e6;
        (r.model.RefreshTick == 0 ? refresh : plain).ms.push_back(ms);
    }
    plain.print("tick, weighing (no file work)", 1);
    refresh.print("tick, refresh of 100 queued jobs", 20);
}

// `queued`: the station's way, the ticket built on the timer's thread and printed by the
// ticket queue's thread; otherwise printed inside the tick, as a baseline.
void endOfJobLateness(int jobs, int intervalMs, bool queued) {
    Rig* rig = nullptr;
    std::atomic<int> pdfs = 0;
    Figures printing; // the queue's thread only, read after waitIdle()
    TicketQueue tickets([&](const QList<TicketItem>& items) {
        QElapsedTimer t;
        t.start();
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(rig->dir.filePath(QStringLiteral("ticket%1.pdf").arg(pdfs++)));
        const Outcome o = TicketPrinter::print(items, printer);
        printing.ms.push_back(t.nsecsElapsed() / 1e6);
        return o;
    });
    QString failed;
    QObject::connect(&tickets, &TicketQueue::done, [&](const QString& orderNo, const Outcome& o) {
        if (!o)
            failed = orderNo + QStringLiteral(": ") + o.reason();
    });
    const Clock now;
    QueuedTickets station(tickets, now);
    PdfInsideTick inside;
    inside.nextFile = [&] { return rig->dir.filePath(QStringLiteral("ticket%1.pdf").arg(pdfs++)); };
    Rig r(queued ? static_cast<TicketService*>(&station) : &inside);
    rig = &r;
    Figures all, endTicks, endStep;
    QElapsedTimer clock;
    qint64 last = -1;
    int finished = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(intervalMs);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0) {
            const double late = (now - last) / 1e6 - intervalMs;
            all.ms.push_back(late);
            if (r.model.State == SequencerState::ClearUp || r.model.State == SequencerState::Idle)
                endTicks.ms.push_back(late);
        }
        last = now;
        r.operate();
        const int before = r.model.State;
        QElapsedTimer step;
        step.start();
        r.seq->tick();
        if (before == 9 && r.model.State == SequencerState::ClearUp) {
            endStep.ms.push_back(step.nsecsElapsed() / 1e6);
            if (++finished == jobs)
                QCoreApplication::quit();
        }
    });
    clock.start();
    timer.start();
    QCoreApplication::exec();
    if (!tickets.waitIdle(60000))
        qFatal("the ticket queue did not finish");
    QCoreApplication::processEvents(); // the queue's outcomes
    std::printf(
        "%d jobs of 3 lines weighed, %d tickets printed to PDF %s, %s%s\n", finished, pdfs.load(),
        queued ? "by the ticket queue" : "inside the tick",
        qPrintable(r.status.text().isEmpty() ? QStringLiteral("no reports") : r.status.text()),
        qPrintable(failed.isEmpty() ? QString() : QStringLiteral(", failed ") + failed));
    if (queued) {
        endStep.print("end-of-job step, ticket queued", 50);
        endTicks.print("Timer2 lateness after end of job+ticket", 50);
        all.print("every Timer2 tick, tickets printing", 50);
        std::sort(printing.ms.begin(), printing.ms.end());
        if (!printing.ms.empty())
            std::printf("ticket to PDF on the queue's thread: median %.3f ms, worst %.3f ms\n",
                        printing.ms[printing.ms.size() / 2], printing.ms.back());
    } else {
        endStep.print("end-of-job step (append+remove+PDF)", 50);
        endTicks.print("lateness of the tick after it", 50);
        all.print("lateness of every Timer2 tick", 50);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    tickCost();
    // A faster timer than the station's 200 ms lets several jobs end in a short run; the
    // lateness in milliseconds does not depend on the interval.
    endOfJobLateness(5, 20, false);
    endOfJobLateness(10, 20, true);
    return 0;
}
