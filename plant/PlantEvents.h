#pragma once
#include "weighing/WeighingEvents.h"

#include <QString>

class Clock;
class MqttLink;
class WeighingLog;

// The station's sink of weighing events: stamps each with the time and the station's
// name and hands it to the weighing log and, for accepted, finished and pick_mismatch, to
// the message bus. Times are strictly increasing to the millisecond, so that the station
// and the time name one event.
class PlantEvents : public WeighingEvents {
public:
    PlantEvents(const Clock& clock, QString station, WeighingLog* log, MqttLink* mqtt);
    void record(const WeighingEvent& e) override;

private:
    const Clock& m_clock;
    QString m_station;
    WeighingLog* m_log;
    MqttLink* m_mqtt;
    qint64 m_lastMs = 0;
};
