#pragma once
#include "history/LineDetails.h"

#include <QHash>
#include <vector>

// The balance of each order line from the weighing log's `weighing_event` table in its
// embedded SQLite file (data/weighings.db): the balance of the last `accepted` event of
// the line at or before the order's finish. The file is opened read-only and never made;
// without it, or without the table, every balance is blank. The log knows no barrel.
class WeighingLogDetails : public LineDetails {
public:
    // `largeName` and `smallName` are shown for the log's `large` and `small`.
    WeighingLogDetails(QString databaseFile, QString largeName, QString smallName);

    void prepare(const HistorySet& set) override;
    QString balance(const HistorySet& set, const HistoryLine& line) const override;
    QString barrel(const HistorySet&, const HistoryLine&) const override { return {}; }

    // Why the last prepare found nothing (no file, no table, a failed query); empty when
    // it read the log.
    const QString& error() const { return m_error; }

private:
    struct Accepted {
        QString at; // "yyyy/MM/dd HH:mm:ss", as a history stamp
        QString balance;
    };
    QString m_file, m_large, m_small, m_error;
    QHash<QString, std::vector<Accepted>> m_accepted; // "order\x1fline", in time order
};
