#include "app/Station.h"
#include "config/Form1.h"
#include "station/Form3.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Station station;
    station.start();
    // Closing the main window ends the program; the other windows never keep it alive.
    for (QWidget* w : QApplication::topLevelWidgets())
        w->setAttribute(Qt::WA_QuitOnClose, w == &station.form3());
    station.form3().show();
    return app.exec();
}
