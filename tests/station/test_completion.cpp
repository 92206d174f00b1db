#include "station/Completion.h"
#include "station/History.h"
#include "station/JobFile.h"
#include "tests/support/TestSupport.h"

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

HistoryRecord logged(const QString& order, const QTime& at) {
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
    void recover_data() {
        QTest::addColumn<bool>("historyWritten");
        QTest::addColumn<bool>("headIsTheJob");
        QTest::addColumn<bool>("tornJournal");
        QTest::addColumn<bool>("removed");
        QTest::newRow("logged, still queued: removed") << true << true << false << true;
        QTest::newRow("crash before the log: weighed again") << false << true << false << false;
        QTest::newRow("logged, already removed") << true << false << false << false;
        QTest::newRow("torn journal") << true << true << true << false;
    }
    void recover() {
        QFETCH(bool, historyWritten);
        QFETCH(bool, headIsTheJob);
        QFETCH(bool, tornJournal);
        QFETCH(bool, removed);
        WorkDir dir;
        const QString queue = dir.file(QStringLiteral("START_DISPEN.txt"));
        const QString twin = dir.file(QStringLiteral("START_DISPEN2.txt"));
        // The same order was weighed once before, earlier that day: re-weighing is legitimate
        // and that older record must not count as this finish.
        QVERIFY(AppendHistory(dir.path(), logged(QStringLiteral("A-1"), QTime(8, 0))).ok());
        if (headIsTheJob)
            QVERIFY(AppendJob(queue, job(QStringLiteral("A-1"))).ok());
        QVERIFY(AppendJob(queue, job(QStringLiteral("B-2"))).ok());
        const HistoryRecord h = logged(QStringLiteral("A-1"), QTime(9, 30));
        QVERIFY(Completion::begin(dir.path(), job(QStringLiteral("A-1")).encode(), h.encode()).ok());
        if (tornJournal) {
            QFile f(dir.file(QLatin1String(Completion::kJournal)));
            QVERIFY(f.resize(1000));
        }
        if (historyWritten)
            QVERIFY(AppendHistory(dir.path(), h).ok());
        const QByteArray before = dir.read(QStringLiteral("START_DISPEN.txt"));

        const Completion::Recovery r = Completion::recover(dir.path(), queue, twin);
        QVERIFY(r.outcome.ok());
        QCOMPARE(r.removed, removed);
        QVERIFY(!dir.exists(QLatin1String(Completion::kJournal)));
        if (removed) {
            QCOMPARE(r.orderNo, QStringLiteral("A-1"));
            QCOMPARE(dir.read(QStringLiteral("START_DISPEN.txt")), job(QStringLiteral("B-2")).encode());
        } else {
            QCOMPARE(dir.read(QStringLiteral("START_DISPEN.txt")), before);
        }
    }

    void noJournalNothingToDo() {
        WorkDir dir;
        QVERIFY(AppendJob(dir.file(QStringLiteral("q.txt")), job(QStringLiteral("A-1"))).ok());
        const Completion::Recovery r =
            Completion::recover(dir.path(), dir.file(QStringLiteral("q.txt")), dir.file(QStringLiteral("q2.txt")));
        QVERIFY(r.outcome.ok());
        QVERIFY(!r.removed);
        QCOMPARE(JobCount(dir.file(QStringLiteral("q.txt"))).count, qint64(1));
    }
};

QTEST_GUILESS_MAIN(TestCompletion)
#include "test_completion.moc"
