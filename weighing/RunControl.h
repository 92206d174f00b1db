#pragma once
#include "weighing/StationTimers.h"

#include <QObject>
#include <QString>

// Run state of the station: the sequencer's timer and the window background that shows
// it (system colour running, light pink stopped, red after a failed start-up).
class RunControl : public QObject {
    Q_OBJECT
public:
    enum class Background { Running, Stopped, Failed };

    explicit RunControl(StationTimers& timers, QObject* parent = nullptr)
        : QObject(parent), m_timers(timers) {}

    bool StartupFailed() const { return m_startupFailed; }
    Background background() const { return m_background; }

    void failStartup();
    // RUN: the sequencer goes on from where it stood; the red sign of a failed start-up
    // stays.
    void run();
    // STOP: the sequencer freezes in its state.
    void stop();
    // The menu's RUN and STOP: run() or stop(), and what to tell the operator.
    QString runCommand();
    QString stopCommand();

signals:
    void backgroundChanged(Background b);

private:
    void setBackground(Background b);
    StationTimers& m_timers;
    bool m_startupFailed = false;
    Background m_background = Background::Running;
};
