#include "history/UsageCharts.h"

#include "history/HistoryBrowser.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QBarSeries>
#include <QChart>
#include <QChartView>
#include <QHorizontalBarSeries>
#include <QVBoxLayout>
#include <QValueAxis>

namespace {

double kg(Decimal grams) {
    return grams.toDouble() / 1000.0;
}

// The axis runs from 0 to a little past the largest bar, so that its figure fits.
QValueAxis* valueAxis(double largest) {
    auto* axis = new QValueAxis;
    axis->setRange(0, largest > 0 ? largest * 1.15 : 1);
    axis->setLabelFormat(QStringLiteral("%.3g"));
    return axis;
}

QChart* replaceChart(QChartView* view, const QString& title) {
    QChart* old = view->chart();
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->legend()->hide();
    chart->setAnimationOptions(QChart::NoAnimation);
    view->setChart(chart);
    delete old;
    return chart;
}

} // namespace

UsageCharts::UsageCharts(QWidget* parent) : QWidget(parent) {
    CodeChart = new QChartView(this);
    CodeChart->setObjectName(QStringLiteral("CodeChart"));
    DayChart = new QChartView(this);
    DayChart->setObjectName(QStringLiteral("DayChart"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(CodeChart, 3);
    layout->addWidget(DayChart, 2);
}

void UsageCharts::show(const std::vector<HistoryTableModel::Usage>& totals,
                       const std::vector<HistoryTableModel::DayUsage>& days) {
    const int shown = int(std::min<size_t>(totals.size(), kMostCodes));
    QString title = m_texts.byCode;
    if (size_t(shown) < totals.size())
        title += QStringLiteral("  ") + m_texts.largest.arg(shown).arg(totals.size());
    QChart* codes = replaceChart(CodeChart, title);
    // A horizontal bar chart draws its first category at the bottom: the largest goes last.
    auto* set = new QBarSet(QString());
    QStringList names;
    for (int i = shown - 1; i >= 0; --i) {
        *set << kg(totals[size_t(i)].grams);
        names << totals[size_t(i)].code;
    }
    auto* series = new QHorizontalBarSeries;
    series->append(set);
    series->setLabelsVisible(true);
    series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
    series->setLabelsFormat(QStringLiteral("@value"));
    codes->addSeries(series);
    auto* codeAxis = new QBarCategoryAxis;
    codeAxis->append(names);
    codes->addAxis(codeAxis, Qt::AlignLeft);
    series->attachAxis(codeAxis);
    QValueAxis* kgAxis = valueAxis(shown > 0 ? kg(totals.front().grams) : 0);
    codes->addAxis(kgAxis, Qt::AlignBottom);
    series->attachAxis(kgAxis);

    QChart* perDay = replaceChart(DayChart, m_texts.byDay);
    auto* daySet = new QBarSet(QString());
    QStringList labels;
    double most = 0;
    const bool oneMonth =
        days.empty() || (days.front().day.year() == days.back().day.year() &&
                         days.front().day.month() == days.back().day.month());
    for (const auto& d : days) {
        *daySet << kg(d.grams);
        most = std::max(most, kg(d.grams));
        labels << d.day.toString(oneMonth ? QStringLiteral("dd") : QStringLiteral("MM/dd"));
    }
    auto* daySeries = new QBarSeries;
    daySeries->append(daySet);
    // Figures fit on the bars of one month; over more days they would cover each other.
    daySeries->setLabelsVisible(days.size() <= 31);
    daySeries->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
    daySeries->setLabelsFormat(QStringLiteral("@value"));
    perDay->addSeries(daySeries);
    auto* dayAxis = new QBarCategoryAxis;
    dayAxis->append(labels);
    perDay->addAxis(dayAxis, Qt::AlignBottom);
    daySeries->attachAxis(dayAxis);
    QValueAxis* dayKg = valueAxis(most);
    perDay->addAxis(dayKg, Qt::AlignLeft);
    daySeries->attachAxis(dayKg);
}
