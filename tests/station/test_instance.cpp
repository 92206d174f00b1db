// One station to a working folder: a second start there ends at once with a message; a
// station killed -9 leaves the folder free for the next start.
#include "jobs/InstanceLock.h"
#include "tests/support/TestSupport.h"

#include <QProcess>
#include <QTest>

class TestInstance : public QObject {
    Q_OBJECT
    WorkDir m_dir;

    void startIn(QProcess& p) {
        p.setWorkingDirectory(m_dir.path());
        p.start(builtProgram(QStringLiteral("dyestation")), {});
        QVERIFY(p.waitForStarted(10000));
    }
    // The station writes its process id into the lock file once it holds the folder
    // (read, not locked, so that the test never takes the folder from a starting station).
    bool held(const QProcess& p) const {
        return m_dir.read(QStringLiteral("dyestation.lock")).trimmed() ==
               QByteArray::number(p.processId());
    }

private slots:
    void secondStartEndsAtOnce() {
        QProcess first;
        startIn(first);
        QTRY_VERIFY_WITH_TIMEOUT(held(first), 20000);

        QProcess second;
        startIn(second);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 2);
        const QString said = QString::fromLocal8Bit(second.readAllStandardError());
        QVERIFY2(said.contains(QString::number(first.processId())), qPrintable(said));
        QCOMPARE(first.state(), QProcess::Running);

        first.kill(); // SIGKILL: no clean-up of its own
        QVERIFY(first.waitForFinished(10000));
        QVERIFY(InstanceLock(m_dir.path()).held()); // the kill released it
        QProcess third;
        startIn(third);
        QTRY_VERIFY_WITH_TIMEOUT(held(third), 20000);
        QCOMPARE(third.state(), QProcess::Running);
        third.kill();
        third.waitForFinished(10000);
    }
};

QTEST_GUILESS_MAIN(TestInstance)
#include "test_instance.moc"
