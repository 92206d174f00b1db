#include "station/Form3Panel.h"

#include "weighing/StatusColours.h"
#include "weighing/WeighingModel.h"
#include "weighing/WeighingPanelModel.h"

#include <QPainter>
#include <QPainterPath>

namespace {
QColor colour(const Rgb& c) {
    return QColor(c.r, c.g, c.b);
}

QFont pixelFont(const QFont& base, int px, bool bold = false) {
    QFont f = base;
    f.setPixelSize(std::max(1, px));
    f.setBold(bold);
    return f;
}

// The text at the largest pixel size up to `px` that fits `width`.
QFont fitted(const QFont& base, const QString& text, int px, int width, bool bold = true) {
    QFont f = pixelFont(base, px, bold);
    while (px > 10 && QFontMetrics(f).horizontalAdvance(text) > width) {
        px -= 2;
        f.setPixelSize(px);
    }
    return f;
}

// A figure in `r`: its digits as high as the box, smaller only where the text would be wider
// than the box; on the box's left, or centred.
void drawFigure(QPainter& p, const QFont& base, const QRect& r, const QString& text, bool centred) {
    const QString digit = QStringLiteral("0");
    QFont f = pixelFont(base, 100, true);
    int size = r.height() * 100 / std::max(1, QFontMetrics(f).tightBoundingRect(digit).height());
    f.setPixelSize(size);
    if (const int w = QFontMetrics(f).horizontalAdvance(text); w > r.width()) {
        size = size * r.width() / w;
        f.setPixelSize(std::max(1, size));
    }
    p.setFont(f);
    const QFontMetrics fm(f);
    const int w = fm.horizontalAdvance(text);
    const int baseline = r.bottom() - (r.height() - fm.tightBoundingRect(digit).height()) / 2;
    p.drawText(centred ? r.left() + (r.width() - w) / 2 : r.left(), baseline, text);
}
// A row of the order's lines: number, code, target, and the amount once it is done.
QString lineText(const WeighingPanelModel::Line& l) {
    const QString mark = l.mark == WeighingPanelModel::Mark::Done      ? QStringLiteral("✔")
                         : l.mark == WeighingPanelModel::Mark::Current ? QStringLiteral("▶")
                                                                       : QStringLiteral("  ");
    QString t = QStringLiteral("%1 %2 %3  %4").arg(mark).arg(l.line).arg(l.code, l.target);
    if (l.mark == WeighingPanelModel::Mark::Done)
        t += QStringLiteral(" → ") + l.actual;
    return t;
}
} // namespace

WeighingPanel::WeighingPanel(const WeighingPanelModel& model, QWidget* parent)
    : QWidget(parent), m_model(model) {
    setObjectName(QStringLiteral("WeighingPanel"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&model, &WeighingPanelModel::changed, this, qOverload<>(&QWidget::update));
}

// The panel is cut by its height: a head row, target and amount side by side, the
// difference under them across the width, the gauge with its marks and the progress; the
// figures take what the other rows leave.
WeighingPanel::Layout WeighingPanel::layout() const {
    Layout l;
    const QRect inner = rect().adjusted(8, 6, -8, -6);
    const int h = inner.height();
    auto share = [h](double f, int lo, int hi) { return std::clamp(int(h * f), lo, hi); };
    const int listW = std::max(180, inner.width() / 4);
    l.main = QRect(inner.left(), inner.top(), inner.width() - listW - 12, h);
    l.list = QRect(l.main.right() + 13, inner.top(), listW, h);
    const QRect& r = l.main;
    const int gap = share(0.015, 3, 12);
    const int headH = share(0.10, 24, 60);
    const int labelH = share(0.055, 13, 30);
    const int barH = share(0.085, 20, 60);
    const int marksH = share(0.055, 12, 28);
    const int progH = share(0.045, 10, 24);
    int y = r.top();
    const int stateW = std::min(r.width() / 2, headH * 8);
    l.state = QRect(r.right() + 1 - stateW, y, stateW, headH);
    l.head = QRect(r.left(), y, r.width() - stateW - 10, headH);
    y += headH + gap;
    // The difference's caption sits inside its box, on the left, beside the figure.
    const int figuresH = r.bottom() + 1 - y - labelH - barH - marksH - progH - 5 * gap;
    const int topH = figuresH * 35 / 100;
    const int half = (r.width() - 3 * gap) / 2;
    for (int i = 0; i < 2; ++i) {
        const int x = r.left() + i * (half + 3 * gap);
        l.labels[i] = QRect(x, y, half, labelH);
        l.figures[i] = QRect(x, y + labelH, half - 2 * gap, topH);
    }
    y += labelH + topH + gap;
    const int captionW = labelH * 4;
    l.difference = QRect(r.left(), y, r.width(), figuresH - topH);
    l.labels[Difference] = QRect(r.left(), y, captionW, labelH);
    l.figures[Difference] = l.difference.adjusted(captionW, gap, -captionW, -gap);
    y += l.difference.height() + 2 * gap;
    l.gauge = QRect(r.left(), y, r.width(), barH);
    l.marks = QRect(r.left(), y + barH, r.width(), marksH);
    l.progress = QRect(r.left(), l.marks.bottom() + 1 + gap, r.width(), progH);
    return l;
}

void WeighingPanel::paintEvent(QPaintEvent*) {
    m_scale = std::clamp(height() / 300.0, 0.8, 2.4);
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(QColor(160, 160, 160));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const Layout l = layout();
    if (m_model.lineShown())
        drawLine(p, l);
    else if (m_model.hasSummary())
        drawSummary(p, l.main);
    else {
        p.setPen(QColor(90, 90, 90));
        p.setFont(pixelFont(font(), px(28), true));
        p.drawText(l.main, Qt::AlignCenter, m_model.stateWord());
    }
    if (!m_model.lines().isEmpty())
        drawLines(p, l.list);
}

void WeighingPanel::drawLine(QPainter& p, const Layout& l) {
    const WeighingPanelModel& m = m_model;
    const QColor state = colour(m.stateColour());

    // Code, shelf position and balance; the state word with its symbol on its colour.
    p.fillRect(l.state, state);
    p.setPen(Qt::black);
    const QString word = m.stateSymbol() + QLatin1Char(' ') + m.stateWord();
    p.setFont(fitted(font(), word, l.state.height() * 6 / 10, l.state.width() - 12));
    p.drawText(l.state, Qt::AlignCenter, word);
    const QString head = m.caption("第 %1 行  ").arg(m.line()) + m.code() + m.caption("   位置 ") +
                         m.shelf() + QStringLiteral("   ") + m.balanceName();
    p.setFont(fitted(font(), head, l.head.height() * 6 / 10, l.head.width()));
    p.drawText(l.head, Qt::AlignVCenter | Qt::AlignLeft, head);

    // Target, amount and the difference, on the state's colour; a missing value in grey.
    const QString labels[3] = {m.caption("目標 g"), m.caption("已秤 g"), m.caption("偏差 g")};
    const QString values[3] = {m.targetText(), m.amountText(), m.differenceText()};
    p.fillRect(l.difference, state);
    for (int i = 0; i < 3; ++i) {
        p.setPen(QColor(70, 70, 70));
        p.setFont(pixelFont(font(), l.labels[i].height() * 8 / 10));
        p.drawText(l.labels[i], Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral(" ") + labels[i]);
        p.setPen(values[i] == QStringLiteral("—") ? QColor(150, 150, 150) : QColor(Qt::black));
        drawFigure(p, font(), l.figures[i], values[i], i == Difference);
    }

    drawGauge(p, l, state);

    // Settling progress (in tolerance) or the countdown of the zero wait.
    double fraction = -1;
    QString text;
    if (m.phase() == WeighingPanelModel::Phase::Within) {
        fraction = double(m.settled()) / WeighingPanelModel::settleTicks();
        text = m.caption("穩定");
    } else if (m.phase() == WeighingPanelModel::Phase::Settling) {
        // The count holds while the balance settles.
        fraction = double(m.settled()) / WeighingPanelModel::settleTicks();
        text = m.caption("穩定中…");
    } else if (m.phase() == WeighingPanelModel::Phase::Countdown) {
        fraction = 1.0 - m.countdownSeconds() / 6.0;
        text = m.caption("等待");
    }
    if (fraction >= 0) {
        const QRect& r = l.progress;
        const int textW = r.height() * 5;
        p.setFont(pixelFont(font(), r.height() * 8 / 10));
        p.setPen(Qt::black);
        p.drawText(QRect(r.left(), r.top(), textW, r.height()), Qt::AlignVCenter | Qt::AlignLeft,
                   text);
        const QRect track = r.adjusted(textW, 2, 0, -2);
        p.fillRect(track, QColor(225, 225, 225));
        p.fillRect(QRect(track.left(), track.top(), int(track.width() * fraction), track.height()),
                   state.darker(130));
    }
}

// The gauge: coarse for the pour, fine near the target (the scale's name on the right);
// the tolerance band in the green of "within", the target as a line, the amount as a black
// needle; under a fine scale, marks in grams from the target.
void WeighingPanel::drawGauge(QPainter& p, const Layout& l, const QColor& state) {
    const WeighingPanelModel& m = m_model;
    const int nameW = l.marks.height() * 4;
    const QRect bar = l.gauge.adjusted(l.marks.height(), 0, -l.marks.height(), 0);
    const GaugeScale scale = m.gauge(bar.width());
    auto xAt = [&](Decimal w) { return bar.left() + scale.x(w); };
    p.fillRect(bar, QColor(235, 235, 235));
    const QColor within = colour(*StatusColours::boxColour(LineStatusCode::Within, 0));
    const int bandL = xAt(m.lower()), bandR = xAt(m.upper());
    p.fillRect(QRect(bandL, bar.top(), std::max(3, bandR - bandL), bar.height()), within);
    p.setPen(QPen(QColor(0, 90, 30), 2));
    const int tx = xAt(m.target());
    p.drawLine(tx, bar.top(), tx, bar.bottom());

    p.setFont(pixelFont(font(), l.marks.height() * 8 / 10));
    p.setPen(QColor(60, 60, 60));
    auto mark = [&](int x, const QString& text) {
        p.drawLine(x, bar.bottom(), x, bar.bottom() + l.marks.height() / 4);
        p.drawText(QRect(x - 60, l.marks.top(), 120, l.marks.height()),
                   Qt::AlignHCenter | Qt::AlignBottom, text);
    };
    if (scale.fine()) {
        for (const Decimal& d : scale.marksBelow())
            mark(xAt(m.target() - d), QStringLiteral("\u2212") + d.toString());
        mark(tx, QStringLiteral("±") + (m.upper() - m.target()).toString());
    } else {
        mark(bar.left(), QStringLiteral("0"));
        mark(tx, m.targetText());
    }
    p.drawText(QRect(l.marks.right() - nameW, l.marks.top(), nameW, l.marks.height()),
               Qt::AlignRight | Qt::AlignBottom,
               scale.fine() ? m.caption("細刻度") : m.caption("全程"));

    if (m.amountText() != QStringLiteral("—") && m.phase() != WeighingPanelModel::Phase::Overload) {
        const int ax = xAt(m.amount());
        const int third = bar.height() / 3;
        p.fillRect(QRect(bar.left(), bar.top() + third, ax - bar.left(), third), state.darker(115));
        p.setPen(QPen(Qt::black, 3));
        p.drawLine(ax, bar.top() - 4, ax, bar.bottom() + 4);
        QPainterPath tri;
        tri.moveTo(ax - 8, bar.top() - 10);
        tri.lineTo(ax + 8, bar.top() - 10);
        tri.lineTo(ax, bar.top());
        tri.closeSubpath();
        p.fillPath(tri, Qt::black);
    }
    p.setPen(QColor(120, 120, 120));
    p.drawRect(bar.adjusted(0, 0, -1, -1));
}

void WeighingPanel::drawLines(QPainter& p, const QRect& r) {
    const QList<WeighingPanelModel::Line>& lines = m_model.lines();
    const int rowH = std::clamp(r.height() / std::max<int>(10, int(lines.size())), 12, px(26));
    // One size for all rows, the largest at which every row fits.
    QFont f = pixelFont(font(), std::min(px(18), rowH - 4));
    for (const WeighingPanelModel::Line& l : lines)
        f = fitted(f, lineText(l), f.pixelSize(), r.width() - 8, false); // elision keeps a margin
    p.setFont(f);
    int y = r.top();
    for (const WeighingPanelModel::Line& l : lines) {
        QColor c(110, 110, 110);
        if (l.mark == WeighingPanelModel::Mark::Done) {
            c = QColor(0, 110, 50);
        } else if (l.mark == WeighingPanelModel::Mark::Current) {
            c = Qt::black;
            p.fillRect(QRect(r.left(), y, r.width(), rowH), QColor(255, 244, 200));
        }
        p.setPen(c);
        p.drawText(QRect(r.left() + 2, y, r.width() - 4, rowH), Qt::AlignVCenter | Qt::AlignLeft,
                   QFontMetrics(p.font()).elidedText(lineText(l), Qt::ElideMiddle, r.width() - 4));
        y += rowH;
    }
}

void WeighingPanel::drawSummary(QPainter& p, const QRect& r) {
    const WeighingPanelModel::Summary& s = m_model.summary();
    p.setPen(QColor(0, 100, 60));
    p.setFont(pixelFont(font(), px(24), true));
    p.drawText(QRect(r.left(), r.top(), r.width(), px(32)), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("✔ ") + m_model.summaryTitle());
    const int rows = std::max<int>(1, int(s.lines.size()) + 1);
    const int rowH = std::clamp((r.height() - px(38)) / rows, 12, px(28));
    p.setFont(pixelFont(font(), std::min(px(20), rowH - 4)));
    const int colW = r.width() / 5;
    int y = r.top() + px(38);
    const QString head[5] = {m_model.caption("行"), m_model.caption("代碼"),
                             m_model.caption("目標"), m_model.caption("實際"),
                             m_model.caption("偏差")};
    p.setPen(QColor(90, 90, 90));
    for (int c = 0; c < 5; ++c)
        p.drawText(QRect(r.left() + c * colW, y, colW, rowH), Qt::AlignVCenter | Qt::AlignLeft,
                   head[c]);
    y += rowH;
    p.setPen(Qt::black);
    for (const WeighingPanelModel::SummaryLine& l : s.lines) {
        const QString cells[5] = {QString::number(l.line), l.code, l.target, l.actual, l.deviation};
        for (int c = 0; c < 5; ++c)
            p.drawText(QRect(r.left() + c * colW, y, colW - 4, rowH),
                       Qt::AlignVCenter | Qt::AlignLeft,
                       QFontMetrics(p.font()).elidedText(cells[c], Qt::ElideRight, colW - 4));
        y += rowH;
    }
}
