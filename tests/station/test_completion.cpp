#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "tests/support/TestSupport.h"
#include "weighing/Completion.h"

#include <QDir>
#include <QTest>

namespace {

JobRecord job(const QString& order) {
    JobRecord j;
    j.OrderNo = order;
    j.Code[1] = QStringLiteral("R-101");
    j.Weight[1] = QStringLiteral("12.5");
    return j;
}

HistoryRecord finished(const QString& order, const QTime& at) {
    HistoryRecord h;
    h.OrderNo = order;
    h.Code[1] = QStringLiteral("R-101");
    h.Target[1] = QStringLiteral("12.5");
    h.Actual[1] = QStringLiteral("12.51");
    h.Completed = QDateTime(QDate(2026, 12, 8), at);
    return h;
}

} // namespace

class TestCompletion : public QObject {
    Q_OBJECT
private slots:
    // Where the crash cut the finish of A-1, queued at the head as [A-1, A-1, B-2]: the
    // same recipe queued twice gives byte-identical records.
    void recover_data() {
        QTest::addColumn<int>("stepsDone"); // 1 journal, 2 history, 3 removal
        QTest::addColumn<bool>("tornJournal");
        QTest::addColumn<bool>("logged");
        QTest::addColumn<bool>("removed");
        QTest::addColumn<int>("queuedAfter");
        QTest::newRow("journal only: logged and removed now") << 1 << false << true << true << 2;
        QTest::newRow("logged, still queued: removed") << 2 << false << false << true << 2;
        QTest::newRow("removed: the identical next job stays") << 3 << false << false << false << 2;
        QTest::newRow("torn journal: nothing touched") << 1 << true << false << false << 3;
    }
    void recover() {
        QFETCH(int, stepsDone);
        QFETCH(bool, tornJournal);
        QFETCH(bool, logged);
        QFETCH(bool, removed);
        QFETCH(int, queuedAfter);
        WorkDir dir;
        const QString queue = dir.file(QStringLiteral("START_DISPEN.txt"));
        const QString twin = dir.file(QStringLiteral("START_DISPEN2.txt"));
        // The same order was weighed once before, earlier that day: re-weighing is legitimate
        // and that older record must not count as this finish.
        QVERIFY(AppendHistory(dir.path(), finished(QStringLiteral("A-1"), QTime(8, 0))).ok());
        for (const char* order : {"A-1", "A-1", "B-2"})
            QVERIFY(AppendJob(queue, job(QLatin1String(order))).ok());
        const HistoryRecord h = finished(QStringLiteral("A-1"), QTime(9, 30));
        QVERIFY(
            Completion::begin(dir.path(), queue, job(QStringLiteral("A-1")).encode(), h.encode())
                .ok());
        if (tornJournal) {
            QFile f(dir.file(QLatin1String(Completion::kJournal)));
            QVERIFY(f.resize(1000));
        }
        if (stepsDone >= 2)
            QVERIFY(AppendHistory(dir.path(), h).ok());
        if (stepsDone >= 3)
            QVERIFY(RemoveJob(queue, twin, 1).ok());

        const Completion::Recovery r = Completion::recover(dir.path(), queue, twin);
        QCOMPARE(r.outcome.ok(), !tornJournal);
        QCOMPARE(r.logged, logged);
        QCOMPARE(r.removed, removed);
        QVERIFY(!dir.exists(QLatin1String(Completion::kJournal)));
        QCOMPARE(JobCount(queue).count, qint64(queuedAfter));
        QCOMPARE(ReadJob(queue, queuedAfter).job.OrderNo, QStringLiteral("B-2"));
        const QByteArray month = dir.read(historyFileName(h.Completed));
        QCOMPARE(month.size(), (tornJournal ? 1 : 2) * HistoryRecord::kLength);
        if (!tornJournal)
            QCOMPARE(month.right(HistoryRecord::kLength), h.encode());
    }

    // A month file that cannot be read keeps the journal; once it can, the finish is
    // completed.
    void unreadableFileKeepsTheJournal() {
        const QString blocked = QStringLiteral("data/DATE_202612.txt");
        WorkDir dir;
        const QString queue = dir.file(QStringLiteral("START_DISPEN.txt"));
        const QString twin = dir.file(QStringLiteral("START_DISPEN2.txt"));
        QVERIFY(AppendJob(queue, job(QStringLiteral("A-1"))).ok());
        const HistoryRecord h = finished(QStringLiteral("A-1"), QTime(9, 30));
        QVERIFY(
            Completion::begin(dir.path(), queue, job(QStringLiteral("A-1")).encode(), h.encode())
                .ok());
        QVERIFY(AppendHistory(dir.path(), h).ok());
        // A folder in the file's place: opened, it cannot be read.
        const QString moved = dir.file(QStringLiteral("moved"));
        QVERIFY(QFile::rename(dir.file(blocked), moved));
        QVERIFY(QDir().mkdir(dir.file(blocked)));
        QVERIFY(!Completion::recover(dir.path(), queue, twin).outcome.ok());
        QVERIFY(dir.exists(QLatin1String(Completion::kJournal)));
        QVERIFY(QDir().rmdir(dir.file(blocked)));
        QVERIFY(QFile::rename(moved, dir.file(blocked)));
        const Completion::Recovery r = Completion::recover(dir.path(), queue, twin);
        QVERIFY(r.outcome.ok());
        QVERIFY(r.removed);
        QVERIFY(!r.logged);
        QCOMPARE(JobCount(queue).count, qint64(0));
        QVERIFY(!dir.exists(QLatin1String(Completion::kJournal)));
    }

    void noJournalNothingToDo() {
        WorkDir dir;
        QVERIFY(AppendJob(dir.file(QStringLiteral("q.txt")), job(QStringLiteral("A-1"))).ok());
        const Completion::Recovery r = Completion::recover(
            dir.path(), dir.file(QStringLiteral("q.txt")), dir.file(QStringLiteral("q2.txt")));
        QVERIFY(r.outcome.ok());
        QVERIFY(!r.found);
        QVERIFY(!r.removed);
        QCOMPARE(JobCount(dir.file(QStringLiteral("q.txt"))).count, qint64(1));
    }

    // A journal set aside is reinstated only for the job at the head; a journal that cannot
    // be written is a failure that keeps what was set aside, not "not at the head".
    void reinstateSaysAFailedWrite() {
        WorkDir dir;
        const QString queue = dir.file(QStringLiteral("START_DISPEN.txt"));
        const QByteArray a = job(QStringLiteral("A-1")).encode();
        QVERIFY(AppendJob(queue, job(QStringLiteral("B-2"))).ok());
        QVERIFY(Completion::record(dir.path(), queue, a, {}).ok());
        QVERIFY(Completion::setAside(dir.path()).ok());
        Completion::Reinstatement r = Completion::reinstate(dir.path(), queue);
        QVERIFY(r.outcome.ok());
        QVERIFY(!r.reinstated); // B-2 is at the head

        QVERIFY(DeleteJobFile(queue).ok());
        QVERIFY(AppendJob(queue, job(QStringLiteral("A-1"))).ok());
        const QString blocked =
            dir.file(QLatin1String(Completion::kJournal) + QStringLiteral(".new"));
        QVERIFY(QDir().mkdir(blocked)); // the journal's temporary file cannot be written
        r = Completion::reinstate(dir.path(), queue);
        QVERIFY(!r.reinstated);
        QVERIFY2(r.outcome.reason().contains(QLatin1String(Completion::kJournal)),
                 qPrintable(r.outcome.reason()));
        QVERIFY(dir.exists(QLatin1String(Completion::kSetAsideJournal)));

        QVERIFY(QDir().rmdir(blocked));
        r = Completion::reinstate(dir.path(), queue);
        QVERIFY(r.outcome.ok());
        QVERIFY(r.reinstated);
        QVERIFY(Completion::pending(dir.path()));
        QVERIFY(!dir.exists(QLatin1String(Completion::kSetAsideJournal)));
    }
};

QTEST_GUILESS_MAIN(TestCompletion)
#include "test_completion.moc"
