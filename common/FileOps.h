#pragma once
#include "common/Outcome.h"

#include <QByteArray>
#include <QString>
#include <sys/stat.h>
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
// Renames and then syncs the folder of `to` (and of `from` when it is another one), so that
// the new name survives a power cut. Every rename of the station goes through here: this is
// the one place that keeps a rename from being undone by a power cut after "saved".
Outcome rename(const QString& from, const QString& to);
Outcome unlink(const QString& path);
Outcome truncate(int fd, const QString& path, qint64 length);
// Makes the folder's entries (a created, renamed or removed file) survive a power cut.
Outcome syncFolder(const QString& folder);

// The file a symbolic link (or a chain of them) finally names; `path` itself when it is no
// link. A file shared with the plant through a link is rewritten beside its target, so that
// the link stays a link and everyone who opens it sees the rewritten file.
QString followLinks(const QString& path);

// Whether the station may write the file (`st` from stat). Beyond access(), the write bits
// are checked too: a station running as root passes access() even on a file the plant made
// read-only (0444), and that protection must still hold. The reason names the file.
Outcome mayWrite(const QString& path, const struct stat& st);

// Whether another program holds the file (open here as `fd`, read-only) open for writing;
// waits up to `waitMs` for it to close it. A read lease is granted only when nobody has the
// file open for writing, which is what a rewrite must know (a reader loses nothing by it).
// Leases are only granted to the file's owner (or with CAP_LEASE) on local file systems:
// where they are not, `known` is false and the caller cannot tell.
struct Writers {
    bool known = true;
    bool held = false;
    QString holders; // "appender (pid 4711)", when held
};
Writers openForWriting(int fd, int waitMs);

// Writes `bytes` as the whole content of `path` and forces it to disk. The file is created
// with `mode` (permission bits) and never through a symbolic link: a link in its place is
// refused, so that a planted link cannot redirect the write to another file.
Outcome writeWhole(const QString& path, const QByteArray& bytes, mode_t mode = 0644);

// Replaces `path` with `bytes` in one step: written whole to `temp`, synced, renamed over
// `path`, and the folder synced. After a crash the file is either the old or the new one.
// A `path` that is a symbolic link is followed: `temp` (its file name) goes beside the
// target, which is replaced, and the link stays.
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
