#pragma once
#include "common/Outcome.h"

#include <QByteArray>
#include <QString>

// Finishing a job writes two files: its history record, then the queue without it. A
// crash between the two would leave a logged job at the head of the queue, and the next
// start would weigh and log it again. So the finish is journalled: before the history
// record is appended, the job and its record are written to FINISHING.txt in the working
// folder and forced to disk; once the job is off the queue the journal is removed. At
// start-up, recover() completes a finish that a crash cut off.
namespace Completion {

constexpr const char* kJournal = "FINISHING.txt";

Outcome begin(const QString& workDir, const QByteArray& jobBytes, const QByteArray& historyBytes);
void end(const QString& workDir);

struct Recovery {
    bool removed = false; // the logged job was taken off the queue
    QString orderNo;
    Outcome outcome = Outcome::success();
};
// When the journal's history record is in its month's file and record 1 of the queue is
// still the journal's job, the job is removed from the queue. A journal without its
// history record (the crash came first) changes nothing: the job is weighed again.
Recovery recover(const QString& workDir, const QString& queueFile, const QString& twinFile);

} // namespace Completion
