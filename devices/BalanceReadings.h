#pragma once
#include "common/Numbers.h"
#include "devices/Balance.h"

#include <QObject>
#include <QString>
#include <array>

// The live readings of the two balances, as the main window shows them in Label1(0) (large)
// and Label1(1) (small). Both start as "0".
// A reading is live while valid readings keep arriving; the balance link marks it stale
// when its balance has been silent for a while, and the sequencer never counts on a
// stale reading.
class BalanceReadings : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    QString caption(Balance b) const { return m_caption[slot(b)]; }
    // The caption read with the lenient number parse, exactly.
    Decimal value(Balance b) const { return Decimal::parse(caption(b)); }
    bool isLive(Balance b) const { return m_live[slot(b)]; }
    // Live, but no new reading has come for a moment: the value shown may be frozen (a
    // cable pulled, the balance in its menu) until the link marks it stale. The weighing
    // does not count settling time on it.
    bool isQuiet(Balance b) const { return m_quiet[slot(b)]; }
    void setQuiet(Balance b, bool quiet) { m_quiet[slot(b)] = quiet; }

    // The balance's own mark of its latest reading; Unknown while the marks are off. An
    // overload keeps the caption of the last weight, which is then no weight to go by.
    Stability stability(Balance b) const { return m_stability[slot(b)]; }
    bool isOverloaded(Balance b) const { return stability(b) == Stability::Overload; }
    void setStability(Balance b, Stability s) {
        if (m_stability[slot(b)] != s) {
            m_stability[slot(b)] = s;
            emit changed(b);
        }
    }
    // The station reads the balances' marks ([balance] of dyestation.ini).
    bool marksOn() const { return m_marksOn; }
    void setMarksOn(bool on) { m_marksOn = on; }
    // Settling time counts only on readings that keep coming and, with the marks on, that
    // the balance itself calls stable: never while it is unstable, overloaded or its mark
    // could not be read.
    bool countsTowardsSettling(Balance b) const {
        return !isQuiet(b) && (!m_marksOn || stability(b) == Stability::Stable);
    }

    void setCaption(Balance b, const QString& text) {
        if (m_caption[slot(b)] != text) {
            m_caption[slot(b)] = text;
            emit changed(b);
        }
    }
    void setLive(Balance b, bool live) {
        if (m_live[slot(b)] != live) {
            m_live[slot(b)] = live;
            emit changed(b);
        }
    }

signals:
    void changed(Balance b);

private:
    static size_t slot(Balance b) { return size_t(labelIndex(b)); }

    std::array<QString, 2> m_caption{QStringLiteral("0"), QStringLiteral("0")};
    std::array<bool, 2> m_live{false, false};
    std::array<bool, 2> m_quiet{false, false};
    std::array<Stability, 2> m_stability{Stability::Unknown, Stability::Unknown};
    bool m_marksOn = false;
};
