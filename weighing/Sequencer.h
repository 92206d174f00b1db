#pragma once
#include "common/Numbers.h"
#include "common/Outcome.h"
#include "devices/Balance.h"
#include "jobs/History.h"
#include "jobs/JobRecord.h"
#include "weighing/Completion.h"

#include <QByteArray>
#include <QString>

class BalanceReadings;
class Clock;
class LightBus;
class LightMap;
class PickCheck;
class RunControl;
class StationSettings;
class StatusLine;
class TicketService;
class WeighingModel;
class WeighingEvents;

// The weighing sequencer: takes record 1 of the queue, leads the operator through its
// lines on the balances, logs the finished job to the month's history file, prints its
// ticket and removes it from the queue. One tick() is one Timer2 tick (200 ms); all of
// its state lives in the WeighingModel it shares with the queue commands and the
// box/barrel dialog.
class Sequencer {
public:
    struct Parts {
        WeighingModel& model;
        const BalanceReadings& readings;
        const LightMap& lightMap;
        LightBus& lightBus;
        const StationSettings& settings;
        const RunControl& run;
        const Clock& clock;
        StatusLine& status;
        QString workDir;
        TicketService* tickets; // the ticket of a finished job (Printer01); none: not printed
    };

    static constexpr int kRefreshTicks = 4;
    static constexpr int kZeroWaitTicks = 30;     // balance already at 0: 6 s
    static constexpr int kZeroMinTicks = 3;       // waiting for the zero: at least 3 ticks
    static constexpr int kSettleTicks = 16;       // in tolerance this long accepts a line
    static constexpr int kEndTicks = 6;           // "<<<END>>>" before the history is written
    static constexpr int kHistoryRetryTicks = 15; // a failed history write is retried after 3 s
    static constexpr qint64 kBoxGrams = 25000;
    static constexpr int kRecoveryRetryRefreshes = 4; // a journal that failed: again after ~3 s
    // The amount so far is journalled (synced) on every tick it has changed: a stop at any
    // moment loses at most one tick (200 ms) of pouring.
    static constexpr int kJournalTicks = 1;

    explicit Sequencer(Parts parts);

    void tick();
    // Acts on the journal a crash left (see Completion.h): completes a cut finish, or
    // resumes the job that was being weighed when it is still at the head of the queue.
    // True when nothing stands in the way of taking the next job; false while the journal
    // cannot be completed yet (tried again later) or after a resume.
    bool recoverJournal();
    // An orderly stop (the window closed, SIGTERM): the amount on the balance now is
    // journalled, so the restart credits all of it.
    void close();

    // Takes back the last box/barrel choice of the line being weighed (a choice not yet
    // acted on, or the adjustment it made, a change of barrel included) until the line is
    // accepted. False when there is none.
    bool undoBoxChoice();
    bool canUndoBoxChoice() const;
    // The station's extensions: confirmed pick (a line waits for its container's scan) and
    // the sink of weighing events. Both may be null (off).
    void setExtensions(PickCheck* pick, WeighingEvents* events) {
        m_pick = pick;
        m_events = events;
    }

    int TolSteps() const { return m_tolSteps; }
    // The record of the last finished job, as printed.
    const HistoryRecord& lastHistory() const { return m_history; }

private:
    QString queueFile() const;
    QString twinFile() const;
    bool lightBusInUse() const;
    bool secondLanguage() const;
    Balance balanceOf(int line) const;
    bool balanceLive(int line) const;
    Decimal reading(int line) const;
    bool atZero(int line) const;
    Decimal resolution(int line) const;
    QString balanceName(int line) const;
    void light(int number, int command);

    void refresh(bool& counted, qint64& count);
    void startJob();
    void loadJob(const JobRecord& job, const QByteArray& bytes);
    void resumeJob(const QByteArray& bytes, const Completion::Progress& progress);
    void journal();
    void prepareLine();
    void askForContainer();
    void weigh();
    void nextLine();
    void finishJob();
    void waitToRetry(const QString& why);
    void clearUp();
    void holdForStaleBalance();
    bool backFromOutage();
    void keepAmountForNewContainer(Decimal amount);
    void journalAmount(const QString& amount);
    void forgetAdjustmentsAtZero();

    QString containerMessage(int line) const;
    QString withinMessage() const;
    QString cardMessage(bool tooMuch, int line) const;
    QString staleMessage(int line) const;
    QString notZeroMessage(int line) const;
    void updateBox(int line);
    bool refuseFaultyJob(const JobRecord& job, const QByteArray& bytes);
    void logEvent(int line, const QString& event, const QString& detail = {},
                  const QDateTime& at = {});

    Parts p;
    WeighingModel& m;
    int m_tolSteps = 2;
    QString m_largeName, m_smallName;
    JobRecord m_job;
    QByteArray m_jobBytes; // record 1 as it was read, to find it again at the end
    int m_previousLine = 0;
    bool m_historyWritten = false;
    bool m_removed = false;
    int m_retryWait = 0;
    int m_recoveryWait = 0;
    Completion::Progress m_progress;
    QString m_journaledAmount;
    QByteArray m_journalIdentity;
    int m_ticksSinceJournal = 0;
    bool m_leftZero = false; // the reading left 0 during the zero wait: a zero is needed
    bool m_outage = false;   // the line's balance went silent while it was weighed
    Decimal m_readingBeforeOutage;
    bool m_queueUnreadable = false;
    HistoryRecord m_history;
    QList<Decimal> m_adjustBefore; // Adjust before each choice acted on for this line
    PickCheck* m_pick = nullptr;
    WeighingEvents* m_events = nullptr;
};
