#pragma once
#include "common/Outcome.h"
#include "history/LineDetails.h"

// The balance of each order line from the weighing log's `weighing_event` table in its
// embedded SQLite file (data/weighings.db): the balance of the last `accepted` event of
// the line at or before the order's finish. The file is opened read-only and never made;
// without it, or without the table, every balance is blank. The log knows no barrel.
// Each fill opens a connection of its own, so fills may run on any thread.
class WeighingLogDetails : public LineDetails {
public:
    // `largeName` and `smallName` are shown for the log's `large` and `small`.
    WeighingLogDetails(QString databaseFile, QString largeName, QString smallName);

    void fill(HistorySet& set) const override;
    // The same, saying why nothing was found (no file, no table, a failed query).
    Outcome fillFrom(HistorySet& set) const;

private:
    QString m_file, m_large, m_small;
};
