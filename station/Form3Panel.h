#pragma once
#include <QWidget>

class WeighingPanelModel;

// The weighing panel of the main window, drawn from its model: the line being weighed in
// large figures (target, amount, difference), the gauge with the tolerance band and the
// amount as a needle, the state as a coloured word with a symbol, the settling progress,
// and the lines of the order with the finished ones marked; between orders, the summary of
// the last one. It draws; it decides nothing.
class WeighingPanel : public QWidget {
    Q_OBJECT
public:
    explicit WeighingPanel(const WeighingPanelModel& model, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override { return {560, 230}; }
    QSize sizeHint() const override { return {900, 300}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void drawLine(QPainter& p, const QRect& r);
    void drawLines(QPainter& p, const QRect& r);
    void drawSummary(QPainter& p, const QRect& r);

    int px(int n) const { return int(n * m_scale); }

    const WeighingPanelModel& m_model;
    double m_scale = 1.0;
};
