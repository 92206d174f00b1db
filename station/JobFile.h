#pragma once
#include "common/Outcome.h"
#include "station/JobRecord.h"

#include <QList>
#include <QString>

// The job-file procedures. Each opens the file, works and closes it within the call.
// A missing file is created empty by the operations that open it.
//
// Job files are shared with other programs (another station appends to this station's
// queue), so AppendJob and RemoveJob hold an advisory lock on the file's folder while
// they work. RemoveJob never leaves a moment in which a record exists in neither file:
// the shortened copy goes to the twin, is flushed, and is renamed over the original.

struct JobCountResult {
    qint64 count = 0;
    Outcome outcome = Outcome::success();
};

struct ReadJobResult {
    JobRecord job;
    QByteArray bytes;
    Outcome outcome = Outcome::success();
};

struct ReadAllJobsResult {
    QList<QByteArray> records; // raw 1460-byte records, in file order
    Outcome outcome = Outcome::success();
};

JobCountResult JobCount(const QString& file);
ReadJobResult ReadJob(const QString& file, qint64 k);
ReadAllJobsResult ReadAllJobs(const QString& file);
Outcome WriteJob(const QString& file, qint64 k, const JobRecord& job);
Outcome WriteJobBytes(const QString& file, qint64 k, const QByteArray& bytes);
Outcome AppendJob(const QString& file, const JobRecord& job);
Outcome AppendJobBytes(const QString& file, const QByteArray& bytes);
Outcome RemoveJob(const QString& file, const QString& twin, qint64 s);
Outcome DeleteJobFile(const QString& file);
