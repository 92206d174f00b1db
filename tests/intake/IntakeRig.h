#pragma once
#include "common/Clock.h"
#include "intake/IntakeContext.h"
#include "intake/OrderPolling.h"
#include "intake/OrderSearch.h"
#include "jobs/JobFile.h"
#include "tests/intake/DbFixture.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

// The order intake on its own, against one real database: settings, mapping, the database
// thread, the query box, the staging grid and the fault report, in a working folder.
struct IntakeRig {
    explicit IntakeRig(const OrderDb& db, const QString& workDir = {})
        : ownWork(), work(workDir.isEmpty() ? ownWork.path() : workDir) {
        settings.setText(Setting::DataSourceName, db.login.dataSource);
        settings.setText(Setting::UserId, db.login.user);
        settings.setText(Setting::DbPassword, db.login.password);
        settings.setText(Setting::TableName, QStringLiteral("vantrell"));
        settings.setText(Setting::ReceivePath, QDir(work).filePath(QStringLiteral("recv")));
        QDir(work).mkpath(QStringLiteral("recv"));
        QDir(work).mkpath(QStringLiteral("dat3"));
        ctx.monthlyFolder = QDir(work).filePath(QStringLiteral("dat3"));
        ctx.loginTimeoutSecs = 5;
        mapping.setText(0, QStringLiteral("15"));
        mapping.setText(1, QStringLiteral("1"));
    }

    QString file(const QString& name) const { return QDir(work).filePath(name); }
    QList<JobRecord> jobs(const QString& name) const {
        QList<JobRecord> out;
        const ReadAllJobsResult all = readAllJobs(file(name));
        for (const QByteArray& r : all.records)
            out << JobRecord::decode(r);
        return out;
    }

    // Runs a search and waits for its result.
    bool search(OrderSearch& s, const QString& key) {
        QSignalSpy done(&s, &OrderSearch::finished);
        s.enter(key);
        if (done.isEmpty() && !done.wait(30000))
            return false;
        return done.first().first().toBool();
    }
    // Runs one polling step to its end.
    void step(OrderPolling& p) {
        p.tick();
        QTRY_VERIFY_WITH_TIMEOUT(!p.inProgress() && db.inFlight() == 0, 30000);
    }

    WorkDir ownWork;
    QString work;
    StationSettings settings;
    FieldMapping mapping;
    OrderDatabase db;
    QueryBox queryBox;
    StagingGrid grid;
    StatusLine status;
    IntakeFaults faults{status};
    FixedClock clock{QDateTime(QDate(2027, 3, 15), QTime(10, 30, 0))};
    IntakeContext ctx{settings, mapping, db, queryBox, grid, faults, status, clock, work};
};
