#pragma once
#include "common/Outcome.h"
#include "history/HistoryRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <array>

// The journal of the job in progress, JOURNAL.txt in the working folder. It lets a restart
// after a crash or a power cut go on where the station stopped, so that no line is weighed
// twice and no job is lost, weighed or logged twice.
//
// While the job is weighed the journal holds the job as queued and its progress: each line
// when it is accepted (its actual exactly as it goes to the history record), and the amount
// weighed so far on the line being weighed, written at least once a second while it
// changes. Each write goes to a temporary file that is synced and renamed into place, so
// the journal is always whole, old or new.
//
// Finishing a job writes two more files: its history record, then the queue without it.
// The steps, in this order, each synced before the next relies on it:
//   1. begin(): the journal gains the job's history record and the identity of the queue
//      file as it is now; written, synced and renamed into place; the folder synced.
//   2. The history record is appended to its month's file, which is synced.
//   3. The job is removed from the queue: the shortened copy is written to the twin,
//      synced, renamed over the queue, and the folder synced. The rename gives the queue
//      file a new identity (inode), which is how a restart tells "already removed" from "an
//      identical next job is now at the head".
//   4. end(): the journal is unlinked and the folder synced.
// recover() at start-up completes a journalled finish from whatever step it stopped at:
// it appends the history record when the month's file does not hold it yet, removes the
// job when the queue file is still the one the journal names and its record 1 is the job,
// and then drops the journal. When a file cannot be read or written it keeps the journal
// and reports, and is called again later; no job is weighed while a journal is pending.
// A journal of a job still being weighed is left to the sequencer, which resumes the job
// when it is still at the head of the queue (see Progress).
namespace Completion {

constexpr const char* kJournal = "JOURNAL.txt";
// Written by earlier versions of the station for the finish alone; read when found.
constexpr const char* kOldJournal = "FINISHING.txt";

// How far the weighing of the job got.
struct Progress {
    struct Accepted {
        int line = 0;
        QString actual;  // as in the history record
        int balance = 0; // LineBalanceCode
        QDateTime at;
        friend bool operator==(const Accepted&, const Accepted&) = default;
    };
    QList<Accepted> accepted;
    int line = 0;   // the line being weighed, 0 none
    QString amount; // weighed so far on it (reading plus adjustment), "" none
    friend bool operator==(const Progress&, const Progress&) = default;
};

// The job is being weighed: the journal is written, synced, renamed into place and its
// folder synced.
Outcome record(const QString& workDir, const QString& queueFile, const QByteArray& jobBytes,
               const Progress& progress);
Outcome begin(const QString& workDir, const QString& queueFile, const QByteArray& jobBytes,
              const QByteArray& historyBytes, const Progress& progress = {});
Outcome end(const QString& workDir);
bool pending(const QString& workDir);

// The job being weighed was removed from the queue (DEL, 取消全部): its journal is set
// aside instead of dropped, so that an undo putting the job back resumes it and never asks
// again for the lines already weighed. Any other removal discards what was set aside: only
// the removal just made can be put back with its progress. The start of another job keeps
// it; the start of the same record (a copy, which cannot be told from it) gives it up.
constexpr const char* kSetAsideJournal = "JOURNAL.removed";
// Set aside and put back by an undo behind other jobs: resumed when it reaches the head.
constexpr const char* kRestoredJournal = "JOURNAL.restored";
Outcome setAside(const QString& workDir);
Outcome discardSetAside(const QString& workDir);
// At the start of the job `jobBytes`: discards what was set aside for the same record.
Outcome discardSetAsideOf(const QString& workDir, const QByteArray& jobBytes);
// When the job set aside (`restored`: and put back by an undo) is at the head of the queue,
// its journal is reinstated, naming the queue file as it is now.
struct Reinstatement {
    bool reinstated = false;
    // Failure: the job is at the head but its journal could not be written; what was set
    // aside stays. Success and not reinstated: nothing set aside, or not for the head.
    Outcome outcome = Outcome::success();
};
Reinstatement reinstate(const QString& workDir, const QString& queueFile, bool restored = false);
// After an undo that put the set-aside job back behind others.
Outcome markRestored(const QString& workDir);
// A queue command rewrites the queue file (a new file through the twin) without touching
// its head, the job the journal is about: before, the journal names no file, so that a stop
// in between still finds its job at the head; after, it names the new file.
Outcome beforeRewrite(const QString& workDir);
Outcome afterRewrite(const QString& workDir, const QString& queueFile);
// A file's device and inode ("" when it does not exist): a rewrite through the twin changes it.
QByteArray identity(const QString& file);

struct Recovery {
    bool found = false;   // there was a journal
    bool logged = false;  // the history record was appended now (the crash came before it)
    bool removed = false; // the logged job was taken off the queue now
    QString orderNo;
    Outcome outcome = Outcome::success(); // failure: the journal is kept, try again later

    // A job that was being weighed (not finishing): the journal is kept for the caller.
    bool weighing = false;
    bool headMatches = false; // record 1 of the queue is that job, in the same queue file
    QByteArray jobBytes;
    Progress progress;
};
Recovery recover(const QString& workDir, const QString& queueFile, const QString& twinFile);

} // namespace Completion

// The record of a finished job from the sequencer's line slots (for line i: slot 10 i
// code, 10 i + 1 B01 text, 10 i + 2 target, 10 i + 3 actual).
HistoryRecord historyFromLineTable(const QString& orderNo,
                                   const std::array<QString, 201>& lineTable,
                                   const QDateTime& completed);
