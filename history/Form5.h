#pragma once
#include <QWidget>

class HistoryBrowser;
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
class Form5 : public QWidget {
    Q_OBJECT
public:
    static QString hintText();
    static QString totalsCaption();

    Form5(HistoryBrowser& browser, StationSettings& settings, QWidget* parent = nullptr);

    QListView* List1 = nullptr; // its model holds the lines
    QListWidget* List2 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Command1 = nullptr;  // 統計當前用量
    QPushButton* Command2 = nullptr;  // EXIT
    QLabel* StatusLabel = nullptr;    // what went wrong with a month file
    QProgressBar* Progress = nullptr; // shown while a large month loads
    QPushButton* ExportLog = nullptr; // the weighing log of the month as CSV

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
    void continueLoading();

    HistoryBrowser& m_browser;
    StationSettings& m_settings;
    QStringListModel* m_lines = nullptr;
    QTimer* m_loadStep = nullptr;
    bool m_loaded = false;
};
