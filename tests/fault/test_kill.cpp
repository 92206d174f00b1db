// The station killed (SIGKILL) at random moments while it appends, rewrites and removes
// queue records and logs finished jobs to the history. A child process runs the real
// procedures on a working folder and announces each operation on a pipe before it starts
// and after it ends; the parent kills it after a random delay and checks the files against
// its own model: the operation in flight either happened whole or not at all, and every
// other one is there exactly once.
#include "station/Completion.h"
#include "station/History.h"
#include "station/JobFile.h"
#include "station/JobRecord.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kQueue = QStringLiteral("START_DISPEN.txt");
const QString kTwin = QStringLiteral("START_DISPEN2.txt");
const QDateTime kMonth(QDate(2024, 3, 2), QTime(9, 5, 7));

JobRecord job(int id, int version) {
    JobRecord j;
    j.OrderNo = QStringLiteral("單號%1").arg(id);
    j.OutputPos = QString::number(version);
    for (int i = 1; i <= 1 + id % JobRecord::kLines; ++i) {
        j.Code[size_t(i)] = QStringLiteral("C%1-%2").arg(id).arg(i);
        j.Weight[size_t(i)] = QString::number(id % 97 + i) + QStringLiteral(".25");
    }
    return j;
}

HistoryRecord finished(int id) {
    HistoryRecord h;
    h.OrderNo = QStringLiteral("單號%1").arg(id);
    h.Code[1] = QStringLiteral("C%1-1").arg(id);
    h.Target[1] = QStringLiteral("12.25");
    h.Actual[1] = QStringLiteral("12.26");
    h.Completed = kMonth;
    return h;
}

int idOf(const QByteArray& record) { return JobRecord::decode(record).OrderNo.mid(2).toInt(); }

void say(int fd, const QByteArray& line) {
    const QByteArray l = line + '\n';
    if (::write(fd, l.constData(), size_t(l.size())) != l.size())
        ::_exit(3);
}

// The child: loops on the operations until it is killed. `queue` is its view of the
// queue file as the parent left it.
[[noreturn]] void work(const QString& dir, int fd, int nextId, quint32 seed) {
    QRandomGenerator rnd(seed);
    const QString queue = dir + QLatin1Char('/') + kQueue, twin = dir + QLatin1Char('/') + kTwin;
    QList<QByteArray> q = ReadAllJobs(queue).records;
    for (;;) {
        const int pick = int(rnd.bounded(100));
        Outcome o = Outcome::success();
        if (q.isEmpty() || (pick < 40 && q.size() < 12)) {
            const int id = nextId++;
            say(fd, "A " + QByteArray::number(id));
            o = AppendJob(queue, job(id, 0));
            q.append(job(id, 0).encode());
        } else if (pick < 60) {
            const int k = 1 + int(rnd.bounded(int(q.size())));
            const int id = idOf(q[k - 1]);
            const int version = JobRecord::decode(q[k - 1]).OutputPos.toInt() + 1;
            say(fd, "W " + QByteArray::number(k) + ' ' + QByteArray::number(id) + ' ' +
                        QByteArray::number(version));
            o = WriteJob(queue, k, job(id, version));
            q[k - 1] = job(id, version).encode();
        } else if (pick < 80) {
            const int s = 1 + int(rnd.bounded(int(q.size())));
            say(fd, "R " + QByteArray::number(s));
            o = RemoveJob(queue, twin, s);
            q.removeAt(s - 1);
        } else {
            // A finished job: journalled, logged, then taken out of the queue, as the
            // sequencer does.
            const int id = idOf(q.first());
            o = Completion::begin(dir, q.first(), finished(id).encode());
            if (o) {
                say(fd, "H " + QByteArray::number(id));
                o = AppendHistory(dir, finished(id));
            }
            if (o) {
                say(fd, "E");
                say(fd, "R 1");
                o = RemoveJob(queue, twin, 1);
                q.removeFirst();
                Completion::end(dir);
            }
        }
        if (!o) {
            say(fd, "F " + o.reason().toUtf8());
            ::_exit(2);
        }
        say(fd, "E");
    }
}

struct Model {
    QList<QByteArray> queue;
    QList<QByteArray> history;

    // Applies one announced operation; returns false for a line it does not know.
    bool apply(const QList<QByteArray>& op) {
        const QByteArray& kind = op.value(0);
        if (kind == "A") {
            queue.append(job(op.value(1).toInt(), 0).encode());
        } else if (kind == "W") {
            const int k = op.value(1).toInt();
            if (k < 1 || k > queue.size())
                return false;
            queue[k - 1] = job(op.value(2).toInt(), op.value(3).toInt()).encode();
        } else if (kind == "R") {
            const int s = op.value(1).toInt();
            if (s < 1 || s > queue.size())
                return false;
            queue.removeAt(s - 1);
        } else if (kind == "H") {
            history.append(finished(op.value(1).toInt()).encode());
        } else {
            return false;
        }
        return true;
    }

};

QList<QByteArray> wholeRecords(const QByteArray& bytes, int length) {
    QList<QByteArray> out;
    for (qsizetype off = 0; off + length <= bytes.size(); off += length)
        out.append(bytes.mid(off, length));
    return out;
}

} // namespace

class TestKill : public QObject {
    Q_OBJECT
private slots:
    void killedAtRandomMoments();
};

void TestKill::killedAtRandomMoments() {
    WorkDir dir;
    const QString historyFile = historyFileName(kMonth);
    QRandomGenerator rnd(20240302);
    Model model;
    int nextId = 1;
    int interrupted = 0, completionsCut = 0, ops = 0;
    constexpr int kRounds = 300;

    for (int round = 0; round < kRounds; ++round) {
        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        const quint32 seed = rnd.generate();
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            ::close(fds[0]);
            work(dir.path(), fds[1], nextId, seed);
        }
        ::close(fds[1]);
        // The delay counts from the child's first announcement, so that a slow start (a
        // sanitizer build) does not turn every round into a kill before any work.
        QByteArray said;
        char buf[4096];
        while (!said.contains('\n')) {
            const ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n <= 0)
                break;
            said.append(buf, n);
        }
        ::usleep(useconds_t(rnd.bounded(20000)));
        ::kill(pid, SIGKILL);
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        QVERIFY2(WIFSIGNALED(status), "the child stopped by itself (an operation failed)");
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
            said.append(buf, n);
        ::close(fds[0]);

        // Whole announced lines only; an operation begun but not ended is in flight.
        QList<QByteArray> lines = said.split('\n');
        lines.removeLast(); // the part after the last newline (empty, or a cut line)
        QList<QByteArray> inFlight;
        for (const QByteArray& line : lines) {
            const QList<QByteArray> op = line.split(' ');
            if (op.value(0) == "E") {
                QVERIFY2(!inFlight.isEmpty() && model.apply(inFlight), line.constData());
                inFlight.clear();
                ++ops;
            } else {
                QVERIFY2(op.value(0) != "F", line.constData());
                QVERIFY2(inFlight.isEmpty(), "two operations at once");
                inFlight = op;
                if (op.value(0) == "A")
                    nextId = qMax(nextId, op.value(1).toInt() + 1);
            }
        }

        const QByteArray queueBytes = dir.read(kQueue);
        const QByteArray historyBytes = dir.exists(historyFile) ? dir.read(historyFile) : QByteArray();
        QVERIFY2(queueBytes.size() % JobRecord::kLength == 0,
                 qPrintable(QStringLiteral("round %1: queue of %2 bytes").arg(round).arg(queueBytes.size())));
        QVERIFY2(historyBytes.size() % HistoryRecord::kLength == 0,
                 qPrintable(QStringLiteral("round %1: history of %2 bytes").arg(round).arg(historyBytes.size())));
        const QList<QByteArray> queueNow = wholeRecords(queueBytes, JobRecord::kLength);
        const QList<QByteArray> historyNow = wholeRecords(historyBytes, HistoryRecord::kLength);

        if (!inFlight.isEmpty()) {
            ++interrupted;
            Model after = model;
            QVERIFY(after.apply(inFlight));
            const bool before = queueNow == model.queue && historyNow == model.history;
            const bool done = queueNow == after.queue && historyNow == after.history;
            QVERIFY2(before || done,
                     qPrintable(QStringLiteral("round %1: the cut operation '%2' left a state that is "
                                               "neither before nor after it")
                                    .arg(round).arg(QString::fromLatin1(inFlight.join(' ')))));
            if (done)
                model = after;
        }
        QCOMPARE(queueNow, model.queue);
        QCOMPARE(historyNow, model.history);

        // No job is logged twice, and none is at the same time logged and still queued
        // except the one whose removal the kill cut off.
        QSet<QByteArray> logged;
        for (const QByteArray& h : historyNow)
            QVERIFY2(!logged.contains(h.left(50)), "a job logged twice");
        for (const QByteArray& h : historyNow)
            logged.insert(h.left(50));
        // The restart: a finish cut between the log and the removal is completed, so the
        // job is not weighed and logged a second time.
        const bool headLogged = !queueNow.isEmpty() && logged.contains(queueNow.first().left(50));
        const Completion::Recovery rec = Completion::recover(dir.path(), dir.file(kQueue), dir.file(kTwin));
        QVERIFY(rec.outcome.ok());
        QCOMPARE(rec.removed, headLogged);
        QVERIFY(!dir.exists(QLatin1String(Completion::kJournal)));
        if (rec.removed) {
            ++completionsCut;
            model.queue.removeFirst();
        }
        const QList<QByteArray> queueAfter = wholeRecords(dir.read(kQueue), JobRecord::kLength);
        QCOMPARE(queueAfter, model.queue);
        for (qsizetype k = 0; k < queueAfter.size(); ++k)
            QVERIFY2(!logged.contains(queueAfter[k].left(50)), "a queued job that was already logged");
    }
    qInfo("%d rounds, %d operations completed, %d cut in flight, %d completions cut between log and removal",
          kRounds, ops, interrupted, completionsCut);
    QVERIFY(ops > kRounds);
    QVERIFY(interrupted > kRounds / 4);
}

QTEST_GUILESS_MAIN(TestKill)
#include "test_kill.moc"
