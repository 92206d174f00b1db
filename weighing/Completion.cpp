#include "weighing/Completion.h"

#include "common/FileOps.h"
#include "common/TextField.h"
#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "weighing/WeighingModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace Completion {

namespace {

// The journal: the job record, its history record (zero bytes while the job is weighed),
// then lines of text: "queue <device> <inode>" (the queue file when it was written, or
// "queue rewriting" while a queue command rewrites it without touching its head),
// "accepted <line> <balance> <actual> <time>" for each accepted line, and "current <line>
// <amount>" for the line being weighed. A journal of the two records alone was written by
// an older version of the station.
constexpr int kRecords = JobRecord::kLength + HistoryRecord::kLength;

QString journal(const QString& workDir) {
    return QDir(workDir).filePath(QLatin1String(kJournal));
}
QString oldJournal(const QString& workDir) {
    return QDir(workDir).filePath(QLatin1String(kOldJournal));
}

Outcome failure(const QString& why) {
    return Outcome::failure(QStringLiteral("%1: %2").arg(QLatin1String(kJournal), why));
}

bool exists(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

constexpr char kRewriting[] = "rewriting";

struct Entry {
    QByteArray job, history, queueIdentity;
    bool hasIdentity = false;
    bool rewriting = false; // the queue file's head is compared alone
    Progress progress;
    bool finishing() const { return history.count('\0') != history.size(); }
};

QByteArray encode(const QByteArray& job, const QByteArray& history, const QByteArray& identity,
                  const Progress& progress) {
    QByteArray e = job + history + "queue " + identity + '\n';
    for (const Progress::Accepted& a : progress.accepted)
        e += "accepted " + QByteArray::number(a.line) + ' ' + QByteArray::number(a.balance) + ' ' +
             a.actual.toUtf8().toPercentEncoding() + ' ' +
             a.at.toString(Qt::ISODateWithMs).toLatin1() + '\n';
    if (progress.line > 0)
        e += "current " + QByteArray::number(progress.line) + ' ' +
             progress.amount.toUtf8().toPercentEncoding() + '\n';
    return e;
}

bool parseLines(const QByteArray& tail, Entry& e) {
    for (const QByteArray& line : tail.split('\n')) {
        const QList<QByteArray> w = line.split(' ');
        if (line.isEmpty())
            continue;
        if (w[0] == "queue" && w.size() == 3) {
            e.hasIdentity = true;
            e.queueIdentity = w[1] + ' ' + w[2];
        } else if (w[0] == "queue" && w.size() == 2 && w[1] == kRewriting) {
            e.hasIdentity = true;
            e.rewriting = true;
        } else if (w[0] == "accepted" && w.size() == 5) {
            e.progress.accepted.append(
                {w[1].toInt(), QString::fromUtf8(QByteArray::fromPercentEncoding(w[3])),
                 w[2].toInt(),
                 QDateTime::fromString(QString::fromLatin1(w[4]), Qt::ISODateWithMs)});
        } else if (w[0] == "current" && w.size() == 3) {
            e.progress.line = w[1].toInt();
            e.progress.amount = QString::fromUtf8(QByteArray::fromPercentEncoding(w[2]));
        } else {
            return false;
        }
    }
    return tail.isEmpty() || tail.endsWith('\n');
}

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
    const QByteArray all = f.read(kRecords + 64 * 1024);
    malformed = true;
    if (all.size() < kRecords)
        return failure(QStringLiteral("incomplete (%1 bytes)").arg(all.size()));
    e.job = all.left(JobRecord::kLength);
    e.history = all.mid(JobRecord::kLength, HistoryRecord::kLength);
    if (!parseLines(all.mid(kRecords), e))
        return failure(QStringLiteral("unreadable"));
    malformed = false;
    return Outcome::success();
}

Outcome write(const QString& workDir, const QByteArray& entry) {
    // Written whole, synced and renamed (the folder synced): old or new, never torn.
    const QString path = journal(workDir);
    return FileOps::replaceWhole(path, path + QStringLiteral(".new"), entry);
}

// The journal again with another queue line, synced; nothing when there is none.
Outcome restamp(const QString& workDir, const QByteArray& queueLine) {
    if (!exists(journal(workDir)))
        return Outcome::success();
    Entry e;
    bool malformed = false;
    if (Outcome o = readJournal(journal(workDir), e, malformed); !o)
        return o;
    return write(workDir, encode(e.job, e.history, queueLine, e.progress));
}

} // namespace

Outcome beforeRewrite(const QString& workDir) {
    return restamp(workDir, QByteArray(kRewriting));
}

Outcome afterRewrite(const QString& workDir, const QString& queueFile) {
    return restamp(workDir, identity(queueFile));
}

QByteArray identity(const QString& file) {
    struct stat st;
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return QByteArray();
    return QByteArray::number(quint64(st.st_dev)) + ' ' + QByteArray::number(quint64(st.st_ino));
}

Outcome record(const QString& workDir, const QString& queueFile, const QByteArray& jobBytes,
               const Progress& progress) {
    if (jobBytes.size() != JobRecord::kLength)
        return failure(QStringLiteral("bad entry"));
    return write(workDir, encode(jobBytes, QByteArray(HistoryRecord::kLength, '\0'),
                                 identity(queueFile), progress));
}

Outcome begin(const QString& workDir, const QString& queueFile, const QByteArray& jobBytes,
              const QByteArray& historyBytes, const Progress& progress) {
    if (jobBytes.size() != JobRecord::kLength || historyBytes.size() != HistoryRecord::kLength)
        return failure(QStringLiteral("bad entry"));
    return write(workDir, encode(jobBytes, historyBytes, identity(queueFile), progress));
}

Outcome end(const QString& workDir) {
    if (Outcome o = FileOps::unlink(journal(workDir)); !o)
        return o;
    if (exists(oldJournal(workDir)))
        if (Outcome o = FileOps::unlink(oldJournal(workDir)); !o)
            return o;
    return FileOps::syncFolder(workDir);
}

Outcome setAside(const QString& workDir) {
    const QString aside = QDir(workDir).filePath(QLatin1String(kSetAsideJournal));
    if (Outcome o = discardSetAside(workDir); !o) // an older one is no longer the last removal
        return o;
    if (exists(journal(workDir)))
        if (Outcome o = FileOps::rename(journal(workDir), aside); !o)
            return o;
    return end(workDir); // an older journal too, and the folder synced
}

Outcome discardSetAside(const QString& workDir) {
    for (const char* name : {kSetAsideJournal, kRestoredJournal}) {
        const QString path = QDir(workDir).filePath(QLatin1String(name));
        if (exists(path))
            if (Outcome o = FileOps::unlink(path); !o)
                return o;
    }
    return Outcome::success();
}

Outcome discardSetAsideOf(const QString& workDir, const QByteArray& jobBytes) {
    for (const char* name : {kSetAsideJournal, kRestoredJournal}) {
        const QString path = QDir(workDir).filePath(QLatin1String(name));
        Entry e;
        bool malformed = false;
        if (exists(path) && (!readJournal(path, e, malformed) || e.job == jobBytes))
            if (Outcome o = FileOps::unlink(path); !o)
                return o;
    }
    return Outcome::success();
}

Outcome markRestored(const QString& workDir) {
    const QString aside = QDir(workDir).filePath(QLatin1String(kSetAsideJournal));
    if (!exists(aside))
        return Outcome::success();
    return FileOps::rename(aside, QDir(workDir).filePath(QLatin1String(kRestoredJournal)));
}

Reinstatement reinstate(const QString& workDir, const QString& queueFile, bool restored) {
    const QString aside =
        QDir(workDir).filePath(QLatin1String(restored ? kRestoredJournal : kSetAsideJournal));
    Entry e;
    bool malformed = false;
    if (!exists(aside) || pending(workDir) || !readJournal(aside, e, malformed) || e.finishing())
        return {};
    const ReadJobResult head = ReadJob(queueFile, 1);
    if (!head.outcome || head.bytes != e.job)
        return {};
    const QByteArray entry = encode(e.job, e.history, identity(queueFile), e.progress);
    if (Outcome o = write(workDir, entry); !o)
        return {false, o};
    // Left behind, it would only be reinstated again onto this same job at its head.
    std::ignore = discardSetAside(workDir);
    return {true};
}

bool pending(const QString& workDir) {
    return exists(journal(workDir)) || exists(oldJournal(workDir));
}

Recovery recover(const QString& workDir, const QString& queueFile, const QString& twinFile) {
    Recovery r;
    if (!pending(workDir))
        return r;
    r.found = true;
    Entry e;
    bool malformed = false;
    const QString path = exists(journal(workDir)) ? journal(workDir) : oldJournal(workDir);
    if (Outcome o = readJournal(path, e, malformed); !o) {
        // The journal is written whole and renamed into place, so a malformed one was not
        // written by the station: it names no finish to complete and is dropped. Any other
        // failure (a symbolic link in its place, a read error) keeps it.
        r.outcome = o;
        if (malformed && !end(workDir))
            r.outcome = failure(o.reason() + QStringLiteral(", cannot be removed"));
        return r;
    }
    r.orderNo = JobRecord::decode(e.job).OrderNo;

    if (!e.finishing()) {
        // A job being weighed: resumed by the sequencer when it is still the head of the
        // same queue file (not removed and replaced by an identical job meanwhile).
        r.weighing = true;
        r.jobBytes = e.job;
        r.progress = e.progress;
        const ReadJobResult first =
            (e.rewriting || identity(queueFile) == e.queueIdentity) && JobCount(queueFile).count > 0
                ? ReadJob(queueFile, 1)
                : ReadJobResult{};
        r.headMatches = first.outcome && first.bytes == e.job;
        return r;
    }

    // Step 2: the history record, appended when the crash came before it was.
    const HistoryLookup h = findHistoryBytes(workDir, e.history);
    if (!h.outcome) {
        r.outcome = h.outcome;
        return r;
    }
    if (!h.found) {
        if (Outcome o = appendHistoryBytes(workDir, e.history); !o) {
            r.outcome = o;
            return r;
        }
        r.logged = true;
    }

    // Step 3: the removal, unless the queue file was already replaced by it. A journal of
    // an older version names no identity: the head is compared alone, as it did.
    const QByteArray now = identity(queueFile);
    if (!now.isEmpty() && (!e.hasIdentity || e.rewriting || now == e.queueIdentity)) {
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

HistoryRecord historyFromLineTable(const QString& orderNo,
                                   const std::array<QString, 201>& lineTable,
                                   const QDateTime& completed) {
    HistoryRecord h;
    h.OrderNo = TextField::trimSpaces(orderNo);
    for (int i = 1; i <= HistoryRecord::kLines; ++i) {
        h.Code[size_t(i)] = lineTable[lineSlot(i, LineSlot::Code)];
        h.B01[size_t(i)] = lineTable[lineSlot(i, LineSlot::B01)];
        h.Target[size_t(i)] = lineTable[lineSlot(i, LineSlot::Target)];
        h.Actual[size_t(i)] = lineTable[lineSlot(i, LineSlot::Actual)];
    }
    h.Completed = completed;
    return h;
}
