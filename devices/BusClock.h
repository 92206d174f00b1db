#pragma once
#include <QtGlobal>
#include <chrono>

// The monotonic time the field buses pace their frames by, in microseconds. The station uses
// the steady clock; tests and benches stand it where they want.
class BusClock {
public:
    virtual ~BusClock() = default;
    virtual qint64 nowUs() const {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }
    // The clock every bus uses unless it is given another.
    static const BusClock& steady() {
        static const BusClock clock;
        return clock;
    }
};

// A clock that moves only when told to.
class ManualBusClock : public BusClock {
public:
    qint64 nowUs() const override { return m_us; }
    void advanceUs(qint64 us) { m_us += us; }
    void advanceMs(double ms) { m_us += qint64(ms * 1000); }

private:
    qint64 m_us = 1'000'000;
};
