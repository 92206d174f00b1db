#pragma once
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

// A small tmpfs mounted for one test; unmounted at the end.
class SmallDisk {
public:
    explicit SmallDisk(int kilobytes) {
        m_path = m_base.filePath(QStringLiteral("disk"));
        QDir().mkpath(m_path);
        m_mounted = run({QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                         QStringLiteral("size=%1k,mode=0755").arg(kilobytes),
                         QStringLiteral("tmpfs"), m_path});
    }
    ~SmallDisk() {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_path});
    }
    bool mounted() const { return m_mounted; }
    bool makeReadOnly() {
        return run({QStringLiteral("-o"), QStringLiteral("remount,ro"), m_path});
    }
    // Fills the disk to the last byte with a file of its own (unbuffered, so that the
    // last partial block is used up too).
    void fill() const {
        const int fd = ::open(QFile::encodeName(file(QStringLiteral("filler"))).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return;
        const QByteArray block(4096, 'x');
        while (::write(fd, block.constData(), size_t(block.size())) > 0) {
        }
        while (::write(fd, "x", 1) == 1) {
        }
        ::close(fd);
    }
    QString path() const { return m_path; }
    QString file(const QString& name) const { return m_path + QLatin1Char('/') + name; }

private:
    static bool run(const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral("mount"), args);
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    }
    QTemporaryDir m_base;
    QString m_path;
    bool m_mounted = false;
};
