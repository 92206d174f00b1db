#pragma once
#include "history/HistorySet.h"

#include <QAbstractTableModel>
#include <QDate>
#include <memory>
#include <vector>

// The history table: one row per order line of a set of month files, filtered by the
// records the browser found, by code and by text, sortable by any column. The usage totals
// per code and per day and the CSV exports cover the rows shown, so they always agree with
// what the table shows.
class HistoryTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        OrderNo,
        Time,
        Barrel,
        Line,
        Code,
        Target,
        Actual,
        DeviationGrams,
        DeviationPercent,
        Balance,
        ColumnCount
    };

    explicit HistoryTableModel(QObject* parent = nullptr);
    ~HistoryTableModel() override;

    // The column headers and the headers of the totals, in the window's language.
    QStringList headers() const { return m_headers; }
    QStringList totalsHeaders() const { return m_totalsHeaders; }
    void setHeaders(const QStringList& columns, const QStringList& totals);

    // Shows `set`; the code and text filters stay, the found records are forgotten.
    void setSet(std::shared_ptr<const HistorySet> set);
    const HistorySet* set() const { return m_set.get(); }

    // Only the records numbered `records` of month file `month` (the matches of the
    // browser's search) when `active`; all records otherwise.
    void setFoundRecords(const QString& month, const std::vector<qsizetype>& records, bool active);
    // An exact code; empty: every code.
    void setCodeFilter(const QString& code);
    // Rows whose order number, time or code holds the text, ignoring case; empty: all.
    void setTextFilter(const QString& text);
    QString codeFilter() const { return m_code; }
    QString textFilter() const { return m_text; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // Sorting on a worker thread (the window's choice); the rows are put in order when it
    // is done. Off: sort returns with the rows in order.
    void setBackgroundSorting(bool on) { m_background = on; }
    bool sorting() const { return m_sorting > 0; }

    QString cell(int row, int column) const;
    const HistoryLine& lineAt(int row) const { return m_set->lines[size_t(m_rows[size_t(row)])]; }
    // The codes of the set, sorted, for a choice of code.
    QStringList codes() const;

    // Usage per code over the rows shown, largest first (equal totals in the order the
    // codes were first met).
    struct Usage {
        QString code;
        Decimal grams;
    };
    std::vector<Usage> totals() const;
    // Usage per day over the rows shown, every day from the first to the last, zero days
    // included; rows whose time holds no date are left out.
    struct DayUsage {
        QDate day;
        Decimal grams;
    };
    std::vector<DayUsage> dailyUsage() const;

    // CSV in UTF-8 with a byte-order mark, CR LF line ends, fields quoted where needed.
    QByteArray tableCsv() const;
    QByteArray totalsCsv() const;

private:
    void refilter();
    void order();

    std::shared_ptr<const HistorySet> m_set;
    QStringList m_headers, m_totalsHeaders;
    QString m_code, m_text;
    std::vector<bool> m_foundOrders; // empty: no search in force
    std::vector<qint32> m_order;     // every line of the set in sort order; empty: file order
    std::vector<qint32> m_rows;      // indices into m_set->lines, in the order shown
    bool m_background = false;
    int m_sorting = 0;
    quint64 m_sortRequest = 0;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

namespace Csv {
// A field as CSV writes it (Csv::cell: a text a spreadsheet would run as a formula gets a
// leading `'`; quoted where needed).
QString field(const QString& text);
// The rows as one UTF-8 document with a byte-order mark.
QByteArray document(const QList<QStringList>& rows);
} // namespace Csv
