#pragma once
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class Clock;
class StatusLine;

// The status line's history: every message with its time, the last kKept of them, each
// split into plain words for the operator (a port named by its balance) and the technical
// detail after them, and marked as a fault or not.
class EventLog : public QObject {
    Q_OBJECT
public:
    static constexpr int kKept = 300;

    struct Event {
        QDateTime time;
        QString plain;
        QString detail;
        bool fault = false;
    };

    // `portName` names what is on a port ("MSComm1" -> "小天平"); empty keeps the port's name.
    using PortName = std::function<QString(const QString& port)>;

    EventLog(StatusLine& status, const Clock& clock, PortName portName = {},
             QObject* parent = nullptr);

    const QList<Event>& events() const { return m_events; }
    // The plain words and the detail of a message, and whether it tells of a fault.
    static Event describe(const QString& text, const PortName& portName = {});

signals:
    void added(const EventLog::Event& event);

private:
    void add(const QString& text);

    const Clock& m_clock;
    PortName m_portName;
    QList<Event> m_events;
};
