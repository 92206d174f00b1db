// Every durable file operation killed before each of its steps in turn (each write, sync,
// rename, unlink and truncate), with no timing luck: a child process counts the steps
// through the file layer's hook and kills itself at step n. After the restart's own
// recovery (the finishing journal, the field mapping's load) the files must be exactly as
// before the operation or exactly as after it.
#include "common/FileOps.h"
#include "config/FieldMapping.h"
#include "config/SettingsFile.h"
#include "devices/LightMap.h"
#include "jobs/History.h"
#include "jobs/JobFile.h"
#include "tests/support/TestSupport.h"
#include "weighing/Completion.h"

#include <QDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int g_steps = 0, g_killAt = 0;
void killAtStep(const char*) {
    if (++g_steps == g_killAt)
        ::raise(SIGKILL);
}

JobRecord job(const QString& order, int version) {
    JobRecord j;
    j.OrderNo = order;
    for (int i = 1; i <= JobRecord::kLines; ++i) {
        j.Code[size_t(i)] = QStringLiteral("C%1-%2").arg(i).arg(version);
        j.Weight[size_t(i)] = QString::number(version * 10 + i);
    }
    j.B05 = QStringLiteral("v%1 ").arg(version).repeated(50);
    return j;
}

HistoryRecord finished(const QString& order) {
    HistoryRecord h;
    h.OrderNo = order;
    h.Code[1] = QStringLiteral("C1");
    h.Actual[1] = QStringLiteral("12.51");
    h.Completed = QDateTime(QDate(2026, 12, 8), QTime(9, 30));
    return h;
}

// The state the restart sees: the files a scenario changes, after the recovery.
using Snapshot = std::function<QByteArray(const WorkDir&)>;

struct Scenario {
    std::function<void(const WorkDir&)> setUp;
    std::function<Outcome(const WorkDir&)> operation;
    Snapshot snapshot;
};

QString queue(const WorkDir& d) {
    return d.file(QStringLiteral("START_DISPEN.txt"));
}
QString twin(const WorkDir& d) {
    return d.file(QStringLiteral("START_DISPEN2.txt"));
}

// Whole records of the queue and of the month's history, after the start-up recovery.
QByteArray queueAndHistory(const WorkDir& d) {
    const Completion::Recovery r = Completion::recover(d.path(), queue(d), twin(d));
    if (!r.outcome)
        return "recovery failed: " + r.outcome.reason().toUtf8();
    const QByteArray q = d.exists(QStringLiteral("START_DISPEN.txt"))
                             ? d.read(QStringLiteral("START_DISPEN.txt"))
                             : "";
    const QString month = historyFileName(finished(QString()).Completed);
    const QByteArray h = d.exists(month) ? d.read(month) : "";
    // A twin left behind by a cut removal is not read by anyone and is overwritten by the
    // next removal.
    return q.left(q.size() / JobRecord::kLength * JobRecord::kLength) + "|" +
           h.left(h.size() / HistoryRecord::kLength * HistoryRecord::kLength);
}

QByteArray mapping(const WorkDir& d) {
    FieldMapping m;
    if (!m.load(d.path()))
        return "load failed";
    QByteArray s;
    for (int i = 0; i < FieldMapping::kTextCount; ++i)
        s += m.text(i).toUtf8() + ',';
    for (int i = 0; i < FieldMapping::kEntryCount; ++i)
        s += m.entry(i).toUtf8() + ',';
    return s + m.query().toUtf8();
}

void fillQueue(const WorkDir& d) {
    for (int k = 1; k <= 15; ++k)
        QVERIFY(AppendJob(queue(d), job(QStringLiteral("單號%1").arg(k % 4 == 0 ? 1 : k), 0)).ok());
}

void saveMapping(const WorkDir& d, int version) {
    FieldMapping m;
    for (int i = 0; i < FieldMapping::kTextCount; ++i)
        m.setText(i, QStringLiteral("t%1-%2").arg(i).arg(version));
    for (int i = 0; i < FieldMapping::kEntryCount; ++i)
        m.setEntry(i, QString::number(version * 100 + i));
    m.setQuery(QStringLiteral("SELECT %1").arg(version));
    QVERIFY(m.save(d.path()).ok());
}

Outcome saveSettings(const WorkDir& d, int version) {
    StationSettings s;
    s.setText(Setting::DataSourceName, QStringLiteral("orders%1").arg(version));
    return SettingsFile::save(d.file(QStringLiteral("set.txt")), s);
}

Outcome saveLights(const WorkDir& d, int version) {
    LightMap map;
    map.setCode(version, QStringLiteral("DYE-%1").arg(version));
    return map.save(d.file(QStringLiteral("DYE_LIGHT.txt")));
}

Scenario scenario(const QString& name) {
    if (name == QLatin1String("append"))
        return {fillQueue,
                [](const WorkDir& d) { return AppendJob(queue(d), job(QStringLiteral("新"), 1)); },
                queueAndHistory};
    if (name == QLatin1String("rewrite record 12"))
        return {
            fillQueue,
            [](const WorkDir& d) { return WriteJob(queue(d), 12, job(QStringLiteral("改"), 2)); },
            queueAndHistory};
    if (name == QLatin1String("remove record 7"))
        return {fillQueue, [](const WorkDir& d) { return RemoveJob(queue(d), twin(d), 7); },
                queueAndHistory};
    if (name == QLatin1String("delete the queue"))
        return {fillQueue, [](const WorkDir& d) { return DeleteJobFile(queue(d)); },
                queueAndHistory};
    if (name == QLatin1String("finish, identical next job"))
        return {[](const WorkDir& d) {
                    QVERIFY(AppendJob(queue(d), job(QStringLiteral("A"), 0)).ok());
                    QVERIFY(AppendJob(queue(d), job(QStringLiteral("A"), 0)).ok());
                    QVERIFY(AppendJob(queue(d), job(QStringLiteral("B"), 0)).ok());
                    QVERIFY(AppendHistory(d.path(), finished(QStringLiteral("earlier"))).ok());
                },
                [](const WorkDir& d) {
                    const QByteArray h = finished(QStringLiteral("A")).encode();
                    Outcome o = Completion::begin(d.path(), queue(d),
                                                  job(QStringLiteral("A"), 0).encode(), h);
                    if (o)
                        o = appendHistoryBytes(d.path(), h);
                    if (o)
                        o = RemoveJob(queue(d), twin(d), 1);
                    if (o)
                        o = Completion::end(d.path());
                    return o;
                },
                queueAndHistory};
    // The two files saved whole and renamed into place (the rename syncs the folder).
    if (name == QLatin1String("settings save"))
        return {[](const WorkDir& d) { QVERIFY(saveSettings(d, 1).ok()); },
                [](const WorkDir& d) { return saveSettings(d, 2); },
                [](const WorkDir& d) { return d.read(QStringLiteral("set.txt")); }};
    if (name == QLatin1String("light map save"))
        return {[](const WorkDir& d) { QVERIFY(saveLights(d, 1).ok()); },
                [](const WorkDir& d) { return saveLights(d, 2); },
                [](const WorkDir& d) { return d.read(QStringLiteral("DYE_LIGHT.txt")); }};
    return {[](const WorkDir& d) { saveMapping(d, 1); },
            [](const WorkDir& d) {
                saveMapping(d, 2);
                return Outcome::success();
            },
            mapping};
}

} // namespace

class TestCrashPoints : public QObject {
    Q_OBJECT
private slots:
    void killedAtEveryStep_data() {
        QTest::addColumn<QString>("name");
        for (const char* n : {"append", "rewrite record 12", "remove record 7", "delete the queue",
                              "finish, identical next job", "field mapping save", "settings save",
                              "light map save"})
            QTest::newRow(n) << QString::fromUtf8(n);
    }
    void killedAtEveryStep() {
        QFETCH(QString, name);
        const Scenario s = scenario(name);
        // The two states allowed, from runs that are not cut.
        QByteArray before, after;
        {
            WorkDir d;
            s.setUp(d);
            before = s.snapshot(d);
            QVERIFY(s.operation(d).ok());
            after = s.snapshot(d);
            QVERIFY(before != after);
        }
        int cutBefore = 0, cutAfter = 0, step = 1;
        for (;; ++step) {
            WorkDir d;
            s.setUp(d);
            const pid_t pid = ::fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                g_killAt = step;
                FileOps::setStepHook(killAtStep);
                ::_exit(s.operation(d) ? 0 : 1);
            }
            int status = 0;
            QCOMPARE(::waitpid(pid, &status, 0), pid);
            if (WIFEXITED(status)) {
                QCOMPARE(WEXITSTATUS(status), 0);
                QCOMPARE(s.snapshot(d), after);
                break; // fewer steps than `step`: every step has been cut
            }
            const QByteArray seen = s.snapshot(d);
            QVERIFY2(
                seen == before || seen == after,
                qPrintable(
                    QStringLiteral("killed before step %1: neither before nor after").arg(step)));
            (seen == before ? cutBefore : cutAfter)++;
        }
        qInfo("%s: %d steps, cut %d times with the old state, %d with the new", qPrintable(name),
              step - 1, cutBefore, cutAfter);
        QVERIFY(cutBefore > 0);
    }
};

QTEST_GUILESS_MAIN(TestCrashPoints)
#include "test_crashpoints.moc"
