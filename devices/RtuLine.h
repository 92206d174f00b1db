#pragma once
#include "common/Outcome.h"
#include "devices/BusClock.h"

#include <QByteArray>
#include <optional>

class PortStats;
class SerialPort;

// The master's side of a two-wire Modbus RTU line at 9600 baud: one exchange at a time.
// A frame starts only after the previous request's time on the line, the addressed slave's
// answer or its response time-out, and 3.5 characters of silence after either. The time a
// frame takes on the line is computed from its length: a drain call, and a pseudo-terminal,
// say nothing about when the bytes have left.
//
// An answer is complete when it has its expected length and a valid checksum, or is an
// exception (slave, function + 0x80, code, checksum). The beginning of such an answer is waited
// for until the response time-out, whatever gaps the host sees in it; anything else is judged
// once the line has been silent for 3.5 characters. A valid frame from another slave (a late answer
// to an earlier request) is dropped and the wait goes on.
class RtuLine {
public:
    static constexpr int kBaud = 9600;
    // Start, 8 data and stop bit: 10 bits a character, rounded up to whole microseconds.
    static constexpr qint64 lineUs(qint64 bytes) {
        return (bytes * 10 * 1'000'000 + kBaud - 1) / kBaud;
    }
    static constexpr qint64 kSilenceUs = (35 * 1'000'000 + kBaud - 1) / kBaud;
    static constexpr int kDefaultResponseTimeoutMs = 100;

    enum class Result { Answer, Exception, Timeout, BadChecksum };
    struct Exchange {
        Result result = Result::Timeout;
        QByteArray request;
        QByteArray answer; // the frame judged (empty on a time-out)
        int exceptionCode = 0;
    };

    RtuLine(SerialPort& port, PortStats& stats, const BusClock& clock);

    // Counted from the end of the request on the line.
    void setResponseTimeoutMs(int ms) { m_timeoutUs = qint64(ms) * 1000; }
    int responseTimeoutMs() const { return int(m_timeoutUs / 1000); }

    bool waiting() const { return m_waiting; }
    // True when a request may start now. Bytes that arrive outside an exchange are taken off
    // the line (and traced); the line must then be silent again before a frame starts.
    bool readyToSend();
    // Writes the request and opens its exchange; `answerLength` is its normal answer's length.
    Outcome send(const QByteArray& request, int answerLength);
    // The exchange, once its answer is complete, garbled and ended, or timed out.
    std::optional<Exchange> poll();
    // Drops the exchange in progress and all that has arrived; the line must be silent before
    // the next frame.
    void reset();
    // When the next frame may start at the earliest (bus clock, microseconds).
    qint64 freeAtUs() const { return m_freeAtUs; }

private:
    void readStray(qint64 now);
    bool answerBegun() const;
    Exchange finish(Result r, const QByteArray& frame, qint64 freeAtUs);

    SerialPort& m_port;
    PortStats& m_stats;
    const BusClock& m_clock;
    qint64 m_timeoutUs = kDefaultResponseTimeoutMs * 1000;
    bool m_waiting = false;
    QByteArray m_request;
    int m_answerLength = 0;
    QByteArray m_buffer;
    qint64 m_sentUs = 0;
    qint64 m_deadlineUs = 0;
    qint64 m_lastRxUs = 0;
    qint64 m_freeAtUs = 0;
};
