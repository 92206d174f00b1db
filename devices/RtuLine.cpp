#include "devices/RtuLine.h"

#include "devices/ModbusFrames.h"
#include "devices/PortStats.h"
#include "devices/SerialPort.h"

#include <algorithm>

RtuLine::RtuLine(SerialPort& port, PortStats& stats, const BusClock& clock)
    : m_port(port), m_stats(stats), m_clock(clock) {}

void RtuLine::readStray(qint64 now) {
    const QByteArray bytes = m_port.read(-1);
    if (bytes.isEmpty())
        return;
    m_stats.received(bytes, now);
    m_freeAtUs = std::max(m_freeAtUs, now + kSilenceUs);
}

bool RtuLine::readyToSend() {
    if (m_waiting)
        return false;
    const qint64 now = m_clock.nowUs();
    readStray(now);
    return now >= m_freeAtUs;
}

Outcome RtuLine::send(const QByteArray& request, int answerLength) {
    const qint64 now = m_clock.nowUs();
    readStray(now);
    if (Outcome o = m_port.write(request); !o)
        return o;
    m_stats.sent(request, now);
    m_waiting = true;
    m_request = request;
    m_answerLength = answerLength;
    m_buffer.clear();
    m_sentUs = now;
    m_deadlineUs = now + lineUs(request.size()) + m_timeoutUs;
    return Outcome::success();
}

RtuLine::Exchange RtuLine::finish(Result r, const QByteArray& frame, qint64 freeAtUs) {
    Exchange e;
    e.result = r;
    e.request = m_request;
    e.answer = frame;
    if (r == Result::Exception)
        e.exceptionCode = quint8(frame.at(2));
    switch (r) {
    case Result::Answer:
        m_stats.answer();
        break;
    case Result::Exception:
        m_stats.exception(e.exceptionCode);
        break;
    case Result::Timeout:
        m_stats.timeout();
        break;
    case Result::BadChecksum:
        m_stats.checksumError();
        break;
    }
    if (!frame.isEmpty())
        m_stats.received(frame, m_lastRxUs);
    m_waiting = false;
    // Whatever the port showed, the wire needs the request's and the answer's time.
    freeAtUs =
        std::max(freeAtUs, m_sentUs + lineUs(m_request.size()) + lineUs(frame.size()) + kSilenceUs);
    // What is left after a complete answer is stray: the line must fall silent after it.
    if (!m_buffer.isEmpty()) {
        m_stats.received(m_buffer, m_lastRxUs);
        freeAtUs = std::max(freeAtUs, m_lastRxUs + kSilenceUs);
        m_buffer.clear();
    }
    m_freeAtUs = freeAtUs;
    return e;
}

std::optional<RtuLine::Exchange> RtuLine::poll() {
    if (!m_waiting)
        return std::nullopt;
    const qint64 now = m_clock.nowUs();
    if (const QByteArray in = m_port.read(-1); !in.isEmpty()) {
        m_buffer += in;
        m_lastRxUs = now;
    }
    const char slave = m_request.isEmpty() ? 0 : m_request.at(0);
    const char function = m_request.size() > 1 ? m_request.at(1) : 0;
    for (;;) {
        qsizetype length = 0;
        if (m_buffer.size() >= 5 && (quint8(m_buffer.at(1)) & 0x80) &&
            ModbusFrames::crcMatches(m_buffer.left(5)))
            length = 5;
        else if (m_buffer.size() >= m_answerLength &&
                 ModbusFrames::crcMatches(m_buffer.left(m_answerLength)))
            length = m_answerLength;
        else if (!m_buffer.isEmpty() && now >= m_deadlineUs)
            length = m_buffer.size(); // the wait is over: judged as they are
        else if (!m_buffer.isEmpty() && now - m_lastRxUs >= kSilenceUs && !answerBegun())
            length = m_buffer.size(); // not the answer's beginning: judged once the line is silent
        else if (now >= m_deadlineUs)
            return finish(Result::Timeout, {}, now + kSilenceUs);
        else
            return std::nullopt;

        const QByteArray frame = m_buffer.left(length);
        m_buffer.remove(0, length);
        if (!ModbusFrames::crcMatches(frame))
            return finish(Result::BadChecksum, frame, std::max(now, m_lastRxUs + kSilenceUs));
        if (frame.at(0) != slave) {
            // Another slave's frame: not the answer; keep waiting for it.
            m_stats.wrongSlave();
            m_stats.received(frame, m_lastRxUs);
            continue;
        }
        const bool exception = length == 5 && quint8(frame.at(1)) == (quint8(function) | 0x80);
        return finish(exception ? Result::Exception : Result::Answer, frame,
                      m_lastRxUs + kSilenceUs);
    }
}

// True while the bytes so far can still become the answer: the addressed slave, the request's
// function (or its exception) and fewer bytes than that answer has. A USB adapter hands the
// bytes over in packets, and a busy host reads them late, so a gap in the middle of an answer
// says nothing about the line; such an answer is waited for until the response time-out.
bool RtuLine::answerBegun() const {
    if (m_buffer.isEmpty() || m_request.size() < 2 || m_buffer.at(0) != m_request.at(0))
        return false;
    if (m_buffer.size() == 1)
        return true;
    const quint8 function = quint8(m_request.at(1));
    const quint8 got = quint8(m_buffer.at(1));
    if (got == (function | 0x80))
        return m_buffer.size() < 5;
    return got == function && m_buffer.size() < m_answerLength;
}

void RtuLine::reset() {
    const qint64 now = m_clock.nowUs();
    m_waiting = false;
    m_buffer.clear();
    m_port.read(-1);
    m_freeAtUs = now + kSilenceUs;
}
