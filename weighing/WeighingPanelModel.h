#pragma once
#include "common/Numbers.h"
#include "devices/Balance.h"
#include "weighing/StatusColours.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <optional>

class BalanceReadings;
class WeighingModel;

// Where a weight sits on the gauge, in pixels from its left end. While the amount is
// below fineFrom() the gauge is coarse: 0 .. top in proportion, for the pour. From there it
// is fine: the target stays where it is, the tolerance band spreads to at least
// kMinBandPx and a weight further from the target is drawn closer to it the further it is
// (in proportion inside the band, on a logarithm of the distance outside, which joins it
// smoothly), so the last grams move the needle at the balance's resolution while the
// amount on the scale stays in sight.
class GaugeScale {
public:
    static constexpr int kMinBandPx = 60;
    // The fine scale reaches this many tolerances past the target on the right.
    static constexpr double kFineAbove = 10.0;

    GaugeScale(Decimal target, Decimal tolerance, Decimal resolution, Decimal top, Decimal amount,
               int width);
    // Where the fine scale begins: at 90 % of the target, or ten tolerance widths below it
    // when that is lower (a small target).
    static Decimal fineFrom(Decimal target, Decimal tolerance);

    bool fine() const { return m_fine; }
    // 0 .. width; a weight off the scale sits at its end.
    int x(Decimal w) const;
    // The fine scale's marks below the target: powers of ten of the resolution, in grams.
    QList<Decimal> marksBelow() const;

private:
    double at(double grams) const;

    double m_target, m_unit, m_top, m_from;
    double m_pxPerUnit = 0, m_targetX = 0;
    int m_width;
    Decimal m_resolution;
    bool m_fine;
};

// What the weighing panel of the main window shows, worked out from the weighing state and
// the live balance readings: the line being weighed (code, shelf position, balance), its
// target, the amount so far and the signed difference, the tolerance band of the gauge,
// the state as a word and a symbol, the settling progress, the zero wait as a countdown,
// the zeroing of each balance, the lines of the job with the finished ones marked done,
// and the summary of the last finished order, kept until the next order starts.
//
// update() is called whenever the weighing state or a reading changes, so a reading is on
// the panel as soon as the balance link has it; `changed` is emitted when anything shown
// changed. The window only draws what this holds.
class WeighingPanelModel : public QObject {
    Q_OBJECT
public:
    enum class Phase {
        Idle,      // no order (the summary of the last one may be shown)
        Container, // put a container on the balance and zero it
        Zeroing,   // the zero command runs
        Countdown, // the balance already read 0: weighing starts after the wait
        TooLittle,
        TooMuch,
        Within, // in tolerance, settling
        Accepted,
        End,
        NoReading, // the line's balance is not answering
        Settling,  // in tolerance, but the balance does not call its reading stable yet
        Overload,  // the line's balance is past its capacity
    };
    enum class ZeroState { Idle, Running, Checking, Done, NotZero, Failed };
    enum class Mark { Waiting, Current, Done };

    struct Line {
        int line = 0;
        QString code;
        QString target;
        QString actual; // empty until the line is weighed
        Mark mark = Mark::Waiting;
    };
    struct SummaryLine {
        int line = 0;
        QString code;
        QString target;
        QString actual;
        QString deviation; // actual - target, signed, "+0.02"
    };
    struct Summary {
        QString orderNo;
        QList<SummaryLine> lines;
        QDateTime finished;
    };

    // `tolSteps`: the tolerance steps of the running job; `secondLanguage`: Language is
    // exactly "1" (the texts are then Simplified); `now`: the clock of the summary.
    WeighingPanelModel(const WeighingModel& weighing, const BalanceReadings& readings,
                       std::function<int()> tolSteps, std::function<bool()> secondLanguage,
                       std::function<QDateTime()> now, QObject* parent = nullptr);

    void update();
    // The zeroing of a balance was started; it finished, with its command sent or not.
    void zeroStarted(Balance b);
    void zeroFinished(bool commandSent);

    Phase phase() const { return m_phase; }
    bool lineShown() const { return m_line > 0; }
    int line() const { return m_line; }
    QString code() const { return m_code; }
    QString shelf() const;
    QString balanceName() const;
    QString targetText() const;
    QString amountText() const;
    QString differenceText() const;
    QString stateWord() const;
    QString stateSymbol() const;
    Rgb stateColour() const;
    // The gauge: 0 .. gaugeMax, the band lower .. upper, the needle at amount.
    Decimal target() const { return m_target; }
    Decimal amount() const { return m_amount; }
    Decimal lower() const { return m_target - m_tolerance; }
    Decimal upper() const { return m_target + m_tolerance; }
    Decimal gaugeMax() const;
    Decimal resolution() const;
    GaugeScale gauge(int width) const;
    // Settling: ticks counted in tolerance of the ticks that accept.
    int settled() const { return m_settled; }
    static int settleTicks();
    // Seconds left of the zero wait (Countdown), rounded up.
    int countdownSeconds() const { return m_countdownSeconds; }

    // The figures are numbers in grams (the unit is in their captions): the difference is
    // the amount less the target, signed ("-0.05" short, "+0.01" over), whatever the state.
    // The reading of a balance as shown: "—" while it never answered or went stale, the
    // overload text while the balance reports one.
    QString readingText(Balance b) const;
    ZeroState zeroState(Balance b) const { return m_zero[size_t(labelIndex(b))]; }
    // What the zeroing of a balance came to, with the reading of that moment; empty again
    // a few seconds after the result.
    QString zeroText(Balance b) const;

    const QList<Line>& lines() const { return m_lines; }
    bool hasSummary() const { return !m_summary.orderNo.isEmpty() || !m_summary.lines.isEmpty(); }
    const Summary& summary() const { return m_summary; }
    QString summaryTitle() const;
    QString caption(const char* traditional) const; // a fixed text in the shown language

signals:
    void changed();

private:
    Balance balanceOf(int line) const;
    int decimals() const;
    QString grams(Decimal d) const;
    void captureSummary();

    const WeighingModel& m_weighing;
    const BalanceReadings& m_readings;
    std::function<int()> m_tolSteps;
    std::function<bool()> m_secondLanguage;
    std::function<QDateTime()> m_now;

    Phase m_phase = Phase::Idle;
    int m_line = 0;
    QString m_code;
    int m_light = 0;
    Balance m_balance = Balance::Small;
    Decimal m_target, m_amount, m_tolerance;
    int m_settled = 0;
    int m_countdownSeconds = 0;
    std::array<ZeroState, 2> m_zero{ZeroState::Idle, ZeroState::Idle}; // by labelIndex
    std::optional<Balance> m_zeroing;
    static constexpr int kCheckUpdates = 5; // about a second of sequencer ticks
    std::array<QString, 2> m_captionAtZero;
    std::array<int, 2> m_checkUpdates{};
    // The reading that judged the zero, and when: the result is shown for kResultSeconds.
    static constexpr int kResultSeconds = 5;
    std::array<QString, 2> m_zeroReading;
    std::array<QDateTime, 2> m_zeroJudged;
    QList<Line> m_lines;
    Summary m_summary;
    int m_previousState = 0;
    QString m_shownKey; // what was last announced by `changed`
    mutable std::array<QHash<const char*, QString>, 2> m_captions; // Traditional, Simplified
};
