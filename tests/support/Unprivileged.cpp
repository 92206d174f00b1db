#include "tests/support/Unprivileged.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Child side: drop root for good, run the body, and say by the exit code whether it failed.
[[noreturn]] void runAs(uid_t uid, gid_t gid, const QString& tmp,
                        const std::function<void()>& body) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0 ||
        ::setuid(0) == 0) {
        std::perror("giving up root");
        ::_exit(3);
    }
    qputenv("TMPDIR", QFile::encodeName(tmp));
    body();
    std::fflush(nullptr);
    ::_exit(QTest::currentTestFailed() ? 1 : 0);
}

} // namespace

void runUnprivileged(const std::function<void()>& body) {
    if (::geteuid() != 0) {
        body();
        return;
    }
    const passwd* nobody = ::getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    // Removed by root afterwards, whatever the body left in it.
    QTemporaryDir tmp;
    if (!tmp.isValid() || ::chown(QFile::encodeName(tmp.path()).constData(), uid, gid) != 0) {
        QTest::qFail("no temporary folder for the user nobody", __FILE__, __LINE__);
        return;
    }
    std::fflush(nullptr); // or the child prints this process's buffered output again
    const pid_t pid = ::fork();
    if (pid == 0)
        runAs(uid, gid, tmp.path(), body);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        QTest::qFail("the child process for the user nobody did not run", __FILE__, __LINE__);
        return;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return;
    QByteArray why = "the case ended by signal " + QByteArray::number(WTERMSIG(status));
    if (WIFEXITED(status))
        why = WEXITSTATUS(status) == 3 ? "root could not be given up" : "the case failed";
    why += " (as the user nobody)";
    QTest::qFail(why.constData(), __FILE__, __LINE__);
}
