#pragma once
#include "common/Outcome.h"
#include "jobs/JobRecord.h"

#include <QDateTime>

#include <QList>
#include <QString>
#include <optional>

// The check of a job record's values before they are stored, shared by every way into the
// queue (the order search, the polling, the recipe editor) and by the sequencer at a
// job's start (a file written by another program).
//
// - A line's weight is a plain decimal amount of grams greater than 0 that fits its
//   field: digits with at most one '.', nothing else (no sign, exponent, comma or blank
//   inside; the padding spaces around it are not part of the value).
// - Every text (order number, output position, water, codes, weights, B01..B05) fits its
//   field in code page 950 bytes, without cutting anything but trailing spaces, and holds
//   only characters code page 950 can store.
struct JobFault {
    int line = 0;  // 1..10, or 0 for a field of the record itself
    QString field; // as the operator knows it: "單號", "代碼", "重量", ...
    QString value; // the value as given
    QString why;   // what is wrong with it

    // "第 3 行重量「1,5」不是大於 0 的克數 (只能是數字與一個小數點)"
    QString text() const;
};

// A value as a report shows it: its first 60 characters, and "…" when there is more.
QString shownValue(const QString& value);

// The first fault of a record's values, or none. `line` faults come in line order, after
// those of the record's own fields.
std::optional<JobFault> checkJob(const JobRecord& job);

// The same for the records of one order (ten lines to a record): a line is numbered in
// the order, so line 3 of the second record is line 13.
std::optional<JobFault> checkOrder(const QList<JobRecord>& jobs);

// Whether a weight is a plain decimal amount of grams greater than 0 (padding aside);
// the field width is not judged here.
bool isGramAmount(const QString& weight);

// The file of refused jobs beside a queue file: "START_DISPEN.txt" -> "START_DISPEN.refused".
QString refusedJobsFile(const QString& queueFile);

// Sets a refused record aside whole: appends a line "<time> <reason>" (UTF-8, LF) and then
// the record's bytes exactly as they were read, and syncs the file (and its folder when it
// was created). A record that already ends the file (set aside by an earlier try whose
// removal from the queue failed) is not appended again.
Outcome setAsideRefused(const QString& file, const QByteArray& record, const QString& reason,
                        const QDateTime& at);
