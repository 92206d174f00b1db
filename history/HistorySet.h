#pragma once
#include "common/Numbers.h"

#include <QByteArray>
#include <QFuture>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class LineDetails;

// One finished order of a month file, as the history table and the usage chart use it.
struct HistoryOrder {
    QString orderNo;   // blanks removed
    QString stamp;     // "2024/03/02 09:05:07", blanks removed
    qint32 date = 0;   // yyyymmdd from the stamp, 0 when the stamp holds no date
    qint32 month = 0;  // index into HistorySet::months
    qint32 record = 0; // record number in its month file, from 1
};

// One order line: a line of a record whose code, target or actual is not blank.
struct HistoryLine {
    qint32 order = 0;       // index into HistorySet::orders
    qint32 code = 0;        // index into HistorySet::codes; codes are compared as exact text
    qint32 line = 0;        // 1..10
    Decimal target, actual; // the leading numbers of the fields, in grams

    Decimal deviation() const { return actual - target; }
    // The deviation in per cent of the target, to two decimals rounded half away from
    // zero; false when the target is 0.
    bool percent(Decimal& out) const;
};

// The order lines of one or more month files of the history folder, decoded once. It only
// reads the files. Decoding is a plain function of the files' bytes, so it may run on a
// worker thread while the window keeps its pace.
struct HistorySet {
    QString folder;                   // the history folder
    QStringList months;               // the month files, as named in the folder
    std::vector<HistoryOrder> orders; // in file order, month after month
    std::vector<HistoryLine> lines;   // in record order, line after line
    std::vector<QString> codes;       // distinct codes, in the order first met
    QStringList failures;             // "<name>: <why>" for each month that could not be read
    // Per order, its place among the orders by order number and by time (equal texts equal
    // places), worked out with the decoding so that sorting the table is quick.
    std::vector<qint32> orderRank, stampRank;
    // Per line, as a LineDetails found them; empty when nothing is known.
    std::vector<QString> balances, barrels;

    // Reads `names` from `folder` in the given order. A month that is a folder, missing or
    // unreadable is left out and named in `failures`; a trailing partial record is ignored.
    static HistorySet load(const QString& folder, const QStringList& names);
    // The same on threads of their own, which give way to the user-interface thread, with
    // the details of the lines filled in there too when `details` is given.
    static QFuture<std::shared_ptr<const HistorySet>>
    loadInBackground(const QString& folder, const QStringList& names,
                     std::shared_ptr<const LineDetails> details = {});

    QString balance(size_t line) const {
        return line < balances.size() ? balances[line] : QString();
    }
    QString barrel(size_t line) const { return line < barrels.size() ? barrels[line] : QString(); }

    // The month files from `from` to `to` (both included) among `names`, by name, taking
    // only names of the form DATE_yyyymm.txt. `from` and `to` may come in either order.
    static QStringList range(const QStringList& names, const QString& from, const QString& to);

    // The record of `order` as its month file holds it now (for a reprint); empty when
    // the file can no longer be read.
    QByteArray recordBytes(qint32 order) const;

    // "202403" or "202401-202412": names the set in export file names.
    QString label() const;
};
