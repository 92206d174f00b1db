#pragma once
#include <QString>
#include <QtGlobal>
#include <compare>

// The lenient number parse: the leading number of a text (leading blanks skipped, an
// optional sign, digits, one decimal point, digits); anything else ends it, and a text
// that does not start with a number reads as 0.
double leadingNumber(const QString& text);

// The shortest decimal form of a number with "." as decimal point and no exponent:
// 12.34, -12.34, 1234.5, 0.
QString shortestDecimal(double value);

// An exact decimal weight in millionths of a gram. Balance readings (0.01 g, 0.1 g),
// targets and tolerances are compared in this form so that a bound is never misjudged
// by binary rounding.
class Decimal {
public:
    static constexpr qint64 kScale = 1000000;

    constexpr Decimal() = default;
    static constexpr Decimal fromUnits(qint64 units) { return Decimal(units); }
    static constexpr Decimal fromInt(qint64 whole) { return Decimal(whole * kScale); }
    // The lenient parse into an exact decimal (digits beyond the sixth decimal are cut).
    static Decimal parse(QStringView text);
    // The nearest decimal to a binary value (for values that arrive as doubles).
    static Decimal fromDouble(double value);

    constexpr qint64 units() const { return m_units; }
    double toDouble() const { return double(m_units) / kScale; }
    // Shortest decimal text: "0", "12.34", "-0.5", "1400".
    QString toString() const;
    bool isZero() const { return m_units == 0; }

    // Rounds to a multiple of `step` units, halves away from zero.
    Decimal roundedTo(qint64 step) const;

    constexpr Decimal operator+(Decimal o) const { return Decimal(m_units + o.m_units); }
    constexpr Decimal operator-(Decimal o) const { return Decimal(m_units - o.m_units); }
    constexpr Decimal operator-() const { return Decimal(-m_units); }
    constexpr Decimal operator*(qint64 k) const { return Decimal(m_units * k); }
    Decimal& operator+=(Decimal o) {
        m_units += o.m_units;
        return *this;
    }
    constexpr auto operator<=>(const Decimal&) const = default;

private:
    constexpr explicit Decimal(qint64 units) : m_units(units) {}
    qint64 m_units = 0;
};
