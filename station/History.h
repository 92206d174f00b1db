#pragma once
#include "common/Outcome.h"
#include "station/HistoryLayout.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <array>

// One finished job in the month's history file: 1600 bytes, fields back to back, code
// page 950 text padded with spaces, ending in CR LF. Lines keep their own index, so a
// job with a gap leaves that line's fields blank.
struct HistoryRecord {
    static constexpr int kLength = HistoryLayout::kLength;
    static constexpr int kLines = HistoryLayout::kLines;

    QString OrderNo;                        // 0, 50
    std::array<QString, kLines + 1> Code;   // [1..10]: 80 + 20 (i - 1)
    std::array<QString, kLines + 1> Target; // [1..10]: 280 + 10 (i - 1)
    std::array<QString, kLines + 1> Actual; // [1..10]: 380 + 10 (i - 1)
    std::array<QString, kLines + 1> B01;    // [1..10]: 518 + 50 i ([0] not written)
    QDateTime Completed; // StampText (480, 30) and Stamp (510, 8, OLE date) are made from it

    // "2024/03/02 09:05:07"
    static QString stampText(const QDateTime& t);

    QByteArray encode() const;
    static HistoryRecord decode(const QByteArray& bytes);
};

// The record of a finished job from the sequencer's line slots (for line i: slot 10 i
// code, 10 i + 1 B01 text, 10 i + 2 target, 10 i + 3 actual).
HistoryRecord historyFromLineTable(const QString& orderNo,
                                   const std::array<QString, 201>& lineTable,
                                   const QDateTime& completed);

// "data/DATE_yyyymm.txt" for the month of `t`, relative to the working folder.
QString historyFileName(const QDateTime& t);

// Appends the record to the history file of the month it was completed in, under
// `workDir`: the folder "data" is made when missing, and the record is synced to the disk
// before this returns (a crash can leave a partial tail, which readers ignore and the
// next append overwrites).
Outcome AppendHistory(const QString& workDir, const HistoryRecord& record);
// The same for a record already encoded (the finishing journal keeps the exact bytes).
Outcome AppendHistoryBytes(const QString& workDir, const QByteArray& bytes);
// True when the month's history file holds exactly these bytes as one of its records.
struct HistoryLookup {
    bool found = false;
    Outcome outcome = Outcome::success();
};
HistoryLookup FindHistoryBytes(const QString& workDir, const QByteArray& bytes);
