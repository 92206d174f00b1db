#pragma once
#include <QRect>
#include <QWidget>

class QPainter;
class WeighingPanelModel;

// The weighing panel of the main window, drawn from its model: the line being weighed in
// large figures (target and amount above, the difference below, the largest), the gauge
// with the tolerance band and the amount as a needle, the state as a word with a symbol on
// its colour, the settling progress, and the lines of the order with the finished ones
// marked; between orders, the summary of the last one. Everything is sized from the
// panel's height, so a larger screen shows larger figures. It draws; it decides nothing.
class WeighingPanel : public QWidget {
    Q_OBJECT
public:
    enum Figure { Target, Amount, Difference };

    explicit WeighingPanel(const WeighingPanelModel& model, QWidget* parent = nullptr);

    // Where a figure's digits are drawn, in the panel's coordinates.
    QRect figureRect(Figure f) const { return layout().figures[f]; }

    QSize minimumSizeHint() const override { return {560, 230}; }
    QSize sizeHint() const override { return {900, 300}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Layout {
        QRect main, list, head, state;
        QRect labels[3], figures[3], difference;
        QRect gauge, marks, progress;
    };
    Layout layout() const;
    void drawLine(QPainter& p, const Layout& l);
    void drawGauge(QPainter& p, const Layout& l, const QColor& state);
    void drawLines(QPainter& p, const QRect& r);
    void drawSummary(QPainter& p, const QRect& r);

    int px(int n) const { return int(n * m_scale); }

    const WeighingPanelModel& m_model;
    double m_scale = 1.0;
};
