#pragma once
#include <QByteArray>
#include <QString>

// A pseudo-terminal for tests: the test holds the master side, the station opens the
// slave side (through `link`, a symbolic link in a folder of the test's choice, or the
// slave's own name).
class Pty {
public:
    explicit Pty(const QString& link = {});
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return m_master >= 0; }
    QString slaveName() const { return m_slave; }
    QString path() const { return m_link.isEmpty() ? m_slave : m_link; }

    // Writes to the station side.
    void write(const QByteArray& bytes);
    // Everything the station has written so far (waits up to `ms` for the first byte).
    QByteArray readAvailable(int ms = 0);

private:
    int m_master = -1;
    int m_slaveFd = -1;
    QString m_slave;
    QString m_link;
};
