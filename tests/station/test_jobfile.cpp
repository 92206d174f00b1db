#include "common/FileOps.h"
#include "common/OleDate.h"
#include "jobs/JobFile.h"
#include "tests/support/TestSupport.h"
#include "tests/support/Unprivileged.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

JobRecord job(const QString& order, int lines = 2) {
    JobRecord j;
    j.OrderNo = order;
    j.OutputPos = QStringLiteral("B7");
    for (int i = 1; i <= lines; ++i) {
        j.Code[size_t(i)] = QStringLiteral("DYE-%1").arg(i);
        j.Weight[size_t(i)] = QStringLiteral("%1.5").arg(i * 10);
    }
    return j;
}

QByteArray field(const QByteArray& text, int width) {
    return text + QByteArray(width - text.size(), ' ');
}

} // namespace

class TestJobFile : public QObject {
    Q_OBJECT
private slots:
    void layoutByteExact() {
        JobRecord j;
        j.OrderNo = QStringLiteral("單號-1");
        j.OutputPos = QStringLiteral("12");
        j.WaterAdd = QStringLiteral("350");
        j.Code[1] = QStringLiteral("R-101");
        j.Code[10] = QStringLiteral("Z");
        j.Weight[1] = QStringLiteral("12.5");
        j.Weight[10] = QStringLiteral("0.01");
        j.Created = OleDate::fromDateTime(QDateTime(QDate(2024, 3, 2), QTime(9, 5, 7)));
        j.B01[1] = QStringLiteral("note");
        j.B01[10] = QStringLiteral("last");
        j.B02 = QStringLiteral("b2");
        j.B05 = QStringLiteral("five");
        const QByteArray r = j.encode();
        QCOMPARE(r.size(), 1460);
        QCOMPARE(r.mid(0, 50), field("\xB3\xE6\xB8\xB9-1", 50));
        QCOMPARE(r.mid(50, 10), field("12", 10));
        QCOMPARE(r.mid(60, 10), field("350", 10));
        QCOMPARE(r.mid(70, 20), field("R-101", 20));
        QCOMPARE(r.mid(70 + 20 * 9, 20), field("Z", 20));
        QCOMPARE(r.mid(270, 10), field("12.5", 10));
        QCOMPARE(r.mid(270 + 90, 10), field("0.01", 10));
        double created;
        const quint64 bits = qFromLittleEndian<quint64>(r.constData() + 370);
        std::memcpy(&created, &bits, 8);
        QCOMPARE(created, j.Created);
        QCOMPARE(r.mid(378, 50), QByteArray(50, ' ')); // B01(0) unused
        QCOMPARE(r.mid(428, 50), field("note", 50));
        QCOMPARE(r.mid(878, 50), field("last", 50));
        QCOMPARE(r.mid(928, 10), field("b2", 10));
        QCOMPARE(r.mid(958, 500), field("five", 500));
        QCOMPARE(r.mid(1458), QByteArray("\r\n"));
        QCOMPARE(JobRecord::decode(r), j);
    }

    void fieldEdges() {
        JobRecord j;
        j.OrderNo = QString(50, QLatin1Char('A'));
        j.OutputPos = QStringLiteral("ABCDEFGHIJKL");
        j.Code[1] = QStringLiteral("一二三四五六七八九十甲"); // 22 bytes: cut after ten characters
        const JobRecord back = JobRecord::decode(j.encode());
        QCOMPARE(back.OrderNo, j.OrderNo);
        QCOMPARE(back.OutputPos, QStringLiteral("ABCDEFGHIJ"));
        QCOMPARE(back.Code[1], QStringLiteral("一二三四五六七八九十"));
        // The recipe list shows the raw, padded field.
        j.OrderNo = QStringLiteral("  R1");
        QCOMPARE(recipeListEntry(j.encode()),
                 QStringLiteral("  R1") + QString(46, QLatin1Char(' ')));
        j.OutputPos = QStringLiteral(" 3 ");
        QCOMPARE(queueListEntry(JobRecord::decode(j.encode())), QStringLiteral("R1---3"));
    }

    void appendCountRead() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("START_DISPEN.txt"));
        QCOMPARE(JobCount(f).count, qint64(0));
        QVERIFY(dir.exists(QStringLiteral("START_DISPEN.txt")));
        QVERIFY(AppendJob(f, job(QStringLiteral("A"))).ok());
        QCOMPARE(dir.read(QStringLiteral("START_DISPEN.txt")).size(), 1460);
        QCOMPARE(dir.read(QStringLiteral("START_DISPEN.txt")).right(2), QByteArray("\r\n"));
        QVERIFY(AppendJob(f, job(QStringLiteral("B"))).ok());
        QCOMPARE(ReadJob(f, 2).job.OrderNo, QStringLiteral("B"));
        QVERIFY(!ReadJob(f, 3).outcome.ok());
        QVERIFY(WriteJob(f, 1, job(QStringLiteral("C"))).ok());
        QCOMPARE(ReadJob(f, 1).job.OrderNo, QStringLiteral("C"));
        // A partial tail is not a record and the next append replaces it.
        QFile raw(f);
        QVERIFY(raw.open(QIODevice::Append));
        raw.write(QByteArray(700, 'x'));
        raw.close();
        QCOMPARE(JobCount(f).count, qint64(2));
        QVERIFY(AppendJob(f, job(QStringLiteral("D"))).ok());
        QCOMPARE(dir.read(QStringLiteral("START_DISPEN.txt")).size(), 3 * 1460);
        QCOMPARE(ReadJob(f, 3).job.OrderNo, QStringLiteral("D"));
    }

    void remove_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("s");
        QTest::addColumn<QString>("left");
        QTest::newRow("first of three") << 3 << 1 << "BC";
        QTest::newRow("middle of three") << 3 << 2 << "AC";
        QTest::newRow("last of three") << 3 << 3 << "AB";
        QTest::newRow("only") << 1 << 1 << "";
    }
    void remove() {
        QFETCH(int, count);
        QFETCH(int, s);
        QFETCH(QString, left);
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("START_DISPEN.txt"));
        const QString twin = dir.file(QStringLiteral("START_DISPEN2.txt"));
        QByteArray expected;
        for (int i = 0; i < count; ++i) {
            const JobRecord j = job(QString(QChar(u'A' + i)));
            QVERIFY(AppendJob(f, j).ok());
            if (left.contains(j.OrderNo))
                expected += j.encode();
        }
        QVERIFY(RemoveJob(f, twin, s).ok());
        QCOMPARE(dir.read(QStringLiteral("START_DISPEN.txt")), expected);
        QVERIFY(!dir.exists(QStringLiteral("START_DISPEN2.txt")));
    }

    void removeOutOfRangeChangesNothing() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("q.txt"));
        QVERIFY(AppendJob(f, job(QStringLiteral("A"))).ok());
        const QByteArray before = dir.read(QStringLiteral("q.txt"));
        QVERIFY(!RemoveJob(f, dir.file(QStringLiteral("q2.txt")), 2).ok());
        QVERIFY(!RemoveJob(f, dir.file(QStringLiteral("q2.txt")), 0).ok());
        QCOMPARE(dir.read(QStringLiteral("q.txt")), before);
    }

    // The check for a writer takes a lease for a moment; another program opening the file
    // for writing then breaks it, and the kernel signals the lease's holder: the station
    // must live through that signal.
    void leaseBrokenByAnotherProgramIsSurvived() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("q.txt"));
        QVERIFY(AppendJob(f, job(QStringLiteral("A"))).ok());
        const QByteArray path = QFile::encodeName(f);
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (int i = 0; i < 20000; ++i)
                if (const int w = ::open(path.constData(), O_WRONLY | O_CLOEXEC); w >= 0)
                    ::close(w);
            ::_exit(0);
        }
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0)
            FileOps::openForWriting(fd, 0);
        ::close(fd);
    }

    void staleTwinIsDiscarded() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("q.txt"));
        dir.write(QStringLiteral("q2.txt"), QByteArray(5000, 'j')); // left by a crash
        QVERIFY(AppendJob(f, job(QStringLiteral("A"))).ok());
        QVERIFY(AppendJob(f, job(QStringLiteral("B"))).ok());
        QVERIFY(RemoveJob(f, dir.file(QStringLiteral("q2.txt")), 1).ok());
        QCOMPARE(dir.read(QStringLiteral("q.txt")), job(QStringLiteral("B")).encode());
        QVERIFY(!dir.exists(QStringLiteral("q2.txt")));
    }

    void failedRemovalLeavesFileByteIdentical() {
        runUnprivileged([] {
            WorkDir dir;
            const QString f = dir.file(QStringLiteral("q.txt"));
            for (const char* o : {"A", "B", "C"})
                QVERIFY(AppendJob(f, job(QLatin1String(o))).ok());
            const QByteArray before = dir.read(QStringLiteral("q.txt"));
            // The twin cannot be written: it is a folder.
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("twin")));
            const Outcome o = RemoveJob(f, dir.file(QStringLiteral("twin")), 2);
            QVERIFY(!o.ok());
            QVERIFY(o.reason().contains(QStringLiteral("twin")));
            QCOMPARE(dir.read(QStringLiteral("q.txt")), before);
            // A read-only folder: neither the twin nor the rename can happen. (An append
            // goes into the file in place, which a read-only folder does not stop.)
            QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
            const Outcome ro = RemoveJob(f, dir.file(QStringLiteral("q2.txt")), 1);
            QFile::setPermissions(dir.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QCOMPARE(dir.read(QStringLiteral("q.txt")), before);
            QVERIFY(!ro.reason().isEmpty());
        });
    }

    void readOnlyFileCannotBeAppendedButReads() {
        runUnprivileged([] {
            WorkDir dir;
            const QString f = dir.file(QStringLiteral("q.txt"));
            QVERIFY(AppendJob(f, job(QStringLiteral("A"))).ok());
            QFile::setPermissions(f, QFile::ReadOwner);
            const Outcome o = AppendJob(f, job(QStringLiteral("B")));
            const JobCountResult c = JobCount(f);
            QFile::setPermissions(f, QFile::ReadOwner | QFile::WriteOwner);
            QCOMPARE(c.count, qint64(1));
            QVERIFY(!o.ok());
        });
    }

    void deleteJobFile() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("q.txt"));
        QVERIFY(DeleteJobFile(f).ok()); // no file is not an error
        QVERIFY(AppendJob(f, job(QStringLiteral("A"))).ok());
        QVERIFY(DeleteJobFile(f).ok());
        QVERIFY(!dir.exists(QStringLiteral("q.txt")));
    }

    // Cancel all deletes the jobs it read; one appended by another station since stays.
    void jobsReadAreDeleted() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("q.txt")),
                      twin = dir.file(QStringLiteral("q2.txt"));
        for (const char* order : {"A", "B"})
            QVERIFY(AppendJob(f, job(QString::fromLatin1(order))).ok());
        QVERIFY(deleteJobsRead(f, twin, 2).ok());
        QVERIFY(!dir.exists(QStringLiteral("q.txt")));
        for (const char* order : {"A", "B", "LATE"})
            QVERIFY(AppendJob(f, job(QString::fromLatin1(order))).ok());
        QVERIFY(deleteJobsRead(f, twin, 2).ok());
        const ReadAllJobsResult left = readAllJobs(f);
        QCOMPARE(left.records.size(), 1);
        QCOMPARE(JobRecord::decode(left.records.at(0)).OrderNo, QStringLiteral("LATE"));
    }

    // Another program appends without taking the lock, every 2 ms, while records are
    // removed: every record it appended is there exactly once. (Two records appended within
    // the same instant as a removal's rename may change places.)
    void unlockedWriterLosesNothing() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("q.txt"));
        constexpr int kSeeded = 150, kAppended = 300;
        QByteArray seeded;
        for (int k = 0; k < kSeeded; ++k)
            seeded += job(QStringLiteral("S%1").arg(k)).encode();
        dir.write(QStringLiteral("q.txt"), seeded);
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            for (int i = 0; i < kAppended; ++i) {
                const int fd = ::open(QFile::encodeName(f).constData(), O_WRONLY | O_APPEND);
                const QByteArray r = job(QStringLiteral("W%1").arg(i)).encode();
                if (fd < 0 || ::write(fd, r.constData(), size_t(r.size())) != r.size())
                    ::_exit(1);
                ::close(fd);
                ::usleep(2000);
            }
            ::_exit(0);
        }
        int removed = 0, status = 0;
        bool reaped = false;
        while (!(reaped = ::waitpid(pid, &status, WNOHANG) == pid) && removed < kSeeded) {
            const Outcome o = RemoveJob(f, dir.file(QStringLiteral("q2.txt")), 1);
            QVERIFY2(o.ok() || o.reason().contains(QStringLiteral("held open")),
                     qPrintable(o.reason()));
            removed += o.ok();
        }
        if (!reaped)
            QCOMPARE(::waitpid(pid, &status, 0), pid);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QVERIFY2(removed > 20, "too few removals overlapped the writer");
        const QList<QByteArray> left = readAllJobs(f).records;
        QStringList written;
        for (const QByteArray& r : left)
            if (JobRecord::decode(r).OrderNo.startsWith(QLatin1Char('W')))
                written << JobRecord::decode(r).OrderNo;
        QCOMPARE(written.size(), kAppended);
        std::sort(written.begin(), written.end(), [](const QString& a, const QString& b) {
            return a.mid(1).toInt() < b.mid(1).toInt();
        });
        for (int i = 0; i < kAppended; ++i)
            QCOMPARE(written[i], QStringLiteral("W%1").arg(i));
        QCOMPARE(left.size(), kAppended + kSeeded - removed);
    }

    // A writer that keeps the file open (appending without the lock) would write on into
    // the replaced file: while it holds it, a removal is refused, naming it, and changes
    // nothing; once it has closed, the removal goes through and none of its records is lost.
    void writerHoldingTheFileOpenIsNamedAndLosesNothing() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("q.txt"));
        constexpr int kSeeded = 5, kAppended = 400;
        for (int k = 0; k < kSeeded; ++k)
            QVERIFY(AppendJob(f, job(QStringLiteral("S%1").arg(k))).ok());
        int ready[2], stop[2];
        QVERIFY(::pipe(ready) == 0 && ::pipe(stop) == 0);
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            const int fd = ::open(QFile::encodeName(f).constData(), O_WRONLY | O_APPEND);
            if (fd < 0 || ::write(ready[1], "r", 1) != 1)
                ::_exit(1);
            for (int i = 0; i < kAppended; ++i) {
                const QByteArray r = job(QStringLiteral("W%1").arg(i)).encode();
                if (::write(fd, r.constData(), size_t(r.size())) != r.size())
                    ::_exit(1);
                ::usleep(500);
            }
            char c;
            if (::read(stop[0], &c, 1) != 1) // held open until the parent has tried
                ::_exit(1);
            ::_exit(0); // closes it
        }
        char c;
        QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
        for (int attempt = 0; attempt < 3; ++attempt) {
            const Outcome o = RemoveJob(f, dir.file(QStringLiteral("q2.txt")), 1);
            QVERIFY(!o.ok());
            QVERIFY2(o.reason().contains(QStringLiteral("held open for writing by")) &&
                         o.reason().contains(QStringLiteral("pid %1").arg(pid)),
                     qPrintable(o.reason()));
            QVERIFY(!dir.exists(QStringLiteral("q2.txt")));
        }
        QVERIFY(!deleteJobsRead(f, dir.file(QStringLiteral("q2.txt")), 1).ok());
        QCOMPARE(::write(stop[1], "s", 1), ssize_t(1));
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QVERIFY(RemoveJob(f, dir.file(QStringLiteral("q2.txt")), 1).ok());
        const QList<QByteArray> left = readAllJobs(f).records;
        QCOMPARE(left.size(), kSeeded - 1 + kAppended);
        QCOMPARE(JobRecord::decode(left.first()).OrderNo, QStringLiteral("S1"));
        QCOMPARE(JobRecord::decode(left.last()).OrderNo, QStringLiteral("W%1").arg(kAppended - 1));
        for (int fd : {ready[0], ready[1], stop[0], stop[1]})
            ::close(fd);
    }

    // A queue shared through a symbolic link: rewritten beside its target (the twin too),
    // the link stays a link, and what is appended through either name is seen by both.
    void linkedQueueIsRewrittenAtItsTarget() {
        WorkDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("plant")));
        const QString target = dir.file(QStringLiteral("plant/queue.txt"));
        const QString f = dir.file(QStringLiteral("START_DISPEN.txt"));
        QVERIFY(QFile::link(QStringLiteral("plant/queue.txt"), f)); // relative, as plants do
        for (const char* o : {"A", "B", "C"})
            QVERIFY(AppendJob(f, job(QLatin1String(o))).ok());
        QVERIFY(RemoveJob(f, dir.file(QStringLiteral("START_DISPEN2.txt")), 2).ok());
        QVERIFY(WriteJob(f, 1, job(QStringLiteral("A2"))).ok());
        QVERIFY(QFileInfo(f).isSymLink());
        QCOMPARE(dir.read(QStringLiteral("plant/queue.txt")),
                 job(QStringLiteral("A2")).encode() + job(QStringLiteral("C")).encode());
        QVERIFY(AppendJob(target, job(QStringLiteral("D"))).ok()); // the plant's own append
        QCOMPARE(readAllJobs(f).records.size(), 3);
        QVERIFY(!dir.exists(QStringLiteral("START_DISPEN2.txt")));
        QVERIFY(!dir.exists(QStringLiteral("plant/START_DISPEN2.txt")));
        // Everything taken: the target goes, the link stays and the next append restarts it.
        QVERIFY(deleteJobsRead(f, dir.file(QStringLiteral("START_DISPEN2.txt")), 3).ok());
        QVERIFY(QFileInfo(f).isSymLink());
        QVERIFY(AppendJob(f, job(QStringLiteral("E"))).ok());
        QCOMPARE(dir.read(QStringLiteral("plant/queue.txt")), job(QStringLiteral("E")).encode());
    }

    // The plant protected the file (0444): every change is refused with the reason, also
    // for a station running as root, and the file stays as it was.
    void readOnlyFileIsNeverChanged() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("QUICK.txt")),
                      twin = dir.file(QStringLiteral("QUICK2.txt"));
        for (const char* o : {"A", "B"})
            QVERIFY(AppendJob(f, job(QLatin1String(o))).ok());
        QVERIFY(::chmod(QFile::encodeName(f).constData(), 0444) == 0);
        const QByteArray before = dir.read(QStringLiteral("QUICK.txt"));
        for (const Outcome& o : {RemoveJob(f, twin, 1), WriteJob(f, 1, job(QStringLiteral("X"))),
                                 AppendJob(f, job(QStringLiteral("X"))), deleteJobsRead(f, twin, 2),
                                 DeleteJobFile(f)}) {
            QVERIFY(!o.ok());
            QVERIFY2(o.reason().contains(QStringLiteral("QUICK.txt")), qPrintable(o.reason()));
        }
        QCOMPARE(dir.read(QStringLiteral("QUICK.txt")), before);
        QVERIFY(!dir.exists(QStringLiteral("QUICK2.txt")));
        QCOMPARE(JobCount(f).count, qint64(2)); // still read
    }

    // The rewritten file keeps its permission bits (another program's user may have to
    // append to it), and a twin planted as a symbolic link is refused, not followed.
    void rewriteKeepsModeAndRefusesLinkedTwin() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("q.txt"));
        for (const char* o : {"A", "B", "C"})
            QVERIFY(AppendJob(f, job(QLatin1String(o))).ok());
        QVERIFY(::chmod(QFile::encodeName(f).constData(), 0664) == 0);
        QVERIFY(RemoveJob(f, dir.file(QStringLiteral("q2.txt")), 1).ok());
        QVERIFY(WriteJob(f, 1, job(QStringLiteral("B2"))).ok());
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(f).constData(), &st) == 0);
        QCOMPARE(int(st.st_mode & 07777), 0664);

        dir.write(QStringLiteral("victim"), "not a queue");
        QVERIFY(
            QFile::link(dir.file(QStringLiteral("victim")), dir.file(QStringLiteral("q2.txt"))));
        const QByteArray before = dir.read(QStringLiteral("q.txt"));
        const Outcome o = RemoveJob(f, dir.file(QStringLiteral("q2.txt")), 1);
        QVERIFY(!o.ok());
        QVERIFY(o.reason().contains(QStringLiteral("symbolic link")));
        QCOMPARE(dir.read(QStringLiteral("victim")), QByteArray("not a queue"));
        QVERIFY(!QFileInfo(f).isSymLink());
        QCOMPARE(dir.read(QStringLiteral("q.txt")), before);
    }

    // A lock held by another program is waited for briefly, then reported: the station's
    // timers never stand still behind it.
    void lockHeldElsewhereFailsSoon() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("q.txt"));
        const int other = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(other >= 0 && ::flock(other, LOCK_EX) == 0);
        QElapsedTimer t;
        t.start();
        const Outcome o = AppendJob(f, job(QStringLiteral("A")));
        const qint64 waited = t.elapsed();
        QVERIFY(!o.ok());
        QVERIFY(o.reason().contains(QStringLiteral("locked")));
        QVERIFY2(waited >= 90 && waited < 400, qPrintable(QString::number(waited)));
        QVERIFY(!RemoveJob(f, dir.file(QStringLiteral("q2.txt")), 1).ok());
        ::close(other);
        QVERIFY(AppendJob(f, job(QStringLiteral("A"))).ok());
    }
};

QTEST_GUILESS_MAIN(TestJobFile)
#include "test_jobfile.moc"
