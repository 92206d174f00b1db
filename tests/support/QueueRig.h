#pragma once
// The queue commands over a temporary working folder, for tests driven by plain calls:
// QUICK.txt, START_DISPEN.txt and its twin START_DISPEN2.txt in the folder, a light bus on
// an in-memory port (not open until a test opens it) with a clock the test moves, and
// what the status line was told.
// Header only: the tests that use it link the station library.
#include "common/StatusLine.h"
#include "common/TickTimer.h"
#include "config/StationSettings.h"
#include "devices/BusClock.h"
#include "devices/LightBus.h"
#include "devices/MemorySerialPort.h"
#include "jobs/JobFile.h"
#include "station/QueueCommands.h"
#include "tests/support/Reports.h"
#include "tests/support/TestSupport.h"
#include "weighing/WeighingModel.h"

#include <QTest>

// A job of one dye line for the barrel `barrel`.
inline JobRecord job(const QString& order, const QString& barrel = QStringLiteral("B7")) {
    JobRecord j;
    j.OrderNo = order;
    j.OutputPos = barrel;
    j.Code[1] = QStringLiteral("R-%1").arg(order);
    j.Weight[1] = QStringLiteral("12.5");
    j.B05 = QStringLiteral("kept");
    return j;
}

struct QueueRig {
    WorkDir dir;
    WeighingModel weighing;
    StationSettings settings;
    MemorySerialPort lightPort;
    TickTimer timer5{10};
    StatusLine status;
    Reports said{status};
    ManualBusClock busClock;
    LightBus lightBus{settings, lightPort, timer5, status, busClock};
    QueueCommands commands{{quick(), queue(), file("START_DISPEN2.txt")},
                           weighing,
                           settings,
                           lightPort,
                           lightBus,
                           status};

    QString file(const char* name) const { return dir.file(QLatin1String(name)); }
    QString quick() const { return file("QUICK.txt"); }
    QString queue() const { return file("START_DISPEN.txt"); }

    // The order numbers of the records of the file `name`, in order.
    QStringList orders(const char* name) const {
        QStringList out;
        for (const QByteArray& r : readAllJobs(file(name)).records)
            out << JobRecord::decode(r).OrderNo;
        return out;
    }
    QStringList queuedOrders() const { return orders("START_DISPEN.txt"); }
    // Queues the jobs and fills List2 from the queue, as the sequencer's refresh does.
    void addQueued(const QStringList& orders) {
        for (const QString& o : orders)
            QVERIFY(AppendJob(queue(), job(o)).ok());
        commands.reloadQueueList();
        QVERIFY(said.none());
    }
};
