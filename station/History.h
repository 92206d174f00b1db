#pragma once
#include "common/Outcome.h"
#include "history/HistoryRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <array>

// The writing side of the month's history file, whose record and name history/HistoryRecord.h
// defines.

// The record of a finished job from the sequencer's line slots (for line i: slot 10 i
// code, 10 i + 1 B01 text, 10 i + 2 target, 10 i + 3 actual).
HistoryRecord historyFromLineTable(const QString& orderNo,
                                   const std::array<QString, 201>& lineTable,
                                   const QDateTime& completed);

// Appends the record to the history file of the month it was completed in, under
// `workDir`: the folder "data" is made when missing, and the record is synced to the disk
// before this returns (a crash can leave a partial tail, which readers ignore and the
// next append overwrites).
Outcome AppendHistory(const QString& workDir, const HistoryRecord& record);
// The same for a record already encoded (the finishing journal keeps the exact bytes).
Outcome appendHistoryBytes(const QString& workDir, const QByteArray& bytes);
// True when the month's history file holds exactly these bytes as one of its records.
struct HistoryLookup {
    bool found = false;
    Outcome outcome = Outcome::success();
};
HistoryLookup findHistoryBytes(const QString& workDir, const QByteArray& bytes);
