#include "common/RecordFile.h"

#include "common/FileOps.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace RecordFile {

namespace {

QString describe(const QFile& f) {
    return QStringLiteral("%1: %2").arg(QFileInfo(f.fileName()).fileName(), f.errorString());
}

Outcome openForUpdate(QFile& f) {
    if (f.open(QIODevice::ReadWrite))
        return Outcome::success();
    // A file that may be read but not written still counts and reads.
    if (f.exists() && f.open(QIODevice::ReadOnly))
        return Outcome::success();
    return Outcome::failure(describe(f));
}

// A file descriptor closed when it goes out of scope.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

qint64 sizeOf(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? qint64(st.st_size) : -1;
}

// Reads bytes [from, to) of the file.
Outcome readRange(int fd, const QString& path, qint64 from, qint64 to, QByteArray& out) {
    out.resize(to - from);
    qint64 done = 0;
    while (done < out.size()) {
        const ssize_t n =
            ::pread(fd, out.data() + done, size_t(out.size() - done), off_t(from + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return FileOps::failure(path, n < 0 ? errno : EIO);
        done += n;
    }
    return Outcome::success();
}

// The whole records that another program appended to the file (open as `fd`) beyond byte
// `copied`; `copied` moves past them.
Outcome takeAppended(int fd, const QString& path, int length, qint64& copied, QByteArray& out) {
    out.clear();
    const qint64 whole = sizeOf(fd) / length * length;
    if (whole <= copied)
        return Outcome::success();
    const Outcome o = readRange(fd, path, copied, whole, out);
    if (o)
        copied = whole;
    return o;
}

// Appends whole records to `path` at its record boundary and syncs it.
Outcome appendSynced(const QString& path, int length, const QByteArray& bytes, bool syncFolder) {
    const Fd f(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (f.fd < 0)
        return FileOps::failure(path, errno);
    struct stat st;
    if (::fstat(f.fd, &st) != 0)
        return FileOps::failure(path, errno);
    if (Outcome o = FileOps::mayWrite(path, st); !o)
        return o;
    const qint64 size = qint64(st.st_size);
    const qint64 at = size / length * length;
    Outcome o = FileOps::writeAt(f.fd, path, bytes, at);
    if (o)
        o = FileOps::sync(f.fd, path);
    if (!o) {
        // Cut the failed record off again, so that trying again cannot leave it twice.
        (void)FileOps::truncate(f.fd, path, at);
        return o;
    }
    return syncFolder ? FileOps::syncFolder(QFileInfo(path).absolutePath()) : Outcome::success();
}

// Appends at the end as another program's append does (O_APPEND), so that neither can
// overwrite the other, and syncs.
Outcome appendAtEnd(const QString& path, const QByteArray& bytes) {
    const Fd f(::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (f.fd < 0)
        return FileOps::failure(path, errno);
    Outcome o = FileOps::writeAt(f.fd, path, bytes, 0); // the offset is ignored with O_APPEND
    return o ? FileOps::sync(f.fd, path) : o;
}

// After the twin was renamed over the file, a program that opened the old file before the
// rename may still write to it. Its records are carried over until nobody holds the old
// file open for writing: a read lease is granted only then. Where leases are not permitted
// (another owner, a file system without them), a short grace period stands in for it.
Outcome carryOverLateAppends(int oldFd, const QString& path, int length, qint64& copied) {
    QElapsedTimer t;
    t.start();
    bool lastLook = false;
    for (;;) {
        QByteArray late;
        if (Outcome o = takeAppended(oldFd, path, length, copied, late); !o)
            return o;
        if (!late.isEmpty())
            if (Outcome o = appendAtEnd(path, late); !o)
                return o;
        if (lastLook)
            return Outcome::success();
        if (::fcntl(oldFd, F_SETLEASE, F_RDLCK) == 0) {
            ::fcntl(oldFd, F_SETLEASE, F_UNLCK);
            lastLook = true; // nobody writes any more: one more look takes what they wrote
            continue;
        }
        const bool busy = errno == EAGAIN;
        if (busy && t.elapsed() > 200)
            qWarning("%s: still held open for writing by %s after the rewrite", qPrintable(path),
                     qPrintable(FileOps::openForWriting(oldFd, 0).holders));
        if (!busy || t.elapsed() > 200)
            lastLook = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(busy ? 1 : 2));
    }
}

} // namespace

Outcome ensureExists(const QString& path, bool privateFile) {
    QFile f(path);
    if (f.exists())
        return Outcome::success();
    if (!f.open(QIODevice::WriteOnly))
        return Outcome::failure(describe(f));
    if (privateFile)
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return Outcome::success();
}

Count count(const QString& path, int length) {
    Count c;
    QFile f(path);
    if (Outcome o = openForUpdate(f); !o) {
        c.outcome = o;
        return c;
    }
    c.records = f.size() / length;
    return c;
}

Read read(const QString& path, int length, qint64 record) {
    Read r;
    r.bytes = QByteArray(length, '\0');
    QFile f(path);
    if (Outcome o = openForUpdate(f); !o) {
        r.outcome = o;
        return r;
    }
    if (record < 1)
        return r;
    if (!f.seek((record - 1) * length)) {
        r.outcome = Outcome::failure(describe(f));
        return r;
    }
    const QByteArray got = f.read(length);
    if (got.isNull() && f.error() != QFileDevice::NoError) {
        r.outcome = Outcome::failure(describe(f));
        return r;
    }
    r.bytes.replace(0, got.size(), got);
    return r;
}

Read readAll(const QString& path, int length) {
    Read r;
    QFile f(path);
    if (Outcome o = openForUpdate(f); !o) {
        r.outcome = o;
        return r;
    }
    const qint64 whole = f.size() / length * length;
    r.bytes = f.read(whole);
    if (r.bytes.size() != whole) {
        r.outcome = Outcome::failure(describe(f));
        r.bytes.clear();
    }
    return r;
}

Outcome append(const QString& path, int length, const QByteArray& bytes) {
    if (bytes.size() != length)
        return Outcome::failure(QStringLiteral("bad record length"));
    const bool isNew = !QFileInfo::exists(path);
    return appendSynced(path, length, bytes, isNew);
}

Outcome rewrite(const QString& linkedPath, const QString& linkedTwin, int length,
                const Edit& edit) {
    // A shared file reached through a symbolic link is rewritten beside its target.
    const QString path = FileOps::followLinks(linkedPath);
    const QString twin = QFileInfo(path).dir().filePath(QFileInfo(linkedTwin).fileName());
    if (Outcome o = ensureExists(path); !o)
        return o;
    const Fd old(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (old.fd < 0 || ::fstat(old.fd, &st) != 0)
        return FileOps::failure(path, errno);
    // Checked before the twin is made: the twin would be writable whatever the file is.
    if (Outcome o = FileOps::mayWrite(path, st); !o)
        return o;
    qint64 copied = qint64(st.st_size) / length * length;
    QByteArray records;
    if (Outcome o = readRange(old.fd, path, 0, copied, records); !o)
        return o;
    if (Outcome o = edit(records); !o)
        return o;

    const mode_t mode = st.st_mode & 07777;
    Outcome o = Outcome::success();
    {
        const Fd out(::open(QFile::encodeName(twin).constData(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode));
        if (out.fd < 0)
            return errno == ELOOP ? Outcome::failure(QStringLiteral("%1: a symbolic link, refused")
                                                         .arg(QFileInfo(twin).fileName()))
                                  : FileOps::failure(twin, errno);
        // The replaced file keeps the original's permission bits, and its owner where the
        // station may set it (another program's user may have to append to it).
        if (::fchmod(out.fd, mode) != 0)
            o = FileOps::failure(twin, errno);
        if (::fchown(out.fd, st.st_uid, st.st_gid) != 0) {
            // Not permitted for a file of another user: the twin stays the station's own.
        }
        if (o)
            o = FileOps::writeAt(out.fd, twin, records, 0);
        // A program that keeps the file open for writing would go on writing into the old
        // file after the rename, and what it wrote would be lost: it is waited for briefly
        // (an append opens and closes the file within moments), else the rewrite is refused
        // and tried again later. Where leases are not permitted, only the carry-over below
        // stands in for this.
        if (o) {
            const FileOps::Writers w = FileOps::openForWriting(old.fd, 100);
            if (w.held)
                o = Outcome::failure(QStringLiteral("%1: held open for writing by %2, not changed")
                                         .arg(QFileInfo(linkedPath).fileName(), w.holders));
        }
        QByteArray appended;
        if (o)
            o = takeAppended(old.fd, path, length, copied, appended);
        if (o)
            o = FileOps::writeAt(out.fd, twin, appended, records.size());
        if (o)
            o = FileOps::sync(out.fd, twin);
    }
    if (!o) {
        ::unlink(QFile::encodeName(twin).constData());
        return o;
    }
    // The rename is the change: from here on the rewrite has happened, and a failure to
    // sync the folder or to carry over a late append (a failing disk) is logged but not
    // returned. Returned, it would make the caller try the removal again, which would then
    // remove the next record.
    if (Outcome renamed = FileOps::rename(twin, path); !renamed) {
        if (QFileInfo::exists(twin)) { // not renamed
            ::unlink(QFile::encodeName(twin).constData());
            return renamed;
        }
        qWarning("%s", qPrintable(renamed.reason()));
    }
    if (Outcome late = carryOverLateAppends(old.fd, path, length, copied); !late)
        qWarning("%s: records appended during the rewrite may be lost: %s", qPrintable(path),
                 qPrintable(late.reason()));
    return Outcome::success();
}

Outcome write(const QString& path, const QString& twin, int length, qint64 record,
              const QByteArray& bytes) {
    if (record < 1 || bytes.size() != length)
        return Outcome::failure(QStringLiteral("bad record number or length"));
    return rewrite(path, twin, length, [&](QByteArray& records) {
        const qint64 at = (record - 1) * length;
        if (records.size() < at + length)
            records.append(at + length - records.size(), '\0');
        records.replace(at, length, bytes);
        return Outcome::success();
    });
}

} // namespace RecordFile
