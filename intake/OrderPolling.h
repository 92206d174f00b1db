#pragma once
#include "intake/IntakeContext.h"

#include <QObject>
#include <QSet>
#include <functional>

// The automatic order polling (Form1.Timer2, once a second): finds an order released to
// this station (step_no 44, note3 = station number, prod_type 2), claims its lines (step_no
// 45) and appends them as job records, ten lines to a record, to the receive folder's
// START_DISPEN.txt.
//
// A step is one piece of work on the database thread; ticks meanwhile do nothing. It is a
// claim, so that each released line is queued exactly once, whatever stops the station:
//   1. in one transaction, read the waiting lines, choose the first order (by its id as
//      stored), read its lines and mark them taken; the count marked must be the count
//      read, or the transaction is rolled back (another station took them meanwhile);
//   2. journal the claim (ClaimJournal, POLL_CLAIM.txt), commit, and say in the journal
//      that the commit went through;
//   3. append the records, saying each in the journal once it is in, then remove it.
// A journal left by a crash is completed by the next step before anything else, from what
// it says and, when it does not know whether the commit went through, from the order's
// lines in the database. The receive folder is checked on the database thread too.
//
// Lines without an order id, orders whose texts code page 950 cannot hold and orders
// with a value that fails the job check (checkOrder: a weight that is not an amount of
// grams, a text too long for its field) are left waiting and reported once, with the
// order, the line and the value; the orders behind them are polled. After a failure the next
// steps are skipped for 1, 2, 4 ... 30 ticks.
class OrderPolling : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxBackoffTicks = 30;

    // The moments of a claim, for tests that stop the station there: after the update,
    // after the journal is written, once the journal says the claim is committed, and once
    // it says record `record` is in the queue file.
    enum class Point { Claimed, Journalled, Committed, Appended };
    using Hook = std::function<void(Point, int record)>;

    explicit OrderPolling(IntakeContext& context, QObject* parent = nullptr);

    // One polling step.
    void tick();
    // At start: completes a claim journal left behind, whatever the polling settings.
    void recover();

    bool inProgress() const { return m_inProgress; }
    int backoffTicks() const { return m_wait; }
    // 1..5 from Check4(0..4), the highest set box winning; 0 when none is set.
    static int stationNumber(const StationSettings& settings);

    QString journalFile() const;
    // Called on the database thread at each point of a claim.
    void setHook(Hook hook) { m_hook = std::move(hook); }

    struct StepInput;
    struct StepResult;

signals:
    // A step is over: `queued` job records were appended, `marked` an order was claimed.
    void stepFinished(bool queued, bool marked);

private:
    void run(StepInput in);
    void apply(const StepResult& r);
    void fail(const QString& reason, bool queued = false);
    void succeed(bool queued, bool marked);

    IntakeContext& m_ctx;
    bool m_inProgress = false;
    int m_wait = 0;
    int m_failures = 0;
    QSet<QString> m_reported; // lines and orders that were reported as left waiting
    Hook m_hook;
};
