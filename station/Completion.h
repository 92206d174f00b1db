#pragma once
#include "common/Outcome.h"

#include <QByteArray>
#include <QString>

// Finishing a job writes two files: its history record, then the queue without it. A
// crash between or inside the two must neither lose the job's record nor weigh and log it
// a second time, so the finish is journalled in FINISHING.txt in the working folder.
//
// The steps, in this order, each synced before the next relies on it:
//   1. begin(): the journal (the job as queued, its history record, and the identity of the
//      queue file as it is now) is written to a temporary file, synced, and renamed into
//      place; the folder is synced.
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
namespace Completion {

constexpr const char* kJournal = "FINISHING.txt";

Outcome begin(const QString& workDir, const QString& queueFile, const QByteArray& jobBytes,
              const QByteArray& historyBytes);
Outcome end(const QString& workDir);
bool pending(const QString& workDir);

struct Recovery {
    bool found = false;   // there was a journal
    bool logged = false;  // the history record was appended now (the crash came before it)
    bool removed = false; // the logged job was taken off the queue now
    QString orderNo;
    Outcome outcome = Outcome::success(); // failure: the journal is kept, try again later
};
Recovery recover(const QString& workDir, const QString& queueFile, const QString& twinFile);

} // namespace Completion
