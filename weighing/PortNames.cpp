#include "weighing/PortNames.h"

#include "config/StationSettings.h"
#include "weighing/WeighingModel.h"

QString portOwner(const QString& port, const StationSettings& settings,
                  const WeighingModel& weighing) {
    if (port == QLatin1String("MSComm3"))
        return QStringLiteral("燈號");
    if (port == QLatin1String("MSComm1") && settings.trimmed(Setting::SetType) == "2")
        return weighing.Label3[0] + QLatin1Char('/') + weighing.Label3[1];
    return weighing.Label3[port == QLatin1String("MSComm1") ? 1 : 0];
}
