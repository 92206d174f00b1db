#pragma once
#include "common/Outcome.h"
#include "jobs/JobRecord.h"

#include <QList>
#include <QString>

// The job-file procedures. Each opens the file, works and closes it within the call.
// A missing file is created empty by the operations that open it.
//
// Job files are shared with other programs (another station appends to this station's
// queue), so every writing procedure holds an advisory lock on the file's folder while it
// works; when another program holds it for more than about 100 ms the procedure fails
// ("locked by another program") and the caller tries again later. Whatever moment the
// station dies, every record is whole and either old or new: an append is synced before it
// returns (a cut append leaves a partial tail that readers ignore), and WriteJob and
// RemoveJob never change a record in place: the changed copy goes to the twin, is synced,
// and is renamed over the original (records appended meanwhile are carried over).

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
ReadAllJobsResult readAllJobs(const QString& file);
Outcome WriteJob(const QString& file, qint64 k, const JobRecord& job);
Outcome writeJobBytes(const QString& file, qint64 k, const QByteArray& bytes);
Outcome AppendJob(const QString& file, const JobRecord& job);
Outcome appendJobBytes(const QString& file, const QByteArray& bytes);
Outcome RemoveJob(const QString& file, const QString& twin, qint64 s);
Outcome DeleteJobFile(const QString& file);
// The same for the first `count` records, read before: records appended since (by another
// program or station) stay, alone in the file, rewritten through the twin.
Outcome deleteJobsRead(const QString& file, const QString& twin, qint64 count);

// The twin a job file is rewritten through: "QUICK.txt" -> "QUICK2.txt".
QString twinOf(const QString& file);
