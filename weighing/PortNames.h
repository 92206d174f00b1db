#pragma once
#include <QString>

class StationSettings;
class WeighingModel;

// What is on a port, as the status line's events name it: MSComm3 is the light bus; MSComm1
// the small balance, or both balances on the shared bus (SetType "2"); any other the large
// balance. Balances go by the main window's captions, converted with the language.
QString portOwner(const QString& port, const StationSettings& settings,
                  const WeighingModel& weighing);
