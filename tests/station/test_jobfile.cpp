#include "common/OleDate.h"
#include "station/JobFile.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTest>
#include <QtEndian>

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

QByteArray field(const QByteArray& text, int width) { return text + QByteArray(width - text.size(), ' '); }

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
        QCOMPARE(recipeListEntry(j.encode()), QStringLiteral("  R1") + QString(46, QLatin1Char(' ')));
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
        // A read-only folder: neither the twin nor the rename can happen.
        if (!permissionsEnforced())
            QSKIP("running with rights that ignore a read-only folder");
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        const Outcome ro = RemoveJob(f, dir.file(QStringLiteral("q2.txt")), 1);
        const Outcome ap = AppendJob(f, job(QStringLiteral("D")));
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(dir.read(QStringLiteral("q.txt")), before);
        QVERIFY(!ro.reason().isEmpty());
        QVERIFY(!ap.ok());
    }

    void readOnlyFileCannotBeAppendedButReads() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("q.txt"));
        QVERIFY(AppendJob(f, job(QStringLiteral("A"))).ok());
        if (!permissionsEnforced())
            QSKIP("running with rights that ignore file permissions");
        QFile::setPermissions(f, QFile::ReadOwner);
        const Outcome o = AppendJob(f, job(QStringLiteral("B")));
        const JobCountResult c = JobCount(f);
        QFile::setPermissions(f, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(c.count, qint64(1));
        QVERIFY(!o.ok());
    }

    void deleteJobFile() {
        WorkDir dir;
        const QString f = dir.file(QStringLiteral("q.txt"));
        QVERIFY(DeleteJobFile(f).ok()); // no file is not an error
        QVERIFY(AppendJob(f, job(QStringLiteral("A"))).ok());
        QVERIFY(DeleteJobFile(f).ok());
        QVERIFY(!dir.exists(QStringLiteral("q.txt")));
    }
};

QTEST_GUILESS_MAIN(TestJobFile)
#include "test_jobfile.moc"
