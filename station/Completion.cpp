#include "station/Completion.h"

#include "common/FileOps.h"
#include "station/History.h"
#include "station/JobFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Completion {

namespace {

// The journal: the job record, its history record, then a line naming the queue file's
// identity when the finish began ("queue <device> <inode>\n"). A journal of the two
// records alone was written by an older version of the station.
constexpr int kRecords = JobRecord::kLength + HistoryRecord::kLength;

QString journal(const QString& workDir) {
    return QDir(workDir).filePath(QLatin1String(kJournal));
}

Outcome failure(const QString& why) {
    return Outcome::failure(QStringLiteral("%1: %2").arg(QLatin1String(kJournal), why));
}

// The queue file's device and inode; empty when it does not exist.
QByteArray identity(const QString& file) {
    struct stat st;
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return QByteArray();
    return QByteArray::number(quint64(st.st_dev)) + ' ' + QByteArray::number(quint64(st.st_ino));
}

struct Entry {
    QByteArray job, history, queueIdentity;
    bool hasIdentity = false;
};

// Reads the journal without following a symbolic link in its place. `malformed`: it was
// read but holds no whole entry.
Outcome readJournal(const QString& path, Entry& e, bool& malformed) {
    malformed = false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ELOOP ? failure(QStringLiteral("a symbolic link, refused"))
                              : FileOps::failure(path, errno);
    QFile f;
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failure(f.errorString());
    }
    const QByteArray all = f.read(kRecords + 200);
    malformed = true;
    if (all.size() < kRecords)
        return failure(QStringLiteral("incomplete (%1 bytes)").arg(all.size()));
    e.job = all.left(JobRecord::kLength);
    e.history = all.mid(JobRecord::kLength, HistoryRecord::kLength);
    const QByteArray tail = all.mid(kRecords);
    if (tail.startsWith("queue ") && tail.endsWith('\n')) {
        e.hasIdentity = true;
        e.queueIdentity = tail.mid(6).chopped(1);
    } else if (!tail.isEmpty()) {
        return failure(QStringLiteral("unreadable"));
    }
    malformed = false;
    return Outcome::success();
}

} // namespace

Outcome begin(const QString& workDir, const QString& queueFile, const QByteArray& jobBytes,
              const QByteArray& historyBytes) {
    if (jobBytes.size() != JobRecord::kLength || historyBytes.size() != HistoryRecord::kLength)
        return failure(QStringLiteral("bad entry"));
    const QByteArray entry = jobBytes + historyBytes + "queue " + identity(queueFile) + '\n';
    return FileOps::replaceWhole(journal(workDir), journal(workDir) + QStringLiteral(".new"),
                                 entry);
}

Outcome end(const QString& workDir) {
    if (Outcome o = FileOps::unlink(journal(workDir)); !o)
        return o;
    return FileOps::syncFolder(workDir);
}

bool pending(const QString& workDir) {
    struct stat st;
    return ::lstat(QFile::encodeName(journal(workDir)).constData(), &st) == 0;
}

Recovery recover(const QString& workDir, const QString& queueFile, const QString& twinFile) {
    Recovery r;
    if (!pending(workDir))
        return r;
    r.found = true;
    Entry e;
    bool malformed = false;
    if (Outcome o = readJournal(journal(workDir), e, malformed); !o) {
        // The journal is written whole and renamed into place, so a malformed one was not
        // written by the station: it names no finish to complete and is dropped. Any other
        // failure (a symbolic link in its place, a read error) keeps it.
        r.outcome = o;
        if (malformed && !end(workDir))
            r.outcome = failure(o.reason() + QStringLiteral(", cannot be removed"));
        return r;
    }
    r.orderNo = JobRecord::decode(e.job).OrderNo;

    // Step 2: the history record, appended when the crash came before it was.
    const HistoryLookup h = FindHistoryBytes(workDir, e.history);
    if (!h.outcome) {
        r.outcome = h.outcome;
        return r;
    }
    if (!h.found) {
        if (Outcome o = AppendHistoryBytes(workDir, e.history); !o) {
            r.outcome = o;
            return r;
        }
        r.logged = true;
    }

    // Step 3: the removal, unless the queue file was already replaced by it. A journal of
    // an older version names no identity: the head is compared alone, as it did.
    const QByteArray now = identity(queueFile);
    if (!now.isEmpty() && (!e.hasIdentity || now == e.queueIdentity)) {
        const JobCountResult c = JobCount(queueFile);
        if (!c.outcome) {
            r.outcome = c.outcome;
            return r;
        }
        if (c.count > 0) {
            const ReadJobResult first = ReadJob(queueFile, 1);
            if (!first.outcome) {
                r.outcome = first.outcome;
                return r;
            }
            if (first.bytes == e.job) {
                if (Outcome o = RemoveJob(queueFile, twinFile, 1); !o) {
                    r.outcome = o;
                    return r;
                }
                r.removed = true;
            }
        }
    }
    r.outcome = end(workDir);
    return r;
}

} // namespace Completion
