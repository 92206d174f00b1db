#include "tests/support/Pty.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

Pty::Pty(const QString& link) : m_link(link) {
    char name[256] = {};
    struct termios raw {};
    cfmakeraw(&raw);
    if (openpty(&m_master, &m_slaveFd, name, &raw, nullptr) != 0) {
        m_master = -1;
        return;
    }
    m_slave = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (!m_link.isEmpty()) {
        QFile::remove(m_link);
        QFile::link(m_slave, m_link);
    }
}

Pty::~Pty() {
    if (!m_link.isEmpty())
        QFile::remove(m_link);
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
    if (m_master >= 0)
        ::close(m_master);
}

void Pty::write(const QByteArray& bytes) {
    qsizetype done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
}

QByteArray Pty::readAvailable(int ms) {
    QByteArray out;
    if (m_master < 0)
        return out;
    struct pollfd p {
        m_master, POLLIN, 0
    };
    if (::poll(&p, 1, ms) <= 0)
        return out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}
