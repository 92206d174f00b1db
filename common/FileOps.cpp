#include "common/FileOps.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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
    return ::rename(native(from).constData(), native(to).constData()) == 0 ? Outcome::success()
                                                                           : failure(to, errno);
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
    Outcome o = writeWhole(temp, bytes, mode);
    if (o)
        o = rename(temp, path);
    if (!o) {
        ::unlink(native(temp).constData());
        return o;
    }
    return syncFolder(QFileInfo(path).absolutePath());
}

FolderLock::FolderLock(const QString& file, int waitMs) : m_folder(QFileInfo(file).absolutePath()) {
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
