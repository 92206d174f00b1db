#pragma once
#include <QString>

// Where a station's balances put their stability and overload marks, from [balance] of
// dyestation.ini. Off by default: the frames are read as they always were and a line is
// accepted after its settling ticks whatever the balance says.
//
// - First: the first character of the text frame (the one otherwise ignored) is one of
//   `stable`, `unstable` or `overload` (each a set of characters).
// - Header: a header text stands in place of that first character ("ST+  123.45g"); the
//   sign and the "g" follow it as they follow the first character. `stable`, `unstable`
//   and `overload` are then the header texts.
// - Modbus: bits of register 1 of the reply: `stableBit` set is stable, clear unstable;
//   `overloadBit` set is an overload whatever the other bit says. The low hexadecimal digit
//   of the register is the sign, so only bits 4..15 can be marks.
struct BalanceMarks {
    enum class Form { Off, First, Header, Modbus };

    Form form = Form::Off;
    QString stable;
    QString unstable;
    QString overload;
    int stableBit = kDefaultStableBit;
    int overloadBit = kDefaultOverloadBit;

    static constexpr int kDefaultStableBit = 8;
    static constexpr int kDefaultOverloadBit = 9;
    static constexpr int kLowestBit = 4;
    static constexpr int kHighestBit = 15;

    bool on() const { return form != Form::Off; }

    // The marks of a form with its usual texts: S / U / O as first characters, ST / US / OL
    // as headers.
    static BalanceMarks defaults(Form f) {
        BalanceMarks m;
        m.form = f;
        if (f == Form::First) {
            m.stable = QStringLiteral("S");
            m.unstable = QStringLiteral("U");
            m.overload = QStringLiteral("O");
        } else if (f == Form::Header) {
            m.stable = QStringLiteral("ST");
            m.unstable = QStringLiteral("US");
            m.overload = QStringLiteral("OL");
        }
        return m;
    }

    // The marks as written in [balance] or the extensions window: a blank text takes the
    // form's usual one; a bit outside 4..15 takes the usual bit, and so do both when they
    // name the same bit.
    static BalanceMarks fromTexts(const QString& form, const QString& stable,
                                  const QString& unstable, const QString& overload,
                                  const QString& stableBit, const QString& overloadBit) {
        BalanceMarks m = defaults(formNamed(form));
        if (m.form == Form::First || m.form == Form::Header) {
            if (!stable.isEmpty())
                m.stable = stable;
            if (!unstable.isEmpty())
                m.unstable = unstable;
            if (!overload.isEmpty())
                m.overload = overload;
        }
        auto bit = [](const QString& text, int usual) {
            bool ok = false;
            const int b = text.trimmed().toInt(&ok);
            return ok && b >= kLowestBit && b <= kHighestBit ? b : usual;
        };
        m.stableBit = bit(stableBit, kDefaultStableBit);
        m.overloadBit = bit(overloadBit, kDefaultOverloadBit);
        if (m.stableBit == m.overloadBit) {
            m.stableBit = kDefaultStableBit;
            m.overloadBit = kDefaultOverloadBit;
        }
        return m;
    }

    static QString formName(Form f) {
        switch (f) {
        case Form::First:
            return QStringLiteral("first");
        case Form::Header:
            return QStringLiteral("header");
        case Form::Modbus:
            return QStringLiteral("modbus");
        case Form::Off:
            break;
        }
        return QStringLiteral("off");
    }
    // "first", "header", "modbus" (any case); anything else is off.
    static Form formNamed(const QString& name) {
        for (Form f : {Form::First, Form::Header, Form::Modbus})
            if (name.trimmed().compare(formName(f), Qt::CaseInsensitive) == 0)
                return f;
        return Form::Off;
    }
};
