#include "app/Station.h"
#include "config/Form1.h"
#include "intake/OrderDatabase.h"
#include "station/Form3.h"
#include "station/InstanceLock.h"

#include <QApplication>
#include <QSettings>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    // One station to a working folder: a second start there ends at once.
    const InstanceLock lock(QDir::currentPath());
    if (!lock.held()) {
        std::fprintf(stderr, "dyestation: %s\n", qPrintable(lock.error()));
        return 2;
    }
    QApplication app(argc, argv);
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
