// Every file the station writes, on a full disk and on a read-only disk: the write fails
// with a reason for the operator, and every file of the working folder stays as it was
// (no half record, no left-over twin or temporary file).
#include "common/FileOps.h"
#include "config/FieldMapping.h"
#include "config/SettingsFile.h"
#include "config/StationSettings.h"
#include "devices/LightMap.h"
#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "jobs/JobRecord.h"
#include "tests/fault/SmallDisk.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

const QDateTime kMonth(QDate(2024, 3, 2), QTime(9, 5, 7));

// Every file under `dir` (but the filler) with its bytes.
QMap<QString, QByteArray> snapshot(const QString& dir) {
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String("/filler")))
            continue;
        QFile f(path);
        files.insert(QDir(dir).relativeFilePath(path),
                     f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("?"));
    }
    return files;
}

JobRecord job(int id) {
    JobRecord j;
    j.OrderNo = QStringLiteral("單號%1").arg(id);
    j.Code[1] = QStringLiteral("RED-%1").arg(id);
    j.Weight[1] = QStringLiteral("12.34");
    return j;
}

HistoryRecord finished(int id) {
    HistoryRecord h;
    h.OrderNo = QStringLiteral("單號%1").arg(id);
    h.Code[1] = QStringLiteral("RED-%1").arg(id);
    h.Target[1] = QStringLiteral("12.34");
    h.Actual[1] = QStringLiteral("12.35");
    h.Completed = kMonth;
    return h;
}

// The working folder as the station leaves it after some use.
bool populate(const QString& dir) {
    for (int i = 1; i <= 5; ++i)
        if (!AppendJob(dir + QStringLiteral("/START_DISPEN.txt"), job(i)) ||
            !AppendJob(dir + QStringLiteral("/QUICK.txt"), job(100 + i)))
            return false;
    StationSettings s;
    s.setText(Setting::DataSourceName, QStringLiteral("orders"));
    s.setText(Setting::ToleranceCount, QStringLiteral("5"));
    s.setOption(Option::AutoRun, 1);
    LightMap map;
    map.setCode(1, QStringLiteral("RED-1"));
    map.setCode(120, QStringLiteral("藍色"));
    FieldMapping mapping;
    mapping.setText(0, QStringLiteral("12"));
    mapping.setEntry(FieldMapping::OrderNoColumn, QStringLiteral("1"));
    mapping.setQuery(QStringLiteral("SELECT * FROM orders"));
    return SettingsFile::save(dir + QStringLiteral("/set.txt"), s) && mapping.save(dir) &&
           QDir(dir).mkpath(QStringLiteral("other")) &&
           map.save(dir + QStringLiteral("/DYE_LIGHT.txt")) && AppendHistory(dir, finished(1)) &&
           AppendHistory(dir, finished(2));
}

// Names first, then each file's bytes, so that a failure says which file changed. A record
// file that did not exist may be left behind empty: opening a missing record file creates
// it, which needs no space.
void compareFiles(QMap<QString, QByteArray> now, const QMap<QString, QByteArray>& before) {
    for (const QString& name : now.keys())
        if (!before.contains(name) && now.value(name).isEmpty() &&
            !name.endsWith(QLatin1String("2.txt")))
            now.remove(name);
    QCOMPARE(now.keys(), before.keys());
    for (auto it = before.begin(); it != before.end(); ++it) {
        QVERIFY2(now.value(it.key()) == it.value(),
                 qPrintable(QStringLiteral("%1 changed: %2 bytes, was %3")
                                .arg(it.key())
                                .arg(now.value(it.key()).size())
                                .arg(it.value().size())));
    }
}

using Write = std::function<Outcome(const QString& dir)>;

void addWriters(bool readOnly) {
    QTest::addColumn<Write>("write");
    auto file = [](const QString& dir, const char* name) {
        return dir + QLatin1Char('/') + QLatin1String(name);
    };
    QTest::newRow("AppendJob queue")
        << Write([=](const QString& d) { return AppendJob(file(d, "START_DISPEN.txt"), job(6)); });
    QTest::newRow("AppendJob store")
        << Write([=](const QString& d) { return AppendJob(file(d, "QUICK.txt"), job(106)); });
    QTest::newRow("AppendJob new file")
        << Write([=](const QString& d) { return AppendJob(file(d, "QUICK_A.txt"), job(7)); });
    QTest::newRow("WriteJob past the end") << Write(
        [=](const QString& d) { return WriteJob(file(d, "START_DISPEN.txt"), 6, job(6)); });
    QTest::newRow("RemoveJob queue") << Write([=](const QString& d) {
        return RemoveJob(file(d, "START_DISPEN.txt"), file(d, "START_DISPEN2.txt"), 1);
    });
    QTest::newRow("RemoveJob store") << Write([=](const QString& d) {
        return RemoveJob(file(d, "QUICK.txt"), file(d, "QUICK2.txt"), 3);
    });
    QTest::newRow("settings save") << Write([=](const QString& d) {
        StationSettings s;
        s.setText(Setting::DataSourceName, QStringLiteral("other"));
        return SettingsFile::save(file(d, "set.txt"), s);
    });
    QTest::newRow("settings save new file") << Write([=](const QString& d) {
        StationSettings s;
        return SettingsFile::save(file(d, "set_new.txt"), s);
    });
    QTest::newRow("light map save") << Write([=](const QString& d) {
        LightMap map;
        map.setCode(5, QStringLiteral("YEL-5"));
        return map.save(file(d, "DYE_LIGHT.txt"));
    });
    QTest::newRow("replace whole (exports, dyestation.ini)") << Write([=](const QString& d) {
        return FileOps::replaceWhole(file(d, "set.txt"), file(d, "set.txt.new"),
                                     QByteArray(8000, 'x'));
    });
    QTest::newRow("history append")
        << Write([](const QString& d) { return AppendHistory(d, finished(3)); });
    QTest::newRow("history new month") << Write([](const QString& d) {
        HistoryRecord h = finished(4);
        h.Completed = kMonth.addMonths(1);
        return AppendHistory(d, h);
    });
    QTest::newRow("field mapping save new files") << Write([](const QString& d) {
        FieldMapping mapping;
        mapping.setText(1, QStringLiteral("2"));
        return mapping.save(d + QStringLiteral("/other"));
    });
    if (readOnly) {
        // Files of full length are rewritten in place, which needs no new space.
        QTest::newRow("field mapping save") << Write([](const QString& d) {
            FieldMapping mapping;
            mapping.setText(1, QStringLiteral("2"));
            return mapping.save(d);
        });
        // In place needs no new space, so only a read-only disk refuses it.
        QTest::newRow("WriteJob in place") << Write(
            [=](const QString& d) { return WriteJob(file(d, "START_DISPEN.txt"), 2, job(9)); });
        QTest::newRow("DeleteJobFile")
            << Write([=](const QString& d) { return DeleteJobFile(file(d, "START_DISPEN.txt")); });
    }
}

} // namespace

class TestDiskFaults : public QObject {
    Q_OBJECT
private slots:
    void fullDisk_data() { addWriters(false); }
    void fullDisk();
    void readOnlyDisk_data() { addWriters(true); }
    void readOnlyDisk();
    void readsStillWorkOnReadOnlyDisk();
};

void TestDiskFaults::fullDisk() {
    QFETCH(Write, write);
    SmallDisk disk(64);
    if (!disk.mounted())
        QSKIP("mounting a tmpfs is not permitted here");
    QVERIFY(populate(disk.path()));
    disk.fill();
    const auto before = snapshot(disk.path());
    const Outcome o = write(disk.path());
    QVERIFY2(!o.ok(), "a write to a full disk reported success");
    QVERIFY(!o.reason().isEmpty());
    compareFiles(snapshot(disk.path()), before);
}

void TestDiskFaults::readOnlyDisk() {
    QFETCH(Write, write);
    SmallDisk disk(256);
    if (!disk.mounted())
        QSKIP("mounting a tmpfs is not permitted here");
    QVERIFY(populate(disk.path()));
    const auto before = snapshot(disk.path());
    QVERIFY(disk.makeReadOnly());
    const Outcome o = write(disk.path());
    QVERIFY2(!o.ok(), "a write to a read-only disk reported success");
    QVERIFY(!o.reason().isEmpty());
    compareFiles(snapshot(disk.path()), before);
}

void TestDiskFaults::readsStillWorkOnReadOnlyDisk() {
    SmallDisk disk(256);
    if (!disk.mounted())
        QSKIP("mounting a tmpfs is not permitted here");
    QVERIFY(populate(disk.path()));
    QVERIFY(disk.makeReadOnly());
    const JobCountResult c = JobCount(disk.file(QStringLiteral("START_DISPEN.txt")));
    QVERIFY(c.outcome.ok());
    QCOMPARE(c.count, qint64(5));
    const ReadJobResult r = ReadJob(disk.file(QStringLiteral("START_DISPEN.txt")), 5);
    QVERIFY(r.outcome.ok());
    QCOMPARE(r.job.OrderNo, QStringLiteral("單號5"));
    StationSettings s;
    QVERIFY(SettingsFile::load(disk.file(QStringLiteral("set.txt")), s).ok());
    QCOMPARE(s.text(Setting::DataSourceName), QStringLiteral("orders"));
    LightMap map;
    QVERIFY(map.load(disk.file(QStringLiteral("DYE_LIGHT.txt"))).ok());
    QCOMPARE(map.lookup(QStringLiteral("藍色")), 120);
    // A job file that does not exist cannot be created: the count says so.
    QVERIFY(!JobCount(disk.file(QStringLiteral("QUICK_A.txt"))).outcome.ok());
}

QTEST_GUILESS_MAIN(TestDiskFaults)
#include "test_diskfaults.moc"
