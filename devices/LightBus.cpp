#include "devices/LightBus.h"

#include "common/StatusLine.h"
#include "common/TickTimer.h"
#include "config/StationSettings.h"
#include "devices/ModbusFrames.h"
#include "devices/SerialPort.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <chrono>
#include <thread>

#include <utility>

// Every frame as hex, for a technician at the bench: QT_LOGGING_RULES="dyestation.devices.*=true".
Q_LOGGING_CATEGORY(lcLightFrames, "dyestation.devices.lights.frames", QtWarningMsg)

LightBus::LightBus(const StationSettings& settings, SerialPort& port, TickTimer& timer5,
                   StatusLine& status, const BusClock& clock, QObject* parent)
    : QObject(parent), m_settings(settings), m_port(port), m_timer5(timer5), m_status(status),
      m_line(port, m_stats, clock) {
    m_stats.start(clock.nowUs());
}

int LightBus::moduleOf(int light) {
    return (light - 1) / 8 + 1;
}

QByteArray LightBus::frame(int light, int command) {
    if (light < 1 || light > 2040)
        return {};
    const char module = char(moduleOf(light));
    const char output = char((light - 1) & 7);
    QByteArray data;
    switch (command) {
    case On:
    case Off: { // the light's coil (output 0..7 of its module)
        const quint16 value = command == On ? ModbusFrames::kCoilOn : ModbusFrames::kCoilOff;
        const char bytes[] = {module,
                              ModbusFrames::kWriteSingleCoil,
                              0,
                              output,
                              char(value >> 8),
                              char(value & 0xFF)};
        data = QByteArray(bytes, sizeof bytes);
        break;
    }
    case ModuleOff: { // 16 coils from 0, two bytes of zeros
        const char bytes[] = {module, ModbusFrames::kWriteMultipleCoils, 0, 0, 0, 16, 2, 0, 0};
        data = QByteArray(bytes, sizeof bytes);
        break;
    }
    default:
        return {};
    }
    return ModbusFrames::withCrc(data);
}

Outcome LightBus::CALL_LIGHT(int light, int command) {
    const QByteArray f = frame(light, command);
    if (f.isEmpty())
        return Outcome::success();
    // An adapter that went away and came back is opened again for this frame.
    reopenIfLost();
    if (!m_port.isOpen())
        return Outcome::failure(QStringLiteral("燈號連接埠未開啟"));
    if (m_timer5.enabled() && command == On)
        m_litDuringSweep.insert(light);
    else if (command == Off)
        m_litDuringSweep.remove(light);
    m_queue.push_back({f, moduleOf(light), command == On, false});
    return pump();
}

Outcome LightBus::pump() {
    Outcome result = Outcome::success();
    for (;;) {
        if (m_line.waiting()) {
            const std::optional<RtuLine::Exchange> e = m_line.poll();
            if (!e)
                break;
            judge(*e);
        }
        if (m_queue.empty() || !m_line.readyToSend())
            break;
        m_inFlight = m_queue.front();
        m_queue.pop_front();
        qCDebug(lcLightFrames) << m_inFlight.frame.toHex(' ');
        if (Outcome o = m_line.send(m_inFlight.frame, kAnswerLength); !o) {
            // The adapter has gone: what waits is dropped (the line is lit again once the
            // port is back).
            m_queue.clear();
            result = o;
            break;
        }
    }
    m_pacer.setEnabled(!idle());
    return result;
}

void LightBus::judge(const RtuLine::Exchange& e) {
    const int module = m_inFlight.module;
    bool ok = false;
    switch (e.result) {
    case RtuLine::Result::Answer:
        // A single coil is echoed; a write of several coils is answered with its first six
        // bytes (address, function, first coil, count) and their checksum.
        ok = e.answer == ModbusFrames::withCrc(e.request.left(6));
        if (ok)
            m_fault.remove(module);
        else
            fault(module, QStringLiteral("燈號模組 %1 回應不符").arg(module));
        break;
    case RtuLine::Result::Exception:
        fault(module, QStringLiteral("燈號模組 %1 回報例外 %2")
                          .arg(module)
                          .arg(e.exceptionCode, 2, 16, QLatin1Char('0')));
        break;
    case RtuLine::Result::Timeout:
        fault(module, QStringLiteral("燈號模組 %1 回應逾時").arg(module));
        break;
    case RtuLine::Result::BadChecksum:
        fault(module, QStringLiteral("燈號模組 %1 回應檢查碼錯誤").arg(module));
        break;
    }
    if (!ok && m_inFlight.lightOn && !m_inFlight.retried) {
        Pending again = m_inFlight;
        again.retried = true;
        m_queue.push_front(again);
    }
}

void LightBus::fault(int module, const QString& what) {
    auto it = m_fault.find(module);
    if (it != m_fault.end() && *it == what)
        return;
    m_fault.insert(module, what);
    m_status.report(what);
}

bool LightBus::reopenIfLost() {
    // A failed open leaves the port closed, no longer "lost": the loss is remembered here
    // until an open succeeds.
    if (m_port.isLost())
        m_lost = true;
    if (!m_lost || !m_port.open(m_settings.text(Setting::LightPort)))
        return false;
    m_lost = false;
    m_status.report(QStringLiteral("燈號連接埠 %1 已重新連線").arg(m_port.device()));
    return true;
}

void LightBus::startSweep() {
    // A new request for all lights off while a sweep runs: no light switched on during
    // this sweep may stay on or come back. The sweep goes on from its count, so a light
    // whose module it has already cleared (and re-lit) is switched off here; the others
    // it still clears.
    if (m_timer5.enabled()) {
        const QSet<int> lit = std::exchange(m_litDuringSweep, {});
        for (int light : lit)
            if (moduleOf(light) * 8 <= m_sweepTick)
                if (Outcome o = CALL_LIGHT(light, Off); !o)
                    m_status.report(
                        QStringLiteral("燈號 %1 未熄滅: %2").arg(light).arg(o.reason()));
    }
    m_timer5.setEnabled(true);
}

Outcome LightBus::switchAllOffNow(bool wait) {
    m_timer5.setEnabled(false);
    m_sweepTick = 0;
    m_litDuringSweep.clear();
    if (m_settings.trimmed(Setting::LightPort).isEmpty() || !m_port.isOpen())
        return Outcome::success();
    m_queue.clear();
    Outcome result = Outcome::success();
    for (int module = 1; module <= 16; ++module)
        if (Outcome o = CALL_LIGHT(8 * module, ModuleOff); !o)
            return o;
    if (!wait)
        return result;
    // Each exchange takes at most the frame, the time-out and the silence; a second more
    // covers a loaded machine. Real time bounds the wait whatever the bus clock does.
    const qint64 limitMs = 16 * (RtuLine::lineUs(11) + RtuLine::kSilenceUs) / 1000 +
                           16 * m_line.responseTimeoutMs() + 1000;
    QElapsedTimer spent;
    spent.start();
    while (!idle() && spent.elapsed() < limitMs) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        if (Outcome o = pump(); !o)
            return o;
    }
    return idle() ? result : Outcome::failure(QStringLiteral("燈號模組未回應"));
}

void LightBus::tick() {
    ++m_sweepTick;
    if (m_sweepTick % 8 == 0 && m_sweepTick / 8 < 17 &&
        !m_settings.trimmed(Setting::LightPort).isEmpty() && m_port.isOpen()) {
        if (Outcome o = CALL_LIGHT(m_sweepTick, ModuleOff); !o)
            m_status.report(o.reason());
        const int module = m_sweepTick / 8;
        for (int light : std::as_const(m_litDuringSweep))
            if (moduleOf(light) == module)
                if (Outcome o = CALL_LIGHT(light, On); !o)
                    m_status.report(
                        QStringLiteral("燈號 %1 未點亮: %2").arg(light).arg(o.reason()));
    }
    if (Outcome o = pump(); !o)
        m_status.report(o.reason());
    if (m_sweepTick > 130) {
        m_sweepTick = 0;
        m_litDuringSweep.clear();
        m_timer5.setEnabled(false);
    }
}
