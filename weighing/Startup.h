#pragma once
#include "common/Outcome.h"

#include <QString>
#include <QStringList>

class RunControl;
class SerialPort;
class StationSettings;
struct StationTimers;

// The start-up of the main window after the settings are loaded: the recipe list, the
// three serial ports and the timers. Every step is tried even after one fails, so a
// missing light-bus adapter does not stop the balances; any failure takes the failure
// path (red window, no lights) and is named in `failures`.
struct StartupResult {
    QStringList recipeEntries; // List1, newest first
    QStringList failures;      // which port or file failed, and why
};

struct StartupPorts {
    SerialPort& MSComm1;
    SerialPort& MSComm2;
    SerialPort& MSComm3;
};

// The balance timer's interval by balance mode ("1": 20 ms, "2": the Modbus poll tick,
// otherwise 15 ms).
int balanceTimerInterval(const QString& setType);

StartupResult runStartup(const StationSettings& settings, StartupPorts ports, StationTimers& timers,
                         RunControl& run, const QString& quickFile);

// The entries of List1 for the recipe store: raw order numbers, last record first.
struct RecipeListResult {
    QStringList entries;
    QList<QByteArray> records; // the record behind each entry
    Outcome outcome = Outcome::success();
};
RecipeListResult readRecipeList(const QString& quickFile);
