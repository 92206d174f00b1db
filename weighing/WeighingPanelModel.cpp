#include "weighing/WeighingPanelModel.h"

#include "common/TextField.h"
#include "config/Language.h"
#include "devices/BalanceReadings.h"
#include "weighing/Sequencer.h"
#include "weighing/WeighingModel.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr qint64 kTenth = Decimal::kScale / 10;
constexpr qint64 kHundredth = Decimal::kScale / 100;
const QString kDash = QStringLiteral("—");

bool weighingStates(int s) {
    return s >= SequencerState::StartJob && s <= SequencerState::NextLine;
}
} // namespace

WeighingPanelModel::WeighingPanelModel(const WeighingModel& weighing,
                                       const BalanceReadings& readings,
                                       std::function<int()> tolSteps,
                                       std::function<bool()> secondLanguage,
                                       std::function<QDateTime()> now, QObject* parent)
    : QObject(parent), m_weighing(weighing), m_readings(readings), m_tolSteps(std::move(tolSteps)),
      m_secondLanguage(std::move(secondLanguage)), m_now(std::move(now)) {}

QString WeighingPanelModel::caption(const char* traditional) const {
    const bool simplified = m_secondLanguage && m_secondLanguage();
    QHash<const char*, QString>& cache = m_captions[simplified ? 1 : 0];
    auto it = cache.constFind(traditional);
    if (it != cache.constEnd())
        return *it;
    const QString t = QString::fromUtf8(traditional);
    return cache[traditional] = simplified ? ToSimplified(t) : t;
}

int WeighingPanelModel::settleTicks() {
    return Sequencer::kSettleTicks;
}

Balance WeighingPanelModel::balanceOf(int line) const {
    return LineBalanceCode::balance(m_weighing.LineBalance[size_t(line - 1)]);
}

int WeighingPanelModel::decimals() const {
    return m_balance == Balance::Large ? 1 : 2;
}

QString WeighingPanelModel::grams(Decimal d) const {
    return QString::number(d.toDouble(), 'f', decimals());
}

void WeighingPanelModel::update() {
    const WeighingModel& m = m_weighing;
    const int state = m.State;
    // A new order: the summary of the last one goes.
    if (weighingStates(state) && !weighingStates(m_previousState))
        m_summary = Summary{};
    if (state == SequencerState::Finish && m_previousState != SequencerState::Finish)
        captureSummary();
    m_previousState = state;

    // The lines of the job, from their start texts (code, B01, target, balance).
    m_lines.clear();
    const bool jobShown = state != SequencerState::Idle;
    for (int n = 1; jobShown && n <= 10; ++n) {
        const QString start = m.LineTable[size_t(n - 1)];
        if (start.isEmpty())
            continue;
        const QStringList parts = start.split(QStringLiteral("\r\n"));
        Line l;
        l.line = n;
        l.code = TextField::trimSpaces(parts.value(0));
        l.target = TextField::trimSpaces(parts.value(2));
        const QString actual = m.LineTable[lineSlot(n, LineSlot::Actual)];
        const bool done = !actual.isEmpty() && (n < m.Line || state >= SequencerState::NextLine);
        if (done) {
            l.mark = Mark::Done;
            l.actual = actual;
        } else if (n == m.Line && weighingStates(state)) {
            l.mark = Mark::Current;
            l.actual = actual;
        }
        m_lines << l;
    }

    m_line = weighingStates(state) && m.Line >= 1 && m.Line <= 10 &&
                     !m.LineTable[size_t(m.Line - 1)].isEmpty()
                 ? m.Line
                 : 0;
    m_settled = 0;
    m_countdownSeconds = 0;
    if (m_line > 0) {
        const int n = m_line;
        // The line's slots are filled as it is prepared; until then its start text tells.
        const QStringList start = m.LineTable[size_t(n - 1)].split(QStringLiteral("\r\n"));
        m_code = TextField::trimSpaces(start.value(0));
        m_light = m.LineLight[size_t(n)];
        m_balance = balanceOf(n);
        m_target = Decimal::parse(start.value(2));
        const int steps = m_tolSteps ? m_tolSteps() : 2;
        m_tolerance = Decimal::fromUnits(m_balance == Balance::Large ? kTenth : kHundredth) * steps;
        const bool live = m_readings.isLive(m_balance);
        const bool weighing =
            state == SequencerState::BeginWeighing || state == SequencerState::Weigh;
        // While weighing the amount follows the live reading at once; otherwise it is what
        // is weighed so far (the amount kept over a change of barrel).
        m_amount = weighing && live ? m_readings.value(m_balance) + m.Adjust
                                    : Decimal::parse(m.LineTable[lineSlot(n, LineSlot::Actual)]);
        if (state == SequencerState::NextLine) {
            m_phase = Phase::Accepted;
        } else if (!live) {
            m_phase = Phase::NoReading;
        } else if (m_readings.isOverloaded(m_balance)) {
            m_phase = Phase::Overload;
        } else if (weighing) {
            if (m_amount - m_tolerance > m_target)
                m_phase = Phase::TooMuch;
            else if (m_amount + m_tolerance < m_target)
                m_phase = Phase::TooLittle;
            else {
                // With the marks on, the count holds until the balance calls it stable.
                const bool steady =
                    !m_readings.marksOn() || m_readings.stability(m_balance) == Stability::Stable;
                m_phase = steady ? Phase::Within : Phase::Settling;
                m_settled = std::clamp(m.Counter, 0, settleTicks());
            }
        } else if (zeroState(m_balance) == ZeroState::Running) {
            m_phase = Phase::Zeroing;
        } else if (state == SequencerState::ZeroAlready) {
            m_phase = Phase::Countdown;
            const int left = std::max(0, Sequencer::kZeroWaitTicks - m.Counter);
            m_countdownSeconds = (left + 4) / 5; // ticks of 200 ms
        } else {
            m_phase = Phase::Container;
        }
    } else {
        m_phase = state == SequencerState::Finish || state == SequencerState::ClearUp ? Phase::End
                                                                                      : Phase::Idle;
        m_code.clear();
        m_amount = m_target = m_tolerance = Decimal();
    }

    // A zeroing whose command went out is judged by the first reading that differs from the
    // one shown when it ended, or after a few more updates (a balance that stays at 0).
    for (Balance b : kBalances) {
        const size_t i = size_t(labelIndex(b));
        if (m_zero[i] != ZeroState::Checking || !m_readings.isLive(b))
            continue;
        if (m_readings.caption(b) == m_captionAtZero[i] && ++m_checkUpdates[i] < kCheckUpdates)
            continue;
        m_zero[i] = m_readings.value(b).isZero() ? ZeroState::Done : ZeroState::NotZero;
        m_zeroReading[i] = m_readings.caption(b);
        m_zeroJudged[i] = m_now ? m_now() : QDateTime();
    }
    // A result is kept for a few seconds: later readings are weights, not the zero's.
    for (size_t i = 0; i < m_zero.size(); ++i) {
        const bool result = m_zero[i] == ZeroState::Done || m_zero[i] == ZeroState::NotZero ||
                            m_zero[i] == ZeroState::Failed;
        if (result && m_zeroJudged[i].isValid() && m_now &&
            m_zeroJudged[i].secsTo(m_now()) >= kResultSeconds)
            m_zero[i] = ZeroState::Idle;
    }

    QString key = QString::number(int(m_phase)) + QLatin1Char('|') + QString::number(m_line) +
                  QLatin1Char('|') + m_code + QLatin1Char('|') + QString::number(m_amount.units()) +
                  QLatin1Char('|') + QString::number(m_target.units()) + QLatin1Char('|') +
                  QString::number(m_settled) + QLatin1Char('|') +
                  QString::number(m_countdownSeconds) + QLatin1Char('|') +
                  QString::number(m_summary.lines.size()) + m_summary.orderNo;
    for (Balance b : kBalances)
        key += QLatin1Char('|') + readingText(b) + QString::number(int(zeroState(b)));
    for (const Line& l : m_lines)
        key += QLatin1Char('|') + l.actual + QString::number(int(l.mark));
    if (key != m_shownKey) {
        m_shownKey = key;
        emit changed();
    }
}

void WeighingPanelModel::captureSummary() {
    const WeighingModel& m = m_weighing;
    m_summary = Summary{};
    m_summary.orderNo = m.boxText[10];
    m_summary.finished = m_now ? m_now() : QDateTime();
    for (int n = 1; n <= 10; ++n) {
        const QString actual = m.LineTable[lineSlot(n, LineSlot::Actual)];
        if (m.LineTable[size_t(n - 1)].isEmpty() || actual.isEmpty())
            continue;
        SummaryLine s;
        s.line = n;
        s.code = m.LineTable[lineSlot(n, LineSlot::Code)];
        s.target = m.LineTable[lineSlot(n, LineSlot::Target)];
        s.actual = actual;
        const Decimal d = Decimal::parse(actual) - Decimal::parse(s.target);
        s.deviation = (d.units() > 0 ? QStringLiteral("+") : QString()) + d.toString();
        m_summary.lines << s;
    }
}

void WeighingPanelModel::zeroStarted(Balance b) {
    // A new request while one runs only changes the balance.
    if (m_zeroing && *m_zeroing != b && zeroState(*m_zeroing) == ZeroState::Running)
        m_zero[size_t(labelIndex(*m_zeroing))] = ZeroState::Idle;
    m_zeroing = b;
    m_zero[size_t(labelIndex(b))] = ZeroState::Running;
    update();
}

void WeighingPanelModel::zeroFinished(bool commandSent) {
    if (!m_zeroing)
        return;
    const size_t i = size_t(labelIndex(*m_zeroing));
    m_zero[i] = commandSent ? ZeroState::Checking : ZeroState::Failed;
    m_captionAtZero[i] = m_readings.caption(*m_zeroing);
    m_zeroJudged[i] = m_now ? m_now() : QDateTime();
    m_checkUpdates[i] = 0;
    m_zeroing.reset();
    update();
}

QString WeighingPanelModel::shelf() const {
    return m_light > 0 ? QString::number(m_light) : kDash;
}

QString WeighingPanelModel::balanceName() const {
    return m_weighing.Label3[m_balance == Balance::Large ? 0 : 1];
}

QString WeighingPanelModel::targetText() const {
    return m_line > 0 ? grams(m_target) : kDash;
}

QString WeighingPanelModel::amountText() const {
    if (m_line == 0 || m_phase == Phase::NoReading)
        return kDash;
    if (m_phase == Phase::Overload)
        return caption("超載");
    return grams(m_amount);
}

QString WeighingPanelModel::differenceText() const {
    if (m_line == 0 || m_phase == Phase::NoReading || m_phase == Phase::Overload)
        return kDash;
    const Decimal d = m_amount - m_target;
    if (d.isZero())
        return grams(d);
    // A true minus sign: as wide as the plus, so it reads from a distance.
    return (d.units() > 0 ? QStringLiteral("+") : QStringLiteral("\u2212")) +
           grams(d.units() > 0 ? d : -d);
}

QString WeighingPanelModel::stateWord() const {
    switch (m_phase) {
    case Phase::Idle:
        return hasSummary() ? caption("單號完成") : caption("等待單號");
    case Phase::Container:
        return caption("放上容器,按歸零");
    case Phase::Zeroing:
        return caption("歸零中");
    case Phase::Countdown:
        return caption("%1 秒後開始計量").arg(m_countdownSeconds);
    case Phase::TooLittle:
        return caption("不足,請加入");
    case Phase::TooMuch:
        return caption("超過,請取出");
    case Phase::Within:
        return caption("剛好,穩定中 %1/%2").arg(m_settled).arg(settleTicks());
    case Phase::Accepted:
        return caption("本行完成");
    case Phase::End:
        return caption("單號完成");
    case Phase::NoReading:
        return caption("天平沒有回應");
    case Phase::Settling:
        return caption("剛好,穩定中…");
    case Phase::Overload:
        return caption("超載,請取下");
    }
    return {};
}

QString WeighingPanelModel::stateSymbol() const {
    switch (m_phase) {
    case Phase::TooLittle:
        return QStringLiteral("▲");
    case Phase::TooMuch:
        return QStringLiteral("▼");
    case Phase::Within:
        return QStringLiteral("●");
    case Phase::Accepted:
    case Phase::End:
        return QStringLiteral("✔");
    case Phase::Container:
    case Phase::Zeroing:
        return QStringLiteral("□");
    case Phase::Countdown:
        return QStringLiteral("◷");
    case Phase::NoReading:
        return QStringLiteral("✖");
    case Phase::Settling:
        return QStringLiteral("◌");
    case Phase::Overload:
        return QStringLiteral("⚠");
    case Phase::Idle:
        break;
    }
    return {};
}

// The colours of the line boxes, so that a colour means one thing on the whole screen:
// too little the green of an active line (half-way through its pulse), too much the red at
// the top of its pulse, within the steady green, waiting the yellow; grey where no balance
// answers.
Rgb WeighingPanelModel::stateColour() const {
    auto box = [](int status, int phase) { return *StatusColours::boxColour(status, phase); };
    switch (m_phase) {
    case Phase::TooLittle:
        return box(LineStatusCode::Active, 5);
    case Phase::TooMuch:
    case Phase::Overload:
        return box(LineStatusCode::TooMuch, 10);
    case Phase::Within:
    case Phase::Settling:
    case Phase::Accepted:
    case Phase::End:
        return box(LineStatusCode::Within, 0);
    case Phase::Container:
    case Phase::Zeroing:
    case Phase::Countdown:
        return box(LineStatusCode::Waiting, 0);
    case Phase::NoReading:
    case Phase::Idle:
        break;
    }
    return {210, 210, 210};
}

Decimal WeighingPanelModel::gaugeMax() const {
    // Past the target by a quarter, and never short of the band or of the amount.
    Decimal top = m_target + Decimal::fromUnits(m_target.units() / 4);
    top = std::max({top, upper() + m_tolerance, m_amount});
    return top.units() > 0 ? top : Decimal::fromInt(1);
}

Decimal WeighingPanelModel::resolution() const {
    return Decimal::fromUnits(m_balance == Balance::Large ? kTenth : kHundredth);
}

GaugeScale WeighingPanelModel::gauge(int width) const {
    return GaugeScale(m_target, m_tolerance, resolution(), gaugeMax(), m_amount, width);
}

GaugeScale::GaugeScale(Decimal target, Decimal tolerance, Decimal resolution, Decimal top,
                       Decimal amount, int width)
    : m_target(target.toDouble()),
      m_unit((tolerance.units() > 0 ? tolerance : resolution).toDouble()), m_top(top.toDouble()),
      m_from(fineFrom(target, tolerance).toDouble()), m_width(width), m_resolution(resolution),
      m_fine(target.units() > 0 && amount >= fineFrom(target, tolerance)) {
    if (!m_fine)
        return;
    // The target sits where the band and kFineAbove tolerances fit on its right and the
    // start of the fine scale on its left, the band never narrower than kMinBandPx.
    const double left = std::max(1.0, 1.0 + std::log((m_target - m_from) / m_unit));
    const double right = 1.0 + std::log(kFineAbove);
    m_pxPerUnit = std::max(width / (left + right), kMinBandPx / 2.0);
    m_targetX = width - m_pxPerUnit * right;
}

Decimal GaugeScale::fineFrom(Decimal target, Decimal tolerance) {
    return std::min(target - Decimal::fromUnits(target.units() / 10), target - tolerance * 20);
}

double GaugeScale::at(double grams) const {
    if (!m_fine)
        return m_top > 0 ? grams / m_top * m_width : 0;
    const double u = (grams - m_target) / m_unit;
    const double g = std::abs(u) <= 1 ? u : std::copysign(1.0 + std::log(std::abs(u)), u);
    return m_targetX + m_pxPerUnit * g;
}

int GaugeScale::x(Decimal w) const {
    return int(std::lround(std::clamp(at(w.toDouble()), 0.0, double(m_width))));
}

QList<Decimal> GaugeScale::marksBelow() const {
    QList<Decimal> marks;
    for (Decimal m = m_resolution * 10;
         m_fine && m_target - m.toDouble() >= m_from && x(Decimal::fromDouble(m_target) - m) > 0;
         m = m * 10)
        if (m.toDouble() > m_unit)
            marks << m;
    return marks;
}

QString WeighingPanelModel::readingText(Balance b) const {
    if (!m_readings.isLive(b))
        return kDash;
    return m_readings.isOverloaded(b) ? caption("超載") : m_readings.caption(b);
}

QString WeighingPanelModel::zeroText(Balance b) const {
    switch (zeroState(b)) {
    case ZeroState::Running:
    case ZeroState::Checking:
        return caption("歸零中…");
    case ZeroState::Done:
        return caption("已歸零");
    case ZeroState::NotZero:
        return caption("歸零後讀數 %1").arg(m_zeroReading[size_t(labelIndex(b))]);
    case ZeroState::Failed:
        return caption("歸零指令未送出");
    case ZeroState::Idle:
        break;
    }
    return {};
}

QString WeighingPanelModel::summaryTitle() const {
    return caption("單號 %1 完成 %2")
        .arg(m_summary.orderNo, m_summary.finished.toString(QStringLiteral("HH:mm:ss")));
}
