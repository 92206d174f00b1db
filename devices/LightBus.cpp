#include "devices/LightBus.h"

#include "common/StatusLine.h"
#include "common/TickTimer.h"
#include "config/StationSettings.h"
#include "devices/ModbusFrames.h"
#include "devices/SerialPort.h"

#include <QLoggingCategory>
#include <chrono>
#include <thread>

#include <utility>

// Every frame as hex, for a technician at the bench: QT_LOGGING_RULES="dyestation.devices.*=true".
Q_LOGGING_CATEGORY(lcLightFrames, "dyestation.devices.lights.frames", QtWarningMsg)

LightBus::LightBus(const StationSettings& settings, SerialPort& port, TickTimer& timer5,
                   StatusLine& status, QObject* parent)
    : QObject(parent), m_settings(settings), m_port(port), m_timer5(timer5), m_status(status) {}

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
    // The modules' answers are never examined, but they are taken off the line: left
    // unread they would pile up in the port's input buffer for as long as the station runs.
    m_port.read(-1);
    qCDebug(lcLightFrames) << f.toHex(' ');
    return m_port.write(f);
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

Outcome LightBus::switchAllOffNow() {
    m_timer5.setEnabled(false);
    m_sweepTick = 0;
    m_litDuringSweep.clear();
    if (m_settings.trimmed(Setting::LightPort).isEmpty() || !m_port.isOpen())
        return Outcome::success();
    for (int module = 1; module <= 16; ++module) {
        if (Outcome o = CALL_LIGHT(8 * module, ModuleOff); !o)
            return o;
        // The line time of the frame, then the silence that ends a frame on the bus.
        m_port.drain(200);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return Outcome::success();
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
    if (m_sweepTick > 130) {
        m_sweepTick = 0;
        m_litDuringSweep.clear();
        m_timer5.setEnabled(false);
    }
}
