#include "app/CommandLine.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void versionOfTheProgram();
    void workDirIsMadeAndEntered();
    void workDirThatIsAFileFails();
};

void TestCommandLine::parse_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("version");
    QTest::addColumn<QString>("workDir");
    QTest::addColumn<QStringList>("rest");
    QTest::addColumn<bool>("error");
    const QString p = QStringLiteral("dyestation");
    QTest::newRow("none") << QStringList{p} << false << QString() << QStringList{p} << false;
    QTest::newRow("version") << QStringList{p, "--version"} << true << QString() << QStringList{p}
                             << false;
    QTest::newRow("workdir, export kept")
        << QStringList{p, "--workdir", "/tmp/w", "--export-log", "2024-01-01", "2024-01-31"}
        << false << "/tmp/w" << QStringList{p, "--export-log", "2024-01-01", "2024-01-31"} << false;
    QTest::newRow("workdir=") << QStringList{p, "--workdir=~/x", "-platform", "offscreen"} << false
                              << "~/x" << QStringList{p, "-platform", "offscreen"} << false;
    QTest::newRow("workdir without folder")
        << QStringList{p, "--workdir"} << false << QString() << QStringList{p} << true;
    QTest::newRow("workdir= empty")
        << QStringList{p, "--workdir="} << false << QString() << QStringList{p} << true;
}

void TestCommandLine::parse() {
    QFETCH(QStringList, args);
    const CommandLine c = CommandLine::parse(args);
    QTEST(c.version, "version");
    QTEST(c.workDir, "workDir");
    QTEST(c.rest, "rest");
    QTEST(!c.error.isEmpty(), "error");
}

// The installed program answers --version without a display and without a working folder
// of its own: the project's version, and the commit when built from a git checkout.
void TestCommandLine::versionOfTheProgram() {
    QTemporaryDir dir;
    QProcess p;
    p.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DISPLAY"));
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("DS_BUILD_DIR") + QStringLiteral("/dyestation"),
            {QStringLiteral("--version")});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    QVERIFY2(QRegularExpression(QStringLiteral("^dyestation " DS_PROJECT_VERSION
                                               "( \\(git [0-9a-f]{7,}(-dirty)?\\))?\\n$"))
                 .match(out)
                 .hasMatch(),
             qPrintable(out));
    QVERIFY(QDir(dir.path()).isEmpty()); // no lock, no settings file
}

void TestCommandLine::workDirIsMadeAndEntered() {
    const QString before = QDir::currentPath();
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    const Outcome o = enterWorkDir(QStringLiteral("~/dyestation/a"));
    const QString now = QDir::currentPath();
    qputenv("HOME", oldHome);
    QVERIFY(QDir::setCurrent(before));
    QVERIFY2(o, qPrintable(o.reason()));
    QCOMPARE(QFileInfo(now).canonicalFilePath(),
             QFileInfo(home.filePath(QStringLiteral("dyestation/a"))).canonicalFilePath());
    // An existing folder is entered as it is.
    QVERIFY(enterWorkDir(home.path()));
    QCOMPARE(QFileInfo(QDir::currentPath()).canonicalFilePath(),
             QFileInfo(home.path()).canonicalFilePath());
    QVERIFY(QDir::setCurrent(before));
}

void TestCommandLine::workDirThatIsAFileFails() {
    const QString before = QDir::currentPath();
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("plain")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    const Outcome o = enterWorkDir(f.fileName());
    QVERIFY(!o);
    QVERIFY(o.reason().contains(f.fileName()));
    QCOMPARE(QDir::currentPath(), before);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
