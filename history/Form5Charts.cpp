#include "history/Form5Charts.h"

#include "history/HistoryBrowser.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QHorizontalBarSeries>
#include <QLabel>
#include <QLineSeries>
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
    axis->applyNiceNumbers();
    axis->setLabelFormat(QStringLiteral("%g"));
    return axis;
}

// The figure of each bar beside it; set once the series has its axes, or Qt Charts
// draws none.
void showFigures(QAbstractBarSeries* series) {
    series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
    series->setLabelsFormat(QStringLiteral("@value"));
    series->setLabelsVisible(true);
    for (QBarSet* set : series->barSets())
        set->setLabelColor(Qt::black);
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
    Period = new QLabel(this);
    Period->setObjectName(QStringLiteral("Period"));
    Period->setAlignment(Qt::AlignCenter);
    QFont bold = Period->font();
    bold.setBold(true);
    Period->setFont(bold);
    CodeChart = new QChartView(this);
    CodeChart->setObjectName(QStringLiteral("CodeChart"));
    DayChart = new QChartView(this);
    DayChart->setObjectName(QStringLiteral("DayChart"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Period);
    layout->addWidget(CodeChart, 3);
    layout->addWidget(DayChart, 2);
}

void UsageCharts::show(const std::vector<HistoryTableModel::Usage>& totals,
                       const std::vector<HistoryTableModel::DayUsage>& days,
                       const QString& period) {
    Period->setText(period);
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
    codes->addSeries(series);
    auto* codeAxis = new QBarCategoryAxis;
    codeAxis->append(names);
    codeAxis->setTruncateLabels(false); // a code is never cut to "..."
    codes->addAxis(codeAxis, Qt::AlignLeft);
    series->attachAxis(codeAxis);
    QValueAxis* kgAxis = valueAxis(shown > 0 ? kg(totals.front().grams) : 0);
    codes->addAxis(kgAxis, Qt::AlignBottom);
    series->attachAxis(kgAxis);
    showFigures(series);

    QChart* perDay = replaceChart(DayChart, m_texts.byDay);
    double most = 0;
    for (const auto& d : days)
        most = std::max(most, kg(d.grams));
    QValueAxis* dayKg = valueAxis(most);
    if (days.size() <= 31) {
        // A month at most: one bar a day with its figure.
        auto* daySet = new QBarSet(QString());
        QStringList labels;
        for (const auto& d : days) {
            *daySet << kg(d.grams);
            labels << d.day.toString(QStringLiteral("dd"));
        }
        auto* daySeries = new QBarSeries;
        daySeries->append(daySet);
        perDay->addSeries(daySeries);
        auto* dayAxis = new QBarCategoryAxis;
        dayAxis->append(labels);
        perDay->addAxis(dayAxis, Qt::AlignBottom);
        daySeries->attachAxis(dayAxis);
        perDay->addAxis(dayKg, Qt::AlignLeft);
        daySeries->attachAxis(dayKg);
        showFigures(daySeries);
    } else {
        // Several months: a line over a time axis, which labels as many days as fit.
        auto* line = new QLineSeries;
        for (const auto& d : days)
            line->append(double(d.day.startOfDay().toMSecsSinceEpoch()), kg(d.grams));
        perDay->addSeries(line);
        auto* dateAxis = new QDateTimeAxis;
        dateAxis->setFormat(QStringLiteral("MM/dd"));
        dateAxis->setTickCount(std::min<int>(int(days.size()), 12));
        perDay->addAxis(dateAxis, Qt::AlignBottom);
        line->attachAxis(dateAxis);
        perDay->addAxis(dayKg, Qt::AlignLeft);
        line->attachAxis(dayKg);
    }
}
