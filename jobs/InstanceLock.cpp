#include "jobs/InstanceLock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceLock::InstanceLock(const QString& workDir) {
    const QString path = QDir(workDir).filePath(QStringLiteral("dyestation.lock"));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        m_error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        char pid[32] = {};
        const ssize_t n = ::pread(fd, pid, sizeof pid - 1, 0);
        ::close(fd);
        const QString holder =
            n > 0 ? QString::fromLatin1(pid, int(n)).trimmed() : QStringLiteral("?");
        m_error =
            busy ? QStringLiteral("工作資料夾 %1 已有工作站在執行 (程序 %2), 不再啟動")
                       .arg(QDir(workDir).absolutePath(), holder)
                 : QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    // The holder's process id, for the message of a second start.
    const QByteArray me = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, me.constData(), size_t(me.size()), 0) < 0) {
        // The lock holds without it; only the message of a second start loses the number.
    }
    m_fd = fd;
}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}
