#include "jobs/UndoStore.h"
#include "recipes/RecipeEditor.h"
#include "tests/support/QueueRig.h"

#include <QTest>

namespace {

// Queue commands and the recipe editor over one working folder, keeping removals.
struct UndoRig : QueueRig {
    RecipeEditor editor{file("QUICK.txt"), file("QUICK2.txt"), status};
    UndoStore undo{dir.path()};

    UndoRig() {
        commands.setUndo(&undo);
        editor.setUndo(&undo);
    }
};

} // namespace

class TestUndo : public QObject {
    Q_OBJECT

private slots:
    // Each removal is put back whole by one undo, the last one first; nothing twice.
    void removalsPutBack() {
        UndoRig b;
        b.addQueued({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")});
        b.commands.deleteQueued(1, b.weighing.queueEntries.at(1));
        QVERIFY(b.said.once(QStringLiteral("已刪除 單號 B")));
        QCOMPARE(b.orders("START_DISPEN.txt"), QStringList({"A", "C"}));
        b.commands.cancelAll();
        QVERIFY(b.said.once(QStringLiteral("已取消全部 2 筆 (單號 A, C)")));
        QCOMPARE(b.orders("START_DISPEN.txt"), QStringList());
        QCOMPARE(b.undo.lastWhat(), QStringLiteral("取消全部 2 筆"));

        QVERIFY(b.undo.undo().ok());
        QCOMPARE(b.orders("START_DISPEN.txt"), QStringList({"A", "C"}));
        QVERIFY(b.undo.undo().ok());
        QCOMPARE(b.orders("START_DISPEN.txt"), QStringList({"A", "C", "B"}));
        QVERIFY(!b.undo.canUndo());
        QVERIFY(!b.undo.undo().ok());
        QCOMPARE(b.orders("START_DISPEN.txt").size(), 3);

        // A recipe deleted from the editor's list comes back whole.
        QVERIFY(AppendJob(b.file("QUICK.txt"), job(QStringLiteral("R1"))).ok());
        const QByteArray stored = ReadJob(b.file("QUICK.txt"), 1).bytes;
        QVERIFY(b.editor.refill().ok());
        b.editor.remove(0, b.editor.entries.at(0));
        QVERIFY(b.said.none());
        QCOMPARE(b.orders("QUICK.txt"), QStringList());
        QVERIFY(b.undo.undo().ok());
        QCOMPARE(ReadJob(b.file("QUICK.txt"), 1).bytes, stored);
    }

    // A start after a crash: a keep whose removal never happened is forgotten, one whose
    // removal happened can be undone, and a restore cut short is completed without doubles.
    void crashBetweenSteps() {
        UndoRig b;
        const QByteArray a = job(QStringLiteral("A")).encode(),
                         c = job(QStringLiteral("C")).encode();
        QVERIFY(appendJobBytes(b.file("START_DISPEN.txt"), a).ok());
        QVERIFY(b.undo.keep(b.file("START_DISPEN.txt"), {a}, QStringLiteral("DEL")).ok());
        // (the removal did not happen)
        UndoStore afterCrash(b.dir.path());
        QVERIFY(afterCrash.recover().ok());
        QVERIFY(!afterCrash.canUndo());

        QVERIFY(afterCrash.keep(b.file("START_DISPEN.txt"), {a, c}, QStringLiteral("X")).ok());
        QVERIFY(DeleteJobFile(b.file("START_DISPEN.txt")).ok()); // removed, not settled
        UndoStore second(b.dir.path());
        QVERIFY(second.recover().ok());
        QVERIFY(second.canUndo());

        // The restore got as far as the first record: UNDO.txt says "being restored from 0".
        QByteArray undo = b.dir.read(QStringLiteral("UNDO.txt"));
        for (qsizetype at = 0; at < undo.size(); at += UndoStore::kEntryLength) {
            undo[at] = 'R';
            undo.replace(at + 11, 10, QByteArray("0").leftJustified(10, ' '));
        }
        b.dir.write(QStringLiteral("UNDO.txt"), undo);
        QVERIFY(appendJobBytes(b.file("START_DISPEN.txt"), a).ok());
        UndoStore third(b.dir.path());
        QVERIFY(third.recover().ok());
        QCOMPARE(b.orders("START_DISPEN.txt"), QStringList({"A", "C"}));
        QVERIFY(!third.canUndo());
    }

    // An undo whose second append failed is tried again after the weighing has taken the
    // first record back off the queue: the first is not put back a second time.
    void retryAfterAFailedAppend() {
        UndoRig b;
        const QByteArray a = job(QStringLiteral("A")).encode(),
                         c = job(QStringLiteral("C")).encode();
        QVERIFY(b.undo.keep(b.file("START_DISPEN.txt"), {a, c}, QStringLiteral("X")).ok());
        b.undo.settle(true);
        // As the failed undo left it: A appended and marked, C still to come.
        QByteArray undo = b.dir.read(QStringLiteral("UNDO.txt"));
        undo[0] = 'A';
        undo[UndoStore::kEntryLength] = 'R';
        for (qsizetype at = 0; at < undo.size(); at += UndoStore::kEntryLength)
            undo.replace(at + 11, 10, QByteArray("0").leftJustified(10, ' '));
        b.dir.write(QStringLiteral("UNDO.txt"), undo);
        QVERIFY(AppendJob(b.file("START_DISPEN.txt"), job(QStringLiteral("Y"))).ok());
        UndoStore again(b.dir.path());
        QVERIFY(again.undo().ok());
        QCOMPARE(b.orders("START_DISPEN.txt"), QStringList({"Y", "C"}));
        QVERIFY(!again.canUndo());
    }
};

QTEST_GUILESS_MAIN(TestUndo)
#include "test_undo.moc"
