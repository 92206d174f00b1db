#include "station/JobFile.h"

#include "common/RecordFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int L = JobRecord::kLength;

// An advisory lock on the folder that holds a job file, held for one operation. A folder
// lock (rather than a lock on the file) stays valid while the file is replaced by rename.
class FolderLock {
public:
    explicit FolderLock(const QString& file) {
        const QByteArray dir = QFile::encodeName(QFileInfo(file).absolutePath());
        m_fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd >= 0)
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~FolderLock() {
        if (m_fd >= 0)
            ::close(m_fd); // closing releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    void syncFolder() const {
        if (m_fd >= 0)
            ::fsync(m_fd);
    }

private:
    int m_fd = -1;
};

QString name(const QString& path) { return QFileInfo(path).fileName(); }

Outcome fail(const QString& path, const QString& why) {
    return Outcome::failure(QStringLiteral("%1: %2").arg(name(path), why));
}

// Writes `bytes` as the whole content of `path` and forces it to disk.
Outcome writeDurably(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(path, f.errorString());
    if (f.write(bytes) != bytes.size() || !f.flush())
        return fail(path, f.errorString());
    if (::fsync(f.handle()) != 0)
        return fail(path, QString::fromLocal8Bit(std::strerror(errno)));
    return Outcome::success();
}

} // namespace

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

ReadAllJobsResult ReadAllJobs(const QString& file) {
    ReadAllJobsResult r;
    const RecordFile::Read rd = RecordFile::readAll(file, L);
    r.outcome = rd.outcome;
    for (qsizetype off = 0; off + L <= rd.bytes.size(); off += L)
        r.records.append(rd.bytes.mid(off, L));
    return r;
}

Outcome WriteJobBytes(const QString& file, qint64 k, const QByteArray& bytes) {
    if (Outcome o = RecordFile::write(file, L, k, bytes); !o)
        return fail(file, o.reason());
    return Outcome::success();
}

Outcome WriteJob(const QString& file, qint64 k, const JobRecord& job) {
    return WriteJobBytes(file, k, job.encode());
}

Outcome AppendJobBytes(const QString& file, const QByteArray& bytes) {
    FolderLock lock(file);
    if (Outcome o = RecordFile::append(file, L, bytes); !o)
        return fail(file, o.reason());
    return Outcome::success();
}

Outcome AppendJob(const QString& file, const JobRecord& job) { return AppendJobBytes(file, job.encode()); }

Outcome RemoveJob(const QString& file, const QString& twin, qint64 s) {
    FolderLock lock(file);
    const RecordFile::Read all = RecordFile::readAll(file, L);
    if (!all.outcome)
        return all.outcome;
    const qint64 n = all.bytes.size() / L;
    if (s < 1 || s > n)
        return fail(file, QStringLiteral("no record %1 (%2 records)").arg(s).arg(n));

    // The shortened copy, written whole into the twin (a twin left by an interrupted
    // removal is simply overwritten).
    QByteArray shortened = all.bytes;
    shortened.remove((s - 1) * L, L);
    // A program that does not take the lock may have appended meanwhile: carry its
    // records over so that nothing appended during the removal is lost.
    QFile now(file);
    if (now.size() >= all.bytes.size() + L && now.open(QIODevice::ReadOnly)) {
        now.seek(all.bytes.size());
        const QByteArray extra = now.read((now.size() - all.bytes.size()) / L * L);
        shortened += extra;
        now.close();
    }
    if (Outcome o = writeDurably(twin, shortened); !o) {
        QFile::remove(twin);
        return o;
    }
    if (::rename(QFile::encodeName(twin).constData(), QFile::encodeName(file).constData()) != 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(twin);
        return fail(file, why);
    }
    lock.syncFolder();
    return Outcome::success();
}

Outcome DeleteJobFile(const QString& file) {
    FolderLock lock(file);
    QFile f(file);
    if (!f.exists())
        return Outcome::success();
    if (!f.remove())
        return fail(file, f.errorString());
    lock.syncFolder();
    return Outcome::success();
}
