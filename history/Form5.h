#pragma once
#include "common/Outcome.h"

#include <QWidget>
#include <functional>
#include <memory>

class HistoryBrowser;
class HistoryTableModel;
class UsageCharts;
class WeighingLogDetails;
struct HistorySet;
class QComboBox;
class QTableView;
class QTabWidget;
class QLabel;
class QLineEdit;
class QListView;
class QProgressBar;
class QTimer;
class QListWidget;
class QStringListModel;
class QPushButton;
class StationSettings;

// The history window: the month files in List2, the jobs or the usage totals in List1,
// the search box Text1 (Enter searches), the totals button and EXIT. The list of months
// is read again each time the window is shown.
//
// Beside them, in tabs around List1: a table of the order lines of the loaded month (or of
// the jobs found, or of a range of months), filtered by code and text and sortable; the
// usage charts of the rows shown; export of the table and totals as CSV and of the charts
// as PNG into the folder "export"; and the reprint of the ticket of the order chosen in the
// table. Months are decoded on a worker thread, so a year of months never holds up the
// timers.
class Form5 : public QWidget {
    Q_OBJECT
public:
    static QString hintText();
    static QString totalsCaption();

    Form5(HistoryBrowser& browser, StationSettings& settings, QWidget* parent = nullptr);
    ~Form5() override;

    QListView* List1 = nullptr; // its model holds the lines
    QListWidget* List2 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Command1 = nullptr;  // 統計當前用量
    QPushButton* Command2 = nullptr;  // EXIT
    QLabel* StatusLabel = nullptr;    // what went wrong with a month file
    QProgressBar* Progress = nullptr; // shown while a large month loads
    QPushButton* ExportLog = nullptr; // the weighing log of the month as CSV

    QTabWidget* Tabs = nullptr; // List1, the table, the charts
    QComboBox* MonthFrom = nullptr;
    QComboBox* MonthTo = nullptr;
    QPushButton* LoadRange = nullptr;
    QTableView* Table = nullptr;
    QComboBox* CodeFilter = nullptr; // first item: every code
    QLineEdit* TextFilter = nullptr;
    QPushButton* ExportTable = nullptr;
    QPushButton* ExportTotals = nullptr;
    QPushButton* Reprint = nullptr;
    UsageCharts* Charts = nullptr;
    QPushButton* ExportChart = nullptr;
    QLabel* TableStatus = nullptr;

    HistoryTableModel& table() { return *m_table; }
    // The ticket of a history record, printed as at the end of a job (Printer01).
    void setReprint(std::function<Outcome(const QByteArray& record)> print) {
        m_reprint = std::move(print);
    }
    // Shows the order lines of the months from `from` to `to` (names of List2).
    void loadRange(const QString& from, const QString& to);
    // True while months are being decoded for the table.
    bool tableLoading() const;
    void exportTable();
    void exportTotals();
    void exportChart();
    void reprintSelected();
    void drawCharts();

    // Records decoded between two returns to the event loop while a month loads.
    static constexpr int kRecordsPerStep = 1000;

    void refreshMonths();
    void loadMonth(const QString& name);
    void runSearch();
    void showTotals();

    // The export button, shown when the weighing log is on.
    void showExportLog();
    // The month file chosen in List2 ("DATE_202403.txt"), empty when none is.
    QString chosenMonthFile() const;
    void setStatusText(const QString& text);

signals:
    void exportLogClicked();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showLines(const QStringList& lines);
    void showRange(const QString& from, const QString& to);
    void continueLoading();
    void buildTabs();
    void convertNewTexts();
    void tell(const QString& text);
    QString words(const QString& text) const;
    void loadTable(const QStringList& months);
    void tableLoaded();
    void applyFound();
    void tableChanged();
    Outcome save(const QString& name, const QByteArray& bytes, QString& path);

    HistoryBrowser& m_browser;
    StationSettings& m_settings;
    QStringListModel* m_lines = nullptr;
    QTimer* m_loadStep = nullptr;
    bool m_loaded = false;

    HistoryTableModel* m_table = nullptr;
    std::shared_ptr<const WeighingLogDetails> m_details; // shared with the loads running
    int m_tableLoads = 0;                                // decodings running
    quint64 m_tableRequest = 0; // the latest; an older one that ends later is dropped
    bool m_chartsStale = true;
    bool m_simplified = false; // the new texts are shown in Simplified Chinese
    std::function<Outcome(const QByteArray&)> m_reprint;
};
