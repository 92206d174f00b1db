#include "plant/PlantEvents.h"

#include "common/Clock.h"
#include "plant/MqttLink.h"
#include "plant/WeighingLog.h"

#include <algorithm>

PlantEvents::PlantEvents(const Clock& clock, QString station, WeighingLog* log, MqttLink* mqtt)
    : m_clock(clock), m_station(std::move(station)), m_log(log), m_mqtt(mqtt) {}

void PlantEvents::record(const WeighingEvent& event) {
    WeighingEvent e = event;
    if (e.at.isValid()) {
        // Timed by its source (an acceptance as journalled, recorded again after a stop):
        // the same time makes a repeat recognisable.
        m_lastMs = std::max(m_lastMs, e.at.toMSecsSinceEpoch());
    } else {
        qint64 ms = m_clock.now().toMSecsSinceEpoch();
        if (ms <= m_lastMs)
            ms = m_lastMs + 1;
        m_lastMs = ms;
        e.at = QDateTime::fromMSecsSinceEpoch(ms);
    }
    e.station = m_station;
    if (m_log)
        m_log->record(e);
    if (m_mqtt && (e.event == QLatin1String("accepted") || e.event == QLatin1String("finished") ||
                   e.event == QLatin1String("pick_mismatch")))
        m_mqtt->publish(e);
}
