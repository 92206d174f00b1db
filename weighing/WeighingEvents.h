#pragma once
#include <QDateTime>
#include <QString>

// One event of the weighing, as the weighing log keeps it. Texts are as the station
// shows them; `line` is 1..10, or 0 for an event of the whole order.
struct WeighingEvent {
    QDateTime at; // stamped by the log when left invalid
    QString station;
    QString orderNo;
    int line = 0;
    QString code, lot;
    QString target, actual, tolerance; // grams, decimal texts
    QString balance;                   // "large" / "small" / ""
    QString event; // accepted, finished, resumed, pick_ok, pick_mismatch, undo, deleted, cancelled,
                   // refused (a queued record that fails the job check)
    QString detail;
};

// Where the sequencer and the queue commands report what happened. The station's own
// extensions (the weighing log, the message bus) implement it; without them there is none
// and nothing is recorded. record() is called on the user-interface thread and must return
// at once.
class WeighingEvents {
public:
    virtual ~WeighingEvents() = default;
    virtual void record(const WeighingEvent& e) = 0;
};
