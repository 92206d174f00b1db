#pragma once
#include <QObject>

// A timer as the logic sees it: an interval and an enabled flag, nothing that fires.
// Logic objects switch timers on and off through it (the zeroing pauses the balance
// timer, the sequencer starts the light sweep); the window layer binds a QTimer to it
// that calls the owner's tick(). Tests call tick() themselves and read the flags.
class TickTimer : public QObject {
    Q_OBJECT
public:
    explicit TickTimer(int intervalMs = 0, QObject* parent = nullptr)
        : QObject(parent), m_interval(intervalMs) {}

    int interval() const { return m_interval; }
    bool enabled() const { return m_enabled; }
    void setInterval(int ms) {
        if (ms != m_interval) {
            m_interval = ms;
            emit changed();
        }
    }
    void setEnabled(bool on) {
        if (on != m_enabled) {
            m_enabled = on;
            emit changed();
        }
    }

signals:
    void changed();

private:
    int m_interval;
    bool m_enabled = false;
};
