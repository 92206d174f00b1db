#pragma once
#include "common/Outcome.h"

#include <QByteArray>
#include <QString>
#include <sys/types.h>

// The file system calls that the station's durable writes are made of. Every write, sync,
// rename, unlink and truncate that a crash could cut goes through here, so that a test can
// stop the program before any one of them (see setStepHook) and check that the files are
// whole-old or whole-new at every step.
namespace FileOps {

// Called before each step with its name ("write", "sync", "rename", "unlink", "truncate").
// Tests install one that kills the process at the n-th step; the station installs none.
using StepHook = void (*)(const char* step);
void setStepHook(StepHook hook);

// "QUICK.txt: No space left on device"
Outcome failure(const QString& path, int error);

// Writes `bytes` at `offset`, repeated after a short write or a signal until everything is
// written or a real error stops it.
Outcome writeAt(int fd, const QString& path, const QByteArray& bytes, qint64 offset);
Outcome sync(int fd, const QString& path);
Outcome rename(const QString& from, const QString& to);
Outcome unlink(const QString& path);
Outcome truncate(int fd, const QString& path, qint64 length);
// Makes the folder's entries (a created, renamed or removed file) survive a power cut.
Outcome syncFolder(const QString& folder);

// Writes `bytes` as the whole content of `path` and forces it to disk. The file is created
// with `mode` (permission bits) and never through a symbolic link: a link in its place is
// refused, so that a planted link cannot redirect the write to another file.
Outcome writeWhole(const QString& path, const QByteArray& bytes, mode_t mode = 0644);

// Replaces `path` with `bytes` in one step: written whole to `temp`, synced, renamed over
// `path`, and the folder synced. After a crash the file is either the old or the new one.
Outcome replaceWhole(const QString& path, const QString& temp, const QByteArray& bytes,
                     mode_t mode = 0644);

// An advisory lock on the folder that holds `file`, held for one operation. A folder lock
// (rather than a lock on the file) stays valid while the file is replaced by rename.
// Another program holding it is waited for at most `waitMs`: the station's timers must not
// stand still behind it, so the caller gets a failure and tries again later.
class FolderLock {
public:
    explicit FolderLock(const QString& file, int waitMs = 100);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    const Outcome& outcome() const { return m_outcome; }
    explicit operator bool() const { return m_outcome.ok(); }
    Outcome syncFolder() const;

private:
    int m_fd = -1;
    QString m_folder;
    Outcome m_outcome = Outcome::success();
};

} // namespace FileOps
