#pragma once
#include "common/Outcome.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <deque>

// What went over one serial port, for a technician: requests, answers, time-outs, checksum
// errors, exceptions by code, answers from a slave that was not asked, readings per second
// over the last 10 s (per slave), and the last 200 frames each way with their time.
// Times are microseconds of the bus clock (BusClock).
class PortStats {
public:
    static constexpr int kTraceFrames = 200;
    static constexpr qint64 kRateWindowUs = 10'000'000;

    struct Frame {
        qint64 us = 0;
        QByteArray bytes;
    };

    explicit PortStats(QString name = {}) : m_name(std::move(name)) {}

    const QString& name() const { return m_name; }
    // The time the counting began: rates over a shorter run are taken over what there is.
    void start(qint64 us) { m_startUs = us; }

    void sent(const QByteArray& bytes, qint64 us);
    void received(const QByteArray& bytes, qint64 us);
    void answer() { ++m_answers; }
    void timeout() { ++m_timeouts; }
    void checksumError() { ++m_checksumErrors; }
    void exception(int code) { ++m_exceptions[code]; }
    void wrongSlave() { ++m_wrongSlave; }
    // A valid reading of `unit` (a balance's slave address, or 0 for a text-mode port).
    void reading(int unit, qint64 us);

    qint64 requests() const { return m_requests; }
    qint64 answers() const { return m_answers; }
    qint64 timeouts() const { return m_timeouts; }
    qint64 checksumErrors() const { return m_checksumErrors; }
    qint64 wrongSlaves() const { return m_wrongSlave; }
    const QMap<int, qint64>& exceptions() const { return m_exceptions; }
    qint64 exceptionCount() const;
    // Readings of `unit` per second over the last 10 s (or since start, when shorter).
    double readingsPerSecond(int unit, qint64 nowUs) const;
    QList<int> units() const { return m_readings.keys(); }

    const std::deque<Frame>& sentFrames() const { return m_tx; }
    const std::deque<Frame>& receivedFrames() const { return m_rx; }

    // One line of the figures: "MSComm1: requests 120, answers 118, ...".
    QString summary(qint64 nowUs) const;
    // Both traces merged by time, one frame a line: "   12.345678 TX 03 03 00 01 00 03 55 E9".
    QString trace() const;

private:
    static void keep(std::deque<Frame>& trace, const QByteArray& bytes, qint64 us);

    QString m_name;
    qint64 m_startUs = 0;
    qint64 m_requests = 0, m_answers = 0, m_timeouts = 0, m_checksumErrors = 0, m_wrongSlave = 0;
    QMap<int, qint64> m_exceptions;
    QMap<int, std::deque<qint64>> m_readings; // times within the rate window, by unit
    std::deque<Frame> m_tx, m_rx;
};

// The figures of several ports, one summary line each, then each port's trace under its name.
QString portReport(const QList<const PortStats*>& ports, qint64 nowUs);
// The report written to `file` (replaced).
Outcome savePortReport(const QString& file, const QList<const PortStats*>& ports, qint64 nowUs);
