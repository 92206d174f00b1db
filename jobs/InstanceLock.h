#pragma once
#include <QString>

// One station process to a working folder: an exclusive lock (flock) on dyestation.lock
// in the folder, held by an open file for the life of the process. The kernel releases it
// when the process ends, however it ends, so a crash never leaves the folder locked.
class InstanceLock {
public:
    explicit InstanceLock(const QString& workDir);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    bool held() const { return m_fd >= 0; }
    // Why the folder could not be taken (another station holds it, or the file failed).
    const QString& error() const { return m_error; }

private:
    int m_fd = -1;
    QString m_error;
};
