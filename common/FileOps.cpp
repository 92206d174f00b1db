#include "common/FileOps.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <thread>
#include <unistd.h>

namespace FileOps {

namespace {

StepHook g_hook = nullptr;

void step(const char* name) {
    if (g_hook)
        g_hook(name);
}

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

} // namespace

void setStepHook(StepHook hook) {
    g_hook = hook;
}

Outcome failure(const QString& path, int error) {
    return Outcome::failure(QStringLiteral("%1: %2").arg(
        QFileInfo(path).fileName(), QString::fromLocal8Bit(std::strerror(error))));
}

Outcome writeAt(int fd, const QString& path, const QByteArray& bytes, qint64 offset) {
    qint64 done = 0;
    while (done < bytes.size()) {
        step("write");
        const size_t n = size_t(bytes.size() - done);
        const ssize_t w = ::pwrite(fd, bytes.constData() + done, n, off_t(offset + done));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return failure(path, w < 0 ? errno : ENOSPC);
        done += w;
    }
    return Outcome::success();
}

Outcome sync(int fd, const QString& path) {
    step("sync");
    // The data and the size; a file's times need not survive a power cut.
    return ::fdatasync(fd) == 0 ? Outcome::success() : failure(path, errno);
}

Outcome rename(const QString& from, const QString& to) {
    step("rename");
    if (::rename(native(from).constData(), native(to).constData()) != 0)
        return failure(to, errno);
    const QString toFolder = QFileInfo(to).absolutePath();
    const QString fromFolder = QFileInfo(from).absolutePath();
    if (fromFolder != toFolder)
        if (Outcome o = syncFolder(fromFolder); !o)
            return o;
    return syncFolder(toFolder);
}

Outcome unlink(const QString& path) {
    step("unlink");
    if (::unlink(native(path).constData()) == 0 || errno == ENOENT)
        return Outcome::success();
    return failure(path, errno);
}

Outcome truncate(int fd, const QString& path, qint64 length) {
    step("truncate");
    return ::ftruncate(fd, off_t(length)) == 0 ? Outcome::success() : failure(path, errno);
}

Outcome syncFolder(const QString& folder) {
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return failure(folder, errno);
    // fsync, not fdatasync: the folder's entries are what must reach the disk.
    step("sync");
    const Outcome o = ::fsync(fd) == 0 ? Outcome::success() : failure(folder, errno);
    ::close(fd);
    return o;
}

QString followLinks(const QString& path) {
    QFileInfo fi(path);
    // 40 links deep, as the kernel allows; a loop is left to fail where the file is opened.
    for (int depth = 0; depth < 40 && fi.isSymLink(); ++depth)
        fi.setFile(fi.symLinkTarget()); // absolute, relative targets resolved from the link
    return fi.isSymLink() ? path : fi.filePath();
}

Outcome mayWrite(const QString& path, const struct stat& st) {
    if (::faccessat(AT_FDCWD, native(path).constData(), W_OK, AT_EACCESS) != 0)
        return failure(path, errno);
    // Root passes access() on any file: the plant's read-only mark (no write bit) still holds.
    if ((st.st_mode & 0222) == 0)
        return Outcome::failure(QStringLiteral("%1: read-only (mode %2), not changed")
                                    .arg(QFileInfo(path).fileName())
                                    .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0')));
    return Outcome::success();
}

namespace {

// The programs with the file (device, inode) open for writing, other than this one.
QString writersOf(dev_t dev, ino_t ino) {
    QStringList found;
    const pid_t self = ::getpid();
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        if (pid.toInt(&numeric) == self || !numeric)
            continue;
        const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
        for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
            struct stat st;
            if (::stat(native(fds.filePath(fd)).constData(), &st) != 0 || st.st_dev != dev ||
                st.st_ino != ino)
                continue;
            QFile info(proc.filePath(pid + QStringLiteral("/fdinfo/") + fd));
            if (!info.open(QIODevice::ReadOnly))
                continue;
            // "flags:\t0102001": octal open flags, the access mode in the low two bits.
            const QByteArray text = info.readAll();
            const qsizetype at = text.indexOf("flags:");
            const int flags =
                at < 0
                    ? 0
                    : text.mid(at + 6, text.indexOf('\n', at) - at - 6).trimmed().toInt(nullptr, 8);
            if ((flags & O_ACCMODE) == O_RDONLY)
                continue;
            QFile comm(proc.filePath(pid + QStringLiteral("/comm")));
            const QString name = comm.open(QIODevice::ReadOnly)
                                     ? QString::fromLocal8Bit(comm.readAll().trimmed())
                                     : QStringLiteral("?");
            found << QStringLiteral("%1 (pid %2)").arg(name, pid);
            break;
        }
    }
    return found.isEmpty() ? QStringLiteral("another program") : found.join(QStringLiteral(", "));
}

} // namespace

Writers openForWriting(int fd, int waitMs) {
    Writers w;
    QElapsedTimer waited;
    waited.start();
    // A lease, however short, is broken by another program's open for writing, and the
    // kernel then signals its holder, with SIGIO unless told otherwise: SIGIO ends a process
    // that does not catch it. SIGURG is ignored unless caught, and nothing here catches it.
    ::fcntl(fd, F_SETSIG, SIGURG);
    for (;;) {
        if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
            ::fcntl(fd, F_SETLEASE, F_UNLCK);
            return w;
        }
        if (errno != EAGAIN) {
            w.known = false;
            return w;
        }
        if (waited.elapsed() >= waitMs)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    w.held = true;
    struct stat st;
    if (::fstat(fd, &st) == 0)
        w.holders = writersOf(st.st_dev, st.st_ino);
    return w;
}

Outcome writeWhole(const QString& path, const QByteArray& bytes, mode_t mode) {
    const int fd = ::open(native(path).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return errno == ELOOP ? Outcome::failure(QStringLiteral("%1: a symbolic link, refused")
                                                     .arg(QFileInfo(path).fileName()))
                              : failure(path, errno);
    // O_TRUNC of an existing file keeps its old bits: set them.
    Outcome o = ::fchmod(fd, mode) == 0 ? Outcome::success() : failure(path, errno);
    if (o)
        o = writeAt(fd, path, bytes, 0);
    if (o)
        o = sync(fd, path);
    ::close(fd);
    return o;
}

Outcome replaceWhole(const QString& path, const QString& temp, const QByteArray& bytes,
                     mode_t mode) {
    const QString target = followLinks(path);
    const QString beside = QFileInfo(target).dir().filePath(QFileInfo(temp).fileName());
    Outcome o = writeWhole(beside, bytes, mode);
    if (o)
        o = rename(beside, target); // the folder synced with it
    if (!o)
        ::unlink(native(beside).constData());
    return o;
}

FolderLock::FolderLock(const QString& file, int waitMs)
    : m_folder(QFileInfo(followLinks(file)).absolutePath()) {
    m_fd = ::open(native(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) {
        m_outcome = failure(m_folder, errno);
        return;
    }
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
            return;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            m_outcome = failure(m_folder, errno);
            break;
        }
        if (waited.elapsed() >= waitMs) {
            m_outcome = Outcome::failure(
                QStringLiteral("%1: locked by another program").arg(QFileInfo(file).fileName()));
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::close(m_fd);
    m_fd = -1;
}

FolderLock::~FolderLock() {
    if (m_fd >= 0)
        ::close(m_fd); // closing releases the lock
}

Outcome FolderLock::syncFolder() const {
    return FileOps::syncFolder(m_folder);
}

} // namespace FileOps
