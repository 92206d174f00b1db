#include "jobs/JobFile.h"

#include "common/FileOps.h"
#include "common/RecordFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int L = JobRecord::kLength;

QString name(const QString& path) {
    return QFileInfo(path).fileName();
}

Outcome fail(const QString& path, const QString& why) {
    return Outcome::failure(QStringLiteral("%1: %2").arg(name(path), why));
}

// Removes the job file; one reached through a symbolic link is removed at its target, so
// that the link stays and the next append through it starts the file again.
Outcome unlinkShared(const QString& file, const FileOps::FolderLock& lock) {
    const QString target = FileOps::followLinks(file);
    struct stat st;
    if (::stat(QFile::encodeName(target).constData(), &st) != 0)
        return Outcome::success(); // no file
    if (Outcome o = FileOps::mayWrite(target, st); !o)
        return o;
    // A program holding it open for writing would go on writing into the removed file.
    if (const int fd = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_CLOEXEC);
        fd >= 0) {
        const FileOps::Writers w = FileOps::openForWriting(fd, 100);
        ::close(fd);
        if (w.held)
            return fail(file,
                        QStringLiteral("held open for writing by %1, not changed").arg(w.holders));
    }
    if (Outcome o = FileOps::unlink(target); !o)
        return o;
    return lock.syncFolder();
}

} // namespace

QString twinOf(const QString& file) {
    const QFileInfo fi(file);
    const QString suffix = fi.suffix();
    const QString twin = fi.completeBaseName() + QLatin1Char('2') +
                         (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
    return fi.dir().filePath(twin);
}

JobCountResult JobCount(const QString& file) {
    const RecordFile::Count c = RecordFile::count(file, L);
    return {c.records, c.outcome};
}

ReadJobResult ReadJob(const QString& file, qint64 k) {
    ReadJobResult r;
    const RecordFile::Count c = RecordFile::count(file, L);
    if (!c.outcome) {
        r.outcome = c.outcome;
        return r;
    }
    if (k < 1 || k > c.records) {
        r.outcome = fail(file, QStringLiteral("no record %1 (%2 records)").arg(k).arg(c.records));
        return r;
    }
    const RecordFile::Read rd = RecordFile::read(file, L, k);
    r.outcome = rd.outcome;
    if (rd.outcome) {
        r.bytes = rd.bytes;
        r.job = JobRecord::decode(rd.bytes);
    }
    return r;
}

ReadAllJobsResult readAllJobs(const QString& file) {
    ReadAllJobsResult r;
    const RecordFile::Read rd = RecordFile::readAll(file, L);
    r.outcome = rd.outcome;
    for (qsizetype off = 0; off + L <= rd.bytes.size(); off += L)
        r.records.append(rd.bytes.mid(off, L));
    return r;
}

Outcome writeJobBytes(const QString& file, qint64 k, const QByteArray& bytes) {
    // Never in place: a record written over an old one can be cut half old, half new.
    const FileOps::FolderLock lock(file);
    if (!lock)
        return lock.outcome();
    return RecordFile::write(file, twinOf(file), L, k, bytes);
}

Outcome WriteJob(const QString& file, qint64 k, const JobRecord& job) {
    return writeJobBytes(file, k, job.encode());
}

Outcome appendJobBytes(const QString& file, const QByteArray& bytes) {
    const FileOps::FolderLock lock(file);
    if (!lock)
        return lock.outcome();
    return RecordFile::append(file, L, bytes);
}

Outcome AppendJob(const QString& file, const JobRecord& job) {
    return appendJobBytes(file, job.encode());
}

Outcome RemoveJob(const QString& file, const QString& twin, qint64 s) {
    const FileOps::FolderLock lock(file);
    if (!lock)
        return lock.outcome();
    return RecordFile::rewrite(file, twin, L, [&](QByteArray& records) {
        const qint64 n = records.size() / L;
        if (s < 1 || s > n)
            return fail(file, QStringLiteral("no record %1 (%2 records)").arg(s).arg(n));
        records.remove((s - 1) * L, L);
        return Outcome::success();
    });
}

Outcome deleteJobsRead(const QString& file, const QString& twin, qint64 count) {
    const FileOps::FolderLock lock(file);
    if (!lock)
        return lock.outcome();
    if (QFileInfo(file).size() > count * L)
        return RecordFile::rewrite(file, twin, L, [&](QByteArray& records) {
            records.remove(0, std::min(records.size(), count * L));
            return Outcome::success();
        });
    return unlinkShared(file, lock);
}

Outcome DeleteJobFile(const QString& file) {
    const FileOps::FolderLock lock(file);
    if (!lock)
        return lock.outcome();
    return unlinkShared(file, lock);
}
