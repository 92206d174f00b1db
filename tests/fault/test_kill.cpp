// The station killed (SIGKILL) at random moments while it appends, rewrites and removes
// queue records and finishes jobs (journal, history, removal). A child process runs the
// real procedures on a working folder and announces each operation on a pipe before it
// starts and after it ends; the parent kills it after a random delay, runs the start-up
// recovery as the next start would, and checks the files against its own model: the
// operation in flight happened whole or not at all, and every other one is there exactly
// once. The queue holds 15 to 20 records, so rewritten records cross page boundaries, and
// the same job is often queued twice (byte-identical records).
#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "jobs/JobRecord.h"
#include "tests/support/TestSupport.h"
#include "weighing/Completion.h"

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

// Every version changes text all over the record, so a record cut half old, half new
// equals neither.
JobRecord job(int id, int version) {
    JobRecord j;
    j.OrderNo = QStringLiteral("單號%1").arg(id);
    j.OutputPos = QString::number(version);
    for (int i = 1; i <= JobRecord::kLines; ++i) {
        j.Code[size_t(i)] = QStringLiteral("C%1-%2-%3").arg(id).arg(i).arg(version);
        j.Weight[size_t(i)] = QStringLiteral("%1.%2").arg(id % 97 + i).arg(version % 100);
        j.B01[size_t(i)] = QStringLiteral("缸%1-%2").arg(version).arg(i);
    }
    j.B05 = QStringLiteral("v%1 ").arg(version).repeated(40);
    return j;
}

// A finish's history record; `serial` tells two finishes of the same job apart.
HistoryRecord finished(int id, int serial) {
    HistoryRecord h;
    h.OrderNo = QStringLiteral("單號%1").arg(id);
    h.Code[1] = QStringLiteral("C%1-1").arg(id);
    h.Target[1] = QStringLiteral("12.25");
    h.Actual[1] = QString::number(serial);
    h.Completed = kMonth;
    return h;
}

void say(int fd, const QByteArray& line) {
    const QByteArray l = line + '\n';
    if (::write(fd, l.constData(), size_t(l.size())) != l.size())
        ::_exit(3);
}

QByteArray num(qint64 n) {
    return QByteArray::number(n);
}

// The child: loops on the operations until it is killed. `q` is its view of the queue
// file as the parent left it.
[[noreturn]] void work(const QString& dir, int fd, int nextId, int nextSerial, quint32 seed) {
    QRandomGenerator rnd(seed);
    const QString queue = dir + QLatin1Char('/') + kQueue, twin = dir + QLatin1Char('/') + kTwin;
    QList<QByteArray> q = readAllJobs(queue).records;
    for (;;) {
        const int pick = int(rnd.bounded(100));
        Outcome o = Outcome::success();
        if (q.size() < 15 || (pick < 30 && q.size() < 20)) {
            // A new job, or a copy of a queued one (the same recipe queued twice).
            int id = nextId, version = 0;
            if (!q.isEmpty() && rnd.bounded(2) == 0) {
                const JobRecord copy = JobRecord::decode(q[int(rnd.bounded(int(q.size())))]);
                id = copy.OrderNo.mid(2).toInt();
                version = copy.OutputPos.toInt();
            } else {
                ++nextId;
            }
            say(fd, "A " + num(id) + ' ' + num(version));
            o = AppendJob(queue, job(id, version));
            q.append(job(id, version).encode());
        } else if (pick < 55) {
            const int k = 1 + int(rnd.bounded(int(q.size())));
            const JobRecord was = JobRecord::decode(q[k - 1]);
            const int id = was.OrderNo.mid(2).toInt(), version = was.OutputPos.toInt() + 1;
            say(fd, "W " + num(k) + ' ' + num(id) + ' ' + num(version));
            o = WriteJob(queue, k, job(id, version));
            q[k - 1] = job(id, version).encode();
        } else if (pick < 75) {
            const int s = 1 + int(rnd.bounded(int(q.size())));
            say(fd, "R " + num(s));
            o = RemoveJob(queue, twin, s);
            q.removeAt(s - 1);
        } else {
            // A finished job, as the sequencer finishes it: journal, history, removal, end.
            const JobRecord head = JobRecord::decode(q.first());
            const int serial = nextSerial++;
            say(fd, "F " + num(head.OrderNo.mid(2).toInt()) + ' ' + num(serial));
            const QByteArray history = finished(head.OrderNo.mid(2).toInt(), serial).encode();
            o = Completion::begin(dir, queue, q.first(), history);
            if (o)
                o = appendHistoryBytes(dir, history);
            if (o)
                o = RemoveJob(queue, twin, 1);
            if (o)
                o = Completion::end(dir);
            q.removeFirst();
        }
        if (!o) {
            say(fd, "X " + o.reason().toUtf8());
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
        const int a = op.value(1).toInt(), b = op.value(2).toInt(), c = op.value(3).toInt();
        if (kind == "A") {
            queue.append(job(a, b).encode());
        } else if (kind == "W" && a >= 1 && a <= queue.size()) {
            queue[a - 1] = job(b, c).encode();
        } else if (kind == "R" && a >= 1 && a <= queue.size()) {
            queue.removeAt(a - 1);
        } else if (kind == "F" && !queue.isEmpty()) {
            queue.removeFirst();
            history.append(finished(a, b).encode());
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
    int nextId = 1, nextSerial = 1;
    int interrupted = 0, finishesCompleted = 0, ops = 0;
    constexpr int kRounds = 300;

    for (int round = 0; round < kRounds; ++round) {
        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        const quint32 seed = rnd.generate();
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            ::close(fds[0]);
            work(dir.path(), fds[1], nextId, nextSerial, seed);
        }
        ::close(fds[1]);
        // The kill comes after a random number of announcements and then a random delay,
        // so that every round does some work however slow the machine is (a sanitizer
        // build, a loaded CI runner), and lands anywhere inside an operation.
        QByteArray said;
        char buf[4096];
        const int announced = 1 + int(rnd.bounded(8));
        while (said.count('\n') < announced) {
            const ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n <= 0)
                break;
            said.append(buf, n);
        }
        ::usleep(useconds_t(rnd.bounded(5000)));
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
                QVERIFY2(op.value(0) != "X", line.constData());
                QVERIFY2(inFlight.isEmpty(), "two operations at once");
                inFlight = op;
                if (op.value(0) == "A")
                    nextId = qMax(nextId, op.value(1).toInt() + 1);
                if (op.value(0) == "F")
                    nextSerial = qMax(nextSerial, op.value(2).toInt() + 1);
            }
        }

        // A cut append leaves a partial tail, which every reader ignores; nothing else may.
        const QByteArray queueBytes = dir.read(kQueue);
        const QByteArray historyBytes =
            dir.exists(historyFile) ? dir.read(historyFile) : QByteArray();
        const QByteArray kind = inFlight.value(0);
        QVERIFY2(
            queueBytes.size() % JobRecord::kLength == 0 || kind == "A",
            qPrintable(
                QStringLiteral("round %1: queue of %2 bytes").arg(round).arg(queueBytes.size())));
        QVERIFY2(historyBytes.size() % HistoryRecord::kLength == 0 || kind == "F",
                 qPrintable(QStringLiteral("round %1: history of %2 bytes")
                                .arg(round)
                                .arg(historyBytes.size())));

        // The restart: a finish cut anywhere is completed (or had not begun).
        const Completion::Recovery rec =
            Completion::recover(dir.path(), dir.file(kQueue), dir.file(kTwin));
        QVERIFY2(rec.outcome.ok(), qPrintable(rec.outcome.reason()));
        QVERIFY(!dir.exists(QLatin1String(Completion::kJournal)));
        QVERIFY(!rec.found || kind == "F");

        const QList<QByteArray> queueNow = wholeRecords(dir.read(kQueue), JobRecord::kLength);
        const QList<QByteArray> historyNow = wholeRecords(
            dir.exists(historyFile) ? dir.read(historyFile) : QByteArray(), HistoryRecord::kLength);
        if (!inFlight.isEmpty()) {
            ++interrupted;
            Model after = model;
            QVERIFY(after.apply(inFlight));
            const bool before = queueNow == model.queue && historyNow == model.history;
            const bool done = queueNow == after.queue && historyNow == after.history;
            QVERIFY2(
                before || done,
                qPrintable(QStringLiteral("round %1: the cut operation '%2' left a state that is "
                                          "neither before nor after it")
                               .arg(round)
                               .arg(QString::fromLatin1(inFlight.join(' ')))));
            if (done)
                model = after;
            if (done && rec.found)
                ++finishesCompleted;
        }
        QCOMPARE(queueNow, model.queue);
        QCOMPARE(historyNow, model.history);
    }
    qInfo("%d rounds, %d operations completed, %d cut in flight, %d cut finishes completed at the "
          "restart",
          kRounds, ops, interrupted, finishesCompleted);
    QVERIFY(ops > kRounds);
    QVERIFY(interrupted > kRounds / 4);
}

QTEST_GUILESS_MAIN(TestKill)
#include "test_kill.moc"
