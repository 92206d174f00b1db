#include "common/Numbers.h"

#include <QLocale>
#include <cmath>
#include <limits>

namespace {

struct Scanned {
    bool negative = false;
    QStringView intDigits;
    QStringView fracDigits;
    bool any = false;
};

// Views into the text, so that parsing a number allocates nothing.
Scanned scan(QStringView text) {
    Scanned s;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t')))
        ++i;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        s.negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    auto digits = [&] {
        const qsizetype from = i;
        while (i < n && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'))
            ++i;
        s.any = s.any || i > from;
        return text.mid(from, i - from);
    };
    s.intDigits = digits();
    if (i < n && text.at(i) == QLatin1Char('.')) {
        ++i;
        s.fracDigits = digits();
    }
    return s;
}

} // namespace

double leadingNumber(const QString& text) {
    const Scanned s = scan(text);
    if (!s.any)
        return 0.0;
    const QString t = (s.negative ? QStringLiteral("-") : QString()) +
                      (s.intDigits.isEmpty() ? QStringLiteral("0") : s.intDigits.toString()) +
                      QLatin1Char('.') +
                      (s.fracDigits.isEmpty() ? QStringLiteral("0") : s.fracDigits.toString());
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok ? v : 0.0;
}

QString shortestDecimal(double value) {
    if (value == 0.0 || !std::isfinite(value))
        return QStringLiteral("0");
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

Decimal Decimal::parse(QStringView text) {
    const Scanned s = scan(text);
    if (!s.any)
        return Decimal();
    constexpr qint64 kMax = std::numeric_limits<qint64>::max() / 10 / kScale;
    qint64 whole = 0;
    for (QChar c : s.intDigits) {
        whole = whole * 10 + (c.unicode() - '0');
        if (whole > kMax) // far beyond any weight: saturate rather than overflow
            return Decimal(s.negative ? -kMax * kScale : kMax * kScale);
    }
    qint64 frac = 0;
    qint64 place = kScale;
    for (QChar c : s.fracDigits) {
        if (place == 1)
            break;
        place /= 10;
        frac += (c.unicode() - '0') * place;
    }
    const qint64 units = whole * kScale + frac;
    return Decimal(s.negative ? -units : units);
}

Decimal Decimal::fromDouble(double value) {
    if (!std::isfinite(value))
        return Decimal();
    return Decimal(qint64(std::llround(value * kScale)));
}

QString Decimal::toString() const {
    if (m_units == 0)
        return QStringLiteral("0");
    const bool neg = m_units < 0;
    const quint64 a = neg ? quint64(-(m_units + 1)) + 1 : quint64(m_units);
    QString s = QString::number(a / kScale);
    quint64 frac = a % kScale;
    if (frac) {
        QString f = QString::number(frac).rightJustified(6, QLatin1Char('0'));
        while (f.endsWith(QLatin1Char('0')))
            f.chop(1);
        s += QLatin1Char('.') + f;
    }
    return neg ? QLatin1Char('-') + s : s;
}

Decimal Decimal::roundedTo(qint64 step) const {
    if (step <= 0)
        return *this;
    const qint64 a = m_units < 0 ? -m_units : m_units;
    const qint64 r = (a + step / 2) / step * step;
    return Decimal(m_units < 0 ? -r : r);
}
