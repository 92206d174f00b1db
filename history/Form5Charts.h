#pragma once
#include "history/HistoryTableModel.h"

#include <QWidget>

class QChart;
class QChartView;
class QLabel;

// The usage charts of the history window: the totals per code, largest first with the
// figure on each bar, and the usage per day. Both in kilograms, under the period they cover.
class UsageCharts : public QWidget {
    Q_OBJECT
public:
    // At most this many codes are drawn; the totals export holds them all.
    static constexpr int kMostCodes = 20;

    struct Texts {
        QString byCode = QStringLiteral("各代碼用量 (KG)");
        QString byDay = QStringLiteral("每日用量 (KG)");
        QString largest = QStringLiteral("最大的 %1 個代碼,共 %2 個");
    };

    explicit UsageCharts(QWidget* parent = nullptr);
    void setTexts(const Texts& texts) { m_texts = texts; }

    void show(const std::vector<HistoryTableModel::Usage>& totals,
              const std::vector<HistoryTableModel::DayUsage>& days, const QString& period);

    QLabel* Period = nullptr; // the months and days the charts cover
    QChartView* CodeChart = nullptr;
    QChartView* DayChart = nullptr;

private:
    Texts m_texts;
};
