#pragma once
#include "intake/IntakeContext.h"

#include <QObject>

// The automatic order polling (Form1.Timer2, once a second): finds an order released to
// this station (step_no 44, note3 = station number, prod_type 2), appends its lines as one
// job record to the receive folder's START_DISPEN.txt and marks them taken (step_no 45).
//
// The database work runs on the database thread; a step stays in progress until its
// update is answered, and ticks meanwhile do nothing. After a failure the next steps are
// skipped for 1, 2, 4 ... 30 ticks. An order appended but not yet marked taken is kept in
// POLL_PENDING.txt of the working folder; while one is kept, a step only retries its update,
// so a failed update never queues the order twice, also across a restart.
class OrderPolling : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxBackoffTicks = 30;

    explicit OrderPolling(IntakeContext& context, QObject* parent = nullptr);

    // One polling step.
    void tick();

    bool inProgress() const { return m_inProgress; }
    int backoffTicks() const { return m_wait; }
    // 1..5 from Check4(0..4), the highest set box winning; 0 when none is set.
    static int stationNumber(const StationSettings& settings);

    struct Pending {
        int station = 0;
        QString orderId;
    };
    QString pendingFile() const;
    QList<Pending> pending() const;

signals:
    // A step is over: `queued` an order was appended, `marked` its update succeeded.
    void stepFinished(bool queued, bool marked);

private:
    struct Found {
        Outcome outcome = Outcome::success();
        bool found = false;
        QString orderId;
        QString linesQuery;
        DbRows rows;
    };
    struct Updated {
        Outcome outcome = Outcome::success();
        int rowsAffected = 0;
    };
    void applyFound(int station, const QString& table, const Found& f);
    void sendUpdate(int station, const QString& table, const QString& orderId, bool queued);
    void fail(const QString& reason, bool queued = false);
    void succeed(bool queued, bool marked);
    Outcome writePending(const QList<Pending>& list) const;

    IntakeContext& m_ctx;
    bool m_inProgress = false;
    int m_wait = 0;
    int m_failures = 0;
};
