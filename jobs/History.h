#pragma once
#include "common/Outcome.h"
#include "history/HistoryRecord.h"

#include <QByteArray>
#include <QString>

// The writing side of the month's history file, whose record and name history/HistoryRecord.h
// defines.

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
