#pragma once
#include "config/SettingsFile.h"
#include "config/StationSettings.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

// Runs the event loop until `pred` holds or `ms` have passed. QTRY_* and qWait() sleep
// 10 ms between event rounds, which starves the 3 ms balance timer; this loop does not.
template <class Pred> bool waitFor(Pred pred, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}
inline void runFor(int ms) {
    waitFor([] { return false; }, ms);
}

#define WAIT_VERIFY(expr, ms) QVERIFY2(waitFor([&] { return bool(expr); }, ms), #expr)
#define WAIT_COMPARE(actual, expected, ms)                                                         \
    do {                                                                                           \
        waitFor([&] { return (actual) == (expected); }, ms);                                       \
        QCOMPARE(actual, expected);                                                                \
    } while (0)

// The device simulator as a test peer: started in a temporary folder, commanded through
// its standard input, observed through its event log.
class Devsim {
public:
    explicit Devsim(const QStringList& extraArgs = {});
    ~Devsim();

    bool ready() const { return m_ready; }
    QString link(const QString& name) const { return m_dir.filePath(name); }
    void command(const QString& line);
    // The events logged so far, without their time stamps.
    QStringList events() const;
    bool hasEvent(const QString& event) const { return events().contains(event); }
    // Writes `workDir`/set.txt for devsim's balances in text mode (small on MSComm1, large
    // on MSComm2) and its light modules, with the balance threshold `threshold` grams.
    bool saveTextModeSettings(const QString& workDir, const QString& threshold) const {
        StationSettings s;
        s.setText(Setting::SetType, QStringLiteral("1"));
        s.setText(Setting::BalancePort1, link(QStringLiteral("small")));
        s.setText(Setting::BalancePort2, link(QStringLiteral("large")));
        s.setText(Setting::LightPort, link(QStringLiteral("lights")));
        s.setText(Setting::WeightDecision, threshold);
        return SettingsFile::save(workDir + QStringLiteral("/set.txt"), s).ok();
    }
    int count(const QString& event) const { return int(events().count(event)); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    bool m_ready = false;
};
