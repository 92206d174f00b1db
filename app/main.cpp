#include "app/CommandLine.h"
#include "app/Station.h"
#include "app/StopSignals.h"
#include "config/ExtensionSettings.h"
#include "config/Form1.h"
#include "ds_version.h"
#include "intake/OrderDatabase.h"
#include "jobs/InstanceLock.h"
#include "plant/LogStore.h"
#include "plant/WeighingLog.h"
#include "station/Form3.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSettings>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
// dyestation --export-log FROM TO: the weighing log of the days FROM..TO (YYYY-MM-DD, both
// included) as CSV on standard output; no window, no display, no lock of the folder.
int exportLog(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QDate from =
        argc == 4 ? QDate::fromString(QString::fromUtf8(argv[2]), Qt::ISODate) : QDate();
    const QDate to =
        argc == 4 ? QDate::fromString(QString::fromUtf8(argv[3]), Qt::ISODate) : QDate();
    if (!from.isValid() || !to.isValid() || to < from) {
        std::fprintf(stderr, "usage: dyestation --export-log YYYY-MM-DD YYYY-MM-DD\n");
        return 2;
    }
    const ExtensionSettings ext =
        ExtensionSettings::load(QDir::current().filePath(QStringLiteral("dyestation.ini")));
    const Outcome o =
        LogStore::exportLog(QDir::currentPath(), ext.logOdbc, from, to, [](const QByteArray& b) {
            std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
        });
    std::fflush(stdout);
    if (!o) {
        std::fprintf(stderr, "dyestation: %s\n", qPrintable(o.reason()));
        return 1;
    }
    // Events a station could not write to the database yet wait in its pending file: the
    // export is whole but short of them, which a scheduled export must notice.
    if (const int n = WeighingLog::waiting(QDir::currentPath(), from, to); n > 0) {
        std::fprintf(stderr,
                     "dyestation: %d event(s) of these days still wait in "
                     "data/weighings.pending and are not in the export\n",
                     n);
        return 3;
    }
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const CommandLine cl = CommandLine::parse(args);
    if (!cl.error.isEmpty()) {
        std::fprintf(stderr, "dyestation: %s\n", qPrintable(cl.error));
        return 2;
    }
    if (cl.version) {
        // The project's version and the commit it was built from: "1.0.0 (git 404983c)".
        std::printf("dyestation %s\n", DS_VERSION_TEXT);
        return 0;
    }
    // --workdir DIR: the station keeps its files there (the desktop entry gives ~/dyestation);
    // without it, in the folder it is started in.
    if (!cl.workDir.isEmpty())
        if (Outcome o = enterWorkDir(cl.workDir); !o) {
            std::fprintf(stderr, "dyestation: %s\n", qPrintable(o.reason()));
            return 2;
        }
    // The arguments left for Qt and for --export-log, without --workdir and its folder.
    std::vector<QByteArray> restBytes;
    std::vector<char*> rest;
    for (const QString& a : cl.rest)
        restBytes.push_back(a.toLocal8Bit());
    for (QByteArray& b : restBytes)
        rest.push_back(b.data());
    rest.push_back(nullptr);
    argc = int(restBytes.size());
    argv = rest.data();

    if (argc >= 2 && qstrcmp(argv[1], "--export-log") == 0)
        return exportLog(argc, argv);
    // One station to a working folder: a second start there ends at once.
    const InstanceLock lock(QDir::currentPath());
    if (!lock.held()) {
        std::fprintf(stderr, "dyestation: %s\n", qPrintable(lock.error()));
        return 2;
    }
    QApplication app(argc, argv);
    const StopSignals stopSignals;
    StationOptions options;
    // [OrderDatabase] StatementTimeout=seconds in dyestation.ini (default 10; 0: none).
    const QSettings ini(QDir::current().filePath(QStringLiteral("dyestation.ini")),
                        QSettings::IniFormat);
    options.dbStatementTimeoutSecs =
        ini.value(QStringLiteral("OrderDatabase/StatementTimeout"), options.dbStatementTimeoutSecs)
            .toInt();
    int rc = 0;
    {
        Station station(options);
        station.start();
        // Closing the main window ends the program; the other windows never keep it alive.
        for (QWidget* w : QApplication::topLevelWidgets())
            w->setAttribute(Qt::WA_QuitOnClose, w == &station.form3());
        station.form3().show();
        rc = app.exec();
    }
    // A database thread still held by its driver (a login waiting for a server) must not
    // keep the closed station alive: end without waiting for it. Every file is closed.
    if (OrderDatabase::threadLeftRunning()) {
        std::fflush(nullptr);
        std::_Exit(rc);
    }
    return rc;
}
