#pragma once
#include "common/TickTimer.h"

#include <QTimer>
#include <functional>

// A QTimer that follows a TickTimer (interval and enabled flag) and calls `onTick` each
// time it fires. This is the only place where real time drives the logic.
class BoundTimer : public QTimer {
public:
    BoundTimer(TickTimer& model, std::function<void()> onTick, QObject* parent = nullptr)
        : QTimer(parent), m_model(model), m_onTick(std::move(onTick)) {
        setTimerType(Qt::PreciseTimer);
        connect(this, &QTimer::timeout, this, [this] {
            if (m_model.enabled())
                m_onTick();
        });
        connect(&m_model, &TickTimer::changed, this, &BoundTimer::follow);
        follow();
    }

    // For tests and benchmarks: run the logic `factor` times faster than its interval.
    void setSpeedUp(int factor) {
        m_speedUp = factor < 1 ? 1 : factor;
        follow();
    }

private:
    void follow() {
        const int ms = m_model.interval() / m_speedUp;
        if (interval() != ms)
            setInterval(ms < 1 ? 1 : ms);
        if (m_model.enabled() && !isActive())
            start();
        else if (!m_model.enabled() && isActive())
            stop();
    }

    TickTimer& m_model;
    std::function<void()> m_onTick;
    int m_speedUp = 1;
};
