#include "station/Form3Panel.h"

#include "station/WeighingPanelModel.h"

#include <QPainter>
#include <QPainterPath>

namespace {
QColor colour(const Rgb& c) {
    return QColor(c.r, c.g, c.b);
}

QFont pixelFont(const QFont& base, int px, bool bold = false) {
    QFont f = base;
    f.setPixelSize(px);
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
} // namespace

WeighingPanel::WeighingPanel(const WeighingPanelModel& model, QWidget* parent)
    : QWidget(parent), m_model(model) {
    setObjectName(QStringLiteral("WeighingPanel"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&model, &WeighingPanelModel::changed, this, qOverload<>(&QWidget::update));
}

void WeighingPanel::paintEvent(QPaintEvent*) {
    // Everything grows with the panel, so a large screen shows larger figures.
    m_scale = std::clamp(std::min(width() / 900.0, height() / 300.0), 0.8, 2.4);
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(QColor(160, 160, 160));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const QRect inner = rect().adjusted(8, 6, -8, -6);
    // The lines of the order on the right, a third of the width.
    const int listWidth = std::max(px(200), inner.width() * 3 / 10);
    const QRect main(inner.left(), inner.top(), inner.width() - listWidth - 10, inner.height());
    const QRect list(main.right() + 10, inner.top(), listWidth, inner.height());
    if (m_model.lineShown())
        drawLine(p, main);
    else if (m_model.hasSummary())
        drawSummary(p, main);
    else {
        p.setPen(QColor(90, 90, 90));
        p.setFont(pixelFont(font(), px(28), true));
        p.drawText(main, Qt::AlignCenter, m_model.stateWord());
    }
    if (!m_model.lines().isEmpty())
        drawLines(p, list);
}

void WeighingPanel::drawLine(QPainter& p, const QRect& r) {
    const WeighingPanelModel& m = m_model;
    const QColor state = colour(m.stateColour());
    int y = r.top();

    // Code, shelf position and balance; the state word with its symbol on its colour.
    const int headH = px(40);
    const int stateW = std::min(r.width() / 2, px(330));
    const QRect stateBox(r.right() - stateW, y, stateW, headH);
    p.fillRect(stateBox, state);
    p.setPen(Qt::white);
    const QString word = m.stateSymbol() + QLatin1Char(' ') + m.stateWord();
    p.setFont(fitted(font(), word, px(24), stateW - 12));
    p.drawText(stateBox, Qt::AlignCenter, word);
    const QString head = m.caption("第 %1 行  ").arg(m.line()) + m.code() + m.caption("   位置 ") +
                         m.shelf() + QStringLiteral("   ") + m.balanceName();
    p.setPen(Qt::black);
    p.setFont(fitted(font(), head, px(24), r.width() - stateW - 10));
    p.drawText(QRect(r.left(), y, r.width() - stateW - 10, headH), Qt::AlignVCenter | Qt::AlignLeft,
               head);
    y += headH + 6;

    // Target, amount, difference: at least 40 px high.
    const int colW = r.width() / 3;
    const int labelH = px(18);
    const int bigH = px(52);
    const QString labels[3] = {m.caption("目標"), m.caption("已秤"), m.caption("差")};
    const QString values[3] = {m.targetText(), m.amountText(), m.differenceText()};
    for (int i = 0; i < 3; ++i) {
        const QRect cell(r.left() + i * colW, y, colW - px(18), labelH + bigH);
        p.setPen(QColor(90, 90, 90));
        p.setFont(pixelFont(font(), px(15)));
        p.drawText(cell.adjusted(0, 0, 0, -bigH), Qt::AlignLeft | Qt::AlignVCenter, labels[i]);
        const bool grey = values[i] == QStringLiteral("—");
        p.setPen(grey ? QColor(150, 150, 150) : i == 2 ? state : QColor(0, 0, 0));
        p.setFont(fitted(font(), values[i], px(46), cell.width()));
        p.drawText(cell.adjusted(0, labelH, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, values[i]);
    }
    y += labelH + bigH + 8;

    // The gauge: 0 .. max, the tolerance band, the target, the amount as a needle.
    const int gaugeH = px(30);
    const QRect bar(r.left(), y, r.width(), gaugeH);
    const double max = double(m.gaugeMax().units());
    auto xAt = [&](qint64 units) {
        const double f = std::clamp(double(units) / max, 0.0, 1.0);
        return bar.left() + int(f * bar.width());
    };
    p.fillRect(bar, QColor(235, 235, 235));
    const int bandL = xAt(m.lower().units()), bandR = xAt(m.upper().units());
    p.fillRect(QRect(bandL, bar.top(), std::max(3, bandR - bandL), gaugeH), QColor(120, 200, 130));
    p.setPen(QPen(QColor(0, 90, 30), 2));
    const int tx = xAt(m.target().units());
    p.drawLine(tx, bar.top() - 4, tx, bar.bottom() + 4);
    if (m.amountText() != QStringLiteral("—") && m.phase() != WeighingPanelModel::Phase::Overload) {
        const int ax = xAt(m.amount().units());
        p.fillRect(QRect(bar.left(), bar.top() + gaugeH / 3, ax - bar.left(), gaugeH / 3),
                   state.lighter(130));
        p.setPen(QPen(state, 4));
        p.drawLine(ax, bar.top() - 6, ax, bar.bottom() + 6);
        QPainterPath tri;
        tri.moveTo(ax - 8, bar.top() - 8);
        tri.lineTo(ax + 8, bar.top() - 8);
        tri.lineTo(ax, bar.top());
        tri.closeSubpath();
        p.fillPath(tri, state);
    }
    p.setPen(QColor(120, 120, 120));
    p.drawRect(bar.adjusted(0, 0, -1, -1));
    y += gaugeH + 8;

    // Settling progress (in tolerance) or the countdown of the zero wait.
    const int progH = px(16);
    if (y + progH <= r.bottom() + 1) {
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
            p.setFont(pixelFont(font(), px(14)));
            p.setPen(Qt::black);
            p.drawText(QRect(r.left(), y, px(60), progH), Qt::AlignVCenter | Qt::AlignLeft, text);
            const QRect track(r.left() + px(60), y + 2, r.width() - px(60), progH - 4);
            p.fillRect(track, QColor(225, 225, 225));
            p.fillRect(
                QRect(track.left(), track.top(), int(track.width() * fraction), track.height()),
                state);
        }
    }
}

void WeighingPanel::drawLines(QPainter& p, const QRect& r) {
    const QList<WeighingPanelModel::Line>& lines = m_model.lines();
    const int rowH = std::clamp(r.height() / std::max<int>(10, int(lines.size())), 12, px(26));
    p.setFont(pixelFont(font(), std::min(px(18), rowH - 4)));
    int y = r.top();
    for (const WeighingPanelModel::Line& l : lines) {
        QString mark = QStringLiteral("  ");
        QColor c(110, 110, 110);
        if (l.mark == WeighingPanelModel::Mark::Done) {
            mark = QStringLiteral("✔");
            c = QColor(0, 110, 50);
        } else if (l.mark == WeighingPanelModel::Mark::Current) {
            mark = QStringLiteral("▶");
            c = Qt::black;
            p.fillRect(QRect(r.left(), y, r.width(), rowH), QColor(255, 244, 200));
        }
        p.setPen(c);
        QString t = QStringLiteral("%1 %2 %3  %4").arg(mark).arg(l.line).arg(l.code, l.target);
        if (l.mark == WeighingPanelModel::Mark::Done)
            t += QStringLiteral(" → ") + l.actual;
        p.drawText(QRect(r.left() + 2, y, r.width() - 4, rowH), Qt::AlignVCenter | Qt::AlignLeft,
                   QFontMetrics(p.font()).elidedText(t, Qt::ElideMiddle, r.width() - 4));
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
