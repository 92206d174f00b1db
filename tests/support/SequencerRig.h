#pragma once
// A sequencer with its parts, for tests driven by tick(): settings with a 1000 g balance
// threshold, both balances live and reading 0, a light bus on an in-memory port, a clock
// standing at 2024-03-02 09:05:07, and a ticket printer that records what it printed.
// Header only: the tests that use it link the station library.
#include "common/Clock.h"
#include "common/StatusLine.h"
#include "config/StationSettings.h"
#include "devices/BalanceReadings.h"
#include "devices/BusClock.h"
#include "devices/LightBus.h"
#include "devices/LightMap.h"
#include "devices/MemorySerialPort.h"
#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "tests/support/TestSupport.h"
#include "weighing/RunControl.h"
#include "weighing/Sequencer.h"
#include "weighing/StationTimers.h"
#include "weighing/TicketService.h"
#include "weighing/WeighingModel.h"

#include <QTest>
#include <memory>

struct SequencerRig : TicketService {
    WorkDir dir;
    WeighingModel model;
    BalanceReadings readings;
    LightMap lightMap;
    StationSettings settings;
    StationTimers timers;
    RunControl run{timers};
    FixedClock clock{QDateTime(QDate(2024, 3, 2), QTime(9, 5, 7))};
    StatusLine status;
    MemorySerialPort comm3;
    ManualBusClock busClock; // moves 200 ms a tick; the light modules answer at once
    LightBus bus{settings, comm3, timers.Timer5, status, busClock};
    QList<HistoryRecord> printed;
    Outcome printResult = Outcome::success();
    std::unique_ptr<Sequencer> seq;

    SequencerRig() {
        settings.setText(Setting::WeightDecision, QStringLiteral("1000"));
        readings.setLive(Balance::Large, true);
        readings.setLive(Balance::Small, true);
        if (!comm3.open(QStringLiteral("lights")))
            qFatal("the in-memory light port did not open");
        comm3.answer = &MemorySerialPort::moduleAnswer;
        seq = std::make_unique<Sequencer>(Sequencer::Parts{model, readings, lightMap, bus, settings,
                                                           run, clock, status, dir.path(), this});
    }
    Outcome print(const HistoryRecord& h) override {
        printed << h;
        return printResult;
    }

    QString queue() const { return dir.file(QStringLiteral("START_DISPEN.txt")); }
    qint64 queued() const { return JobCount(queue()).count; }
    void add(const JobRecord& j) { QVERIFY(AppendJob(queue(), j).ok()); }
    void setReading(Balance balance, const QString& caption) {
        readings.setCaption(balance, caption);
    }
    // One Timer2 tick: 200 ms pass, in which the light bus sends what waits.
    void tick() {
        busClock.advanceMs(200);
        if (!bus.pump())
            qWarning("light frame not written");
        seq->tick();
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i)
            tick();
    }
    // Ticks until the state is `state`; false when it is not reached in `limit` ticks.
    bool until(int state, int limit = 200) {
        for (int i = 0; i < limit; ++i) {
            if (model.State == state)
                return true;
            tick();
        }
        return model.State == state;
    }
};
