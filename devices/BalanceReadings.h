#pragma once
#include "common/Numbers.h"

#include <QObject>
#include <QString>
#include <array>

// The live readings of the two balances, as the main window shows them: element 0 is the
// large balance (Label1(0)), element 1 the small balance (Label1(1)). Both start as "0".
// A reading is live while valid readings keep arriving; the balance link marks it stale
// when its balance has been silent for a while, and the sequencer never counts on a
// stale reading.
class BalanceReadings : public QObject {
    Q_OBJECT
public:
    static constexpr int kLarge = 0;
    static constexpr int kSmall = 1;

    using QObject::QObject;

    QString caption(int index) const { return m_caption[size_t(index)]; }
    // The caption read with the lenient number parse, exactly.
    Decimal value(int index) const { return Decimal::parse(caption(index)); }
    bool isLive(int index) const { return m_live[size_t(index)]; }

    void setCaption(int index, const QString& text) {
        if (m_caption[size_t(index)] != text) {
            m_caption[size_t(index)] = text;
            emit changed(index);
        }
    }
    void setLive(int index, bool live) {
        if (m_live[size_t(index)] != live) {
            m_live[size_t(index)] = live;
            emit changed(index);
        }
    }

signals:
    void changed(int index);

private:
    std::array<QString, 2> m_caption{QStringLiteral("0"), QStringLiteral("0")};
    std::array<bool, 2> m_live{false, false};
};
