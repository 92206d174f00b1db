#include "weighing/Startup.h"

#include "config/StationSettings.h"
#include "devices/BalanceLinkTiming.h"
#include "devices/SerialPort.h"
#include "jobs/JobFile.h"
#include "weighing/RunControl.h"
#include "weighing/StationTimers.h"

int balanceTimerInterval(const QString& setType) {
    if (setType == QStringLiteral("1"))
        return BalanceLinkTiming::kTextModeTickMs;
    if (setType == QStringLiteral("2"))
        return BalanceLinkTiming::kModbusTickMs;
    return 15;
}

RecipeListResult readRecipeList(const QString& quickFile) {
    RecipeListResult r;
    const ReadAllJobsResult all = readAllJobs(quickFile);
    if (!all.outcome) {
        r.outcome = all.outcome;
        return r;
    }
    for (qsizetype k = all.records.size() - 1; k >= 0; --k) {
        r.entries << recipeListEntry(all.records.at(k));
        r.records << all.records.at(k);
    }
    return r;
}

StartupResult runStartup(const StationSettings& settings, StartupPorts ports, StationTimers& timers,
                         RunControl& run, const QString& quickFile) {
    StartupResult r;
    timers.Timer6.setEnabled(false);

    const RecipeListResult recipes = readRecipeList(quickFile);
    r.recipeEntries = recipes.entries;
    if (!recipes.outcome)
        r.failures << recipes.outcome.reason();

    const QString mode = settings.text(Setting::SetType);
    bool balancePortFailed = false;
    auto openPort = [&](SerialPort& port, const QString& name, Setting s) {
        if (Outcome o = port.open(settings.text(s)); !o) {
            r.failures << QStringLiteral("%1: %2").arg(name, o.reason());
            return false;
        }
        return true;
    };
    if (!openPort(ports.MSComm1, QStringLiteral("MSComm1"), Setting::BalancePort1))
        balancePortFailed = mode == QStringLiteral("1") || mode == QStringLiteral("2");
    if (mode == QStringLiteral("1") &&
        !openPort(ports.MSComm2, QStringLiteral("MSComm2"), Setting::BalancePort2))
        balancePortFailed = true;
    if (!settings.trimmed(Setting::LightPort).isEmpty())
        openPort(ports.MSComm3, QStringLiteral("MSComm3"), Setting::LightPort);

    timers.Timer1.setInterval(balanceTimerInterval(mode));
    timers.Timer1.setEnabled(!balancePortFailed);
    timers.Timer2.setInterval(200);
    timers.Timer2.setEnabled(true);
    timers.Timer3.setInterval(200);
    timers.Timer3.setEnabled(true);
    timers.Timer4.setInterval(3000);
    timers.Timer4.setEnabled(true);

    if (!r.failures.isEmpty())
        run.failStartup();
    return r;
}
