#pragma once
#include "common/Outcome.h"
#include "weighing/WeighingEvents.h"

#include <QList>
#include <QString>

// Events kept in order in a local file, one JSON object a line (UTF-8), while they cannot
// go where they are meant to (the log's database, the broker). An append is synced before
// it counts; a cut append leaves a line without its end, which is ignored and cut off by the
// next append, and a failed one is cut off at once.
namespace EventSpool {

// The event's identity: its station and its time to the millisecond, which the station
// keeps strictly increasing. A copy of an event (sent again after a kill) has the same.
QString id(const WeighingEvent& e);
// With "id" first, then the log's columns.
QByteArray toJson(const WeighingEvent& e);
bool fromJson(const QByteArray& line, WeighingEvent& e);

Outcome append(const QString& file, const QList<WeighingEvent>& events);
// Whole lines (each ended by '\n'), appended and synced as append() does.
Outcome appendLines(const QString& file, const QByteArray& bytes);
// Every whole line of the file from byte `from`; `end` gets the offset after the last one.
QList<WeighingEvent> read(const QString& file, qint64 from = 0, qint64* end = nullptr);
// The first whole line at or after `from` (empty when none); `next` gets the offset after it.
QByteArray lineAt(const QString& file, qint64 from, qint64* next);
qint64 size(const QString& file);
Outcome remove(const QString& file);
// Drops the lines before byte `upTo` (they went where they were meant to) and keeps the
// whole lines after it, in one step through `file`.new; empties the file when none is left.
Outcome dropFront(const QString& file, qint64 upTo);

} // namespace EventSpool
