// Prepares the demo working folder for the station and devsim: settings pointing at
// devsim's pseudo-terminals, a light map, a few recipes and one queued job. Files that
// exist are kept (the demo is reused from run to run), except that the port and mode
// settings are always pointed at the device folder given.
// Usage: demo-setup WORKDIR DEVICEDIR [MODE]   (MODE "1" text balances, "2" Modbus)
#include "common/OleDate.h"
#include "config/SettingsFile.h"
#include "config/StationSettings.h"
#include "devices/LightMap.h"
#include "jobs/JobFile.h"
#include "jobs/JobRecord.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

struct Line {
    const char* code;
    const char* weight;
};

JobRecord job(const char* order, std::initializer_list<Line> lines) {
    JobRecord j;
    j.OrderNo = QString::fromLatin1(order);
    j.OutputPos = QStringLiteral("1");
    j.Created = OleDate::fromDateTime(QDateTime::currentDateTime());
    int i = 1;
    for (const Line& l : lines) {
        j.Code[size_t(i)] = QString::fromLatin1(l.code);
        j.Weight[size_t(i)] = QString::fromLatin1(l.weight);
        ++i;
    }
    return j;
}

bool report(const Outcome& o, const QString& what) {
    if (!o)
        std::fprintf(stderr, "demo-setup: %s: %s\n", qPrintable(what), qPrintable(o.reason()));
    return o.ok();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: demo-setup WORKDIR DEVICEDIR [MODE]\n");
        return 2;
    }
    const QDir work(QString::fromLocal8Bit(argv[1]));
    const QDir devices(QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath());
    const QString mode = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("1");
    QDir().mkpath(work.path());
    bool ok = true;

    const QString setFile = work.filePath(QStringLiteral("set.txt"));
    StationSettings s;
    if (QFileInfo::exists(setFile)) {
        ok &= report(SettingsFile::load(setFile, s), setFile);
    } else {
        s.setText(Setting::WeightDecision, QStringLiteral("1000"));
        s.setText(Setting::ToleranceCount, QStringLiteral("2"));
        s.setText(Setting::PrintFlag, QStringLiteral("0"));
    }
    s.setText(Setting::SetType, mode);
    s.setText(Setting::BalancePort1,
              devices.filePath(mode == QLatin1String("2") ? "bus" : "small"));
    s.setText(Setting::BalancePort2, devices.filePath(QStringLiteral("large")));
    s.setText(Setting::LightPort, devices.filePath(QStringLiteral("lights")));
    ok &= report(SettingsFile::save(setFile, s), setFile);

    const QString mapFile = work.filePath(QStringLiteral("DYE_LIGHT.txt"));
    if (!QFileInfo::exists(mapFile)) {
        LightMap m;
        const char* codes[] = {"R-101", "R-102", "Y-201", "Y-202",
                               "B-301", "B-302", "K-401", "AUX-1"};
        const int positions[] = {1, 2, 9, 10, 17, 18, 73, 120};
        for (int k = 0; k < 8; ++k)
            m.setCode(positions[k], QString::fromLatin1(codes[k]));
        ok &= report(m.save(mapFile), mapFile);
    }

    const QString quick = work.filePath(QStringLiteral("QUICK.txt"));
    if (!QFileInfo::exists(quick)) {
        ok &=
            report(AppendJob(quick, job("RED-01",
                                        {{"R-101", "12.5"}, {"Y-201", "3.25"}, {"AUX-1", "1500"}})),
                   quick);
        ok &=
            report(AppendJob(quick, job("NAVY-02", {{"B-301", "45.6"}, {"K-401", "8.8"}})), quick);
        ok &= report(AppendJob(quick, job("GOLD-03",
                                          {{"Y-202", "20"}, {"R-102", "0.75"}, {"AUX-1", "2500"}})),
                     quick);
    }

    const QString queue = work.filePath(QStringLiteral("START_DISPEN.txt"));
    const JobCountResult count = JobCount(queue);
    if (count.outcome && count.count == 0)
        ok &=
            report(AppendJob(queue, job("DEMO-0001",
                                        {{"R-101", "12.5"}, {"AUX-1", "1200"}, {"K-401", "3.33"}})),
                   queue);
    return ok ? 0 : 1;
}
