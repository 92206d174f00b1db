#include "station/Sequencer.h"

#include "station/Completion.h"

#include "common/Clock.h"
#include "common/StatusLine.h"
#include "common/TextField.h"
#include "config/StationSettings.h"
#include "devices/BalanceReadings.h"
#include "devices/LightBus.h"
#include "devices/LightMap.h"
#include "station/JobFile.h"
#include "station/RunControl.h"
#include "station/WeighingModel.h"

#include <algorithm>
#include <cmath>

namespace {
const QString kCrLf = QStringLiteral("\r\n");
constexpr qint64 kTenth = Decimal::kScale / 10;     // large balance: 0.1 g
constexpr qint64 kHundredth = Decimal::kScale / 100; // small balance: 0.01 g
} // namespace

Sequencer::Sequencer(Parts parts) : p(std::move(parts)), m(p.model) {}

QString Sequencer::queueFile() const { return p.workDir + QStringLiteral("/START_DISPEN.txt"); }
QString Sequencer::twinFile() const { return p.workDir + QStringLiteral("/START_DISPEN2.txt"); }

bool Sequencer::lightBusInUse() const {
    return !p.settings.trimmed(Setting::LightPort).isEmpty() && !p.run.StartupFailed();
}

bool Sequencer::secondLanguage() const { return p.settings.isExactlyOne(Setting::Language); }

int Sequencer::balanceIndex(int line) const {
    return m.LineBalance[size_t(line - 1)] == 1 ? BalanceReadings::kLarge : BalanceReadings::kSmall;
}
bool Sequencer::balanceLive(int line) const { return p.readings.isLive(balanceIndex(line)); }
Decimal Sequencer::reading(int line) const { return p.readings.value(balanceIndex(line)); }
Decimal Sequencer::resolution(int line) const {
    return Decimal::fromUnits(balanceIndex(line) == BalanceReadings::kLarge ? kTenth : kHundredth);
}
QString Sequencer::balanceName(int line) const {
    return balanceIndex(line) == BalanceReadings::kLarge ? m_largeName : m_smallName;
}

void Sequencer::light(int number, int command) {
    if (Outcome o = p.lightBus.CALL_LIGHT(number, command); !o)
        p.status.report(QStringLiteral("燈號輸出失敗: %1").arg(o.reason()));
}

// ---- messages

QString Sequencer::containerMessage(int line) const {
    const bool large = balanceIndex(line) == BalanceReadings::kLarge;
    if (secondLanguage())
        return m.Label3[large ? 3 : 2];
    return large ? QStringLiteral("請在大天平(28KG)放上容器,按下歸零按鈕")
                 : QStringLiteral("請在小天平(3000g)放上容器,按下歸零按鈕");
}

QString Sequencer::withinMessage() const {
    return secondLanguage() ? m.Label3[4] : QStringLiteral("染料剛好 請等待天平穩定");
}

QString Sequencer::cardMessage(bool tooMuch, int line) const {
    const QString n = QString::number(line);
    if (secondLanguage())
        return tooMuch ? m.Label3[7] + n + m.Label3[8] : m.Label3[5] + n + m.Label3[6];
    return tooMuch ? QStringLiteral("染料超過 請取出第 ( ") + n + QStringLiteral(" ) 張染料卡指定染料")
                   : QStringLiteral("染料不足 請加入第 ( ") + n + QStringLiteral(" ) 張染料卡指定染料");
}

QString Sequencer::staleMessage(int line) const {
    return balanceName(line) + (secondLanguage() ? QStringLiteral("没有回应,请检查天平连线")
                                                 : QStringLiteral("沒有回應,請檢查天平連線"));
}

void Sequencer::updateBox(int line) {
    const int s = 10 * line;
    m.boxText[size_t(line - 1)] = m.LineTable[size_t(s)] + kCrLf + m.LineTable[size_t(s + 1)] + kCrLf +
                                  m.LineTable[size_t(s + 2)] + QStringLiteral(" => ") +
                                  m.LineTable[size_t(s + 3)] + kCrLf + balanceName(line);
}

// ---- the tick

void Sequencer::tick() {
    bool counted = false;
    qint64 count = 0;
    if (++m.RefreshTick >= kRefreshTicks) {
        m.RefreshTick = 0;
        refresh(counted, count);
    }
    if (m.State == 0 && counted && count > 0)
        m.State = 1;

    switch (m.State) {
    case 1: startJob(); break;
    case 2: prepareLine(); break;
    case 3: askForContainer(); break;
    case 4:
    case 5:
        if (!balanceLive(m.Line)) {
            holdForStaleBalance();
            break;
        }
        m.prompt = containerMessage(m.Line);
        ++m.Counter;
        if (m.State == 4 && m.Counter >= kZeroWaitTicks) {
            m.Counter = 0;
            m.State = 6;
        } else if (m.State == 5 && reading(m.Line).isZero() && m.Counter >= kZeroMinTicks) {
            m.Counter = 0;
            m.State = 6;
        }
        break;
    case 6:
        m.LineStatus[size_t(m.Line)] = 1;
        if (lightBusInUse())
            light(m.LineLight[size_t(m.Line)], LightBus::On);
        m.State = 7;
        break;
    case 7: weigh(); break;
    case 8: nextLine(); break;
    case 9: finishJob(); break;
    case 10: clearUp(); break;
    default: break;
    }
    m.notify();
}

void Sequencer::refresh(bool& counted, qint64& count) {
    // JobCount's open recreates a missing queue file empty, as the queue list always did.
    const JobCountResult c = JobCount(queueFile());
    const ReadAllJobsResult all = c.outcome ? ReadAllJobs(queueFile()) : ReadAllJobsResult{};
    const Outcome o = !c.outcome ? c.outcome : all.outcome;
    if (!o) {
        const QString why = QStringLiteral("排程檔讀取失敗: %1").arg(o.reason());
        if (p.status.text() != why)
            p.status.report(why);
        if (m.State == 0)
            m.prompt = why;
        m_queueUnreadable = true;
        return;
    }
    if (m_queueUnreadable && m.State == 0)
        m.prompt.clear();
    m_queueUnreadable = false;
    QStringList entries;
    for (const QByteArray& rec : all.records)
        entries << queueListEntry(JobRecord::decode(rec));
    m.setQueueList(all.records, entries);
    counted = true;
    count = all.records.size();
}

void Sequencer::startJob() {
    const ReadJobResult r = ReadJob(queueFile(), 1);
    if (!r.outcome || r.bytes.size() != JobRecord::kLength) {
        // Never start from a record that could not be read whole.
        m.State = 0;
        const QString why = QStringLiteral("排程檔讀取失敗: %1").arg(r.outcome.reason());
        m.prompt = why;
        p.status.report(why);
        return;
    }
    if (!r.job.hasLine(1)) {
        // Nothing to weigh: the job leaves the queue at once, without a history record.
        m.State = 0;
        if (Outcome o = RemoveJob(queueFile(), twinFile(), 1); !o) {
            p.status.report(QStringLiteral("單號 %1 沒有第 1 行代碼,無法從排程移除: %2")
                                .arg(r.job.OrderNo, o.reason()));
            return;
        }
        ++m.queueRemovals;
        p.status.report(QStringLiteral("單號 %1 沒有第 1 行代碼,已從排程移除").arg(r.job.OrderNo));
        bool counted = false;
        qint64 count = 0;
        refresh(counted, count);
        return;
    }

    if (lightBusInUse())
        p.lightBus.startSweep();
    for (QString& s : m.LineTable)
        s.clear();
    const QString tol = p.settings.trimmed(Setting::ToleranceCount);
    m_tolSteps = 2;
    if (!tol.isEmpty()) // whole steps, rounded as an integer setting is; never below 0
        m_tolSteps = int(std::clamp(std::nearbyint(leadingNumber(tol)), 0.0, 32767.0));
    m_largeName = secondLanguage() ? m.Label3[0] : QStringLiteral("大天平");
    m_smallName = secondLanguage() ? m.Label3[1] : QStringLiteral("小天平");

    m_job = r.job;
    m_jobBytes = r.bytes;
    for (QString& t : m.boxText)
        t.clear();
    m.boxText[10] = m_job.OrderNo;
    const Decimal threshold = Decimal::parse(p.settings.text(Setting::WeightDecision));
    for (int k = 0; k < JobRecord::kLines; ++k) {
        const int i = k + 1;
        const QString& code = m_job.Code[size_t(i)];
        if (code.isEmpty())
            continue;
        const bool large = threshold <= Decimal::parse(m_job.Weight[size_t(i)]);
        m.LineBalance[size_t(k)] = large ? 1 : 2;
        const QString box = code + kCrLf + m_job.B01[size_t(i)] + kCrLf + m_job.Weight[size_t(i)] + kCrLf +
                            TextField::trimSpaces(m.Label3[large ? 0 : 1]);
        m.LineStatus[size_t(i)] = 4;
        m.boxVisible[size_t(k)] = true;
        m.boxText[size_t(k)] = box;
        m.LineTable[size_t(k)] = box;
        m.LineLight[size_t(i)] = p.lightMap.lookup(code);
    }
    m_previousLine = 0;
    m_historyWritten = false;
    m_removed = false;
    m_retryWait = 0;
    m.Line = 1;
    m.State = 2;
}

void Sequencer::prepareLine() {
    const int n = m.Line;
    const int s = 10 * n;
    m.LineTable[size_t(s)] = m_job.Code[size_t(n)];
    m.LineTable[size_t(s + 1)] = m_job.B01[size_t(n)];
    m.LineTable[size_t(s + 2)] = m_job.Weight[size_t(n)];
    m.LineTable[size_t(s + 3)] = QStringLiteral("0");
    m.LineTable[size_t(s + 4)] = QString::number(m.LineBalance[size_t(n - 1)]);
    m.State = 3;
    if (lightBusInUse() && m_previousLine > 0)
        light(m.LineLight[size_t(m_previousLine)], LightBus::Off);
    m_previousLine = n;
    m.Adjust = Decimal();
    m.BoxChoice = 0;
}

void Sequencer::askForContainer() {
    const int n = m.Line;
    m.LineStatus[11] = 4;
    if (!balanceLive(n)) {
        // A reading that is not coming in cannot tell whether the balance is at 0.
        holdForStaleBalance();
        return;
    }
    m.State = reading(n).isZero() ? 4 : 5;
    m.prompt = containerMessage(n);
}

void Sequencer::holdForStaleBalance() { m.prompt = staleMessage(m.Line); }

void Sequencer::weigh() {
    const int n = m.Line;
    if (!balanceLive(n)) {
        holdForStaleBalance();
        return;
    }
    const size_t actualSlot = size_t(10 * n + 3);
    Decimal actual = reading(n) + m.Adjust;
    m.LineTable[actualSlot] = actual.toString();

    switch (m.BoxChoice) {
    case 1: // change barrel: keep what is weighed so far, at the balance's own resolution
        m.Adjust = actual.roundedTo(resolution(n).units());
        m.BoxChoice = 0;
        m.State = 3;
        // The new barrel gets the full zero wait; ticks counted in tolerance on the old
        // one must not shorten it.
        m.Counter = 0;
        updateBox(n);
        return;
    case 2:
        m.Adjust += Decimal::fromInt(kBoxGrams);
        m.BoxChoice = 0;
        break;
    case 3:
        m.Adjust = (reading(n) + Decimal::fromInt(kBoxGrams)).roundedTo(Decimal::kScale);
        m.BoxChoice = 0;
        break;
    default: break;
    }
    actual = reading(n) + m.Adjust;
    m.LineTable[actualSlot] = actual.toString();

    const Decimal t = resolution(n) * m_tolSteps;
    const Decimal target = Decimal::parse(m_job.Weight[size_t(n)]);
    if (actual - t > target) {
        m.Counter = 0;
        m.LineStatus[size_t(n)] = 2;
        m.LineStatus[11] = 2;
        m.prompt = cardMessage(true, n);
    } else if (actual + t < target) {
        m.Counter = 0;
        m.LineStatus[size_t(n)] = 1;
        m.LineStatus[11] = 3;
        m.prompt = cardMessage(false, n);
    } else {
        ++m.Counter;
        m.LineStatus[size_t(n)] = 3;
        m.LineStatus[11] = 1;
        m.prompt = withinMessage();
    }
    updateBox(n);
    if (m.Counter >= kSettleTicks) {
        m.State = 8;
        m.Counter = 0;
        m.LineStatus[size_t(n)] = 0;
    }
}

void Sequencer::nextLine() {
    // The next line that has a code; a line left empty in between is skipped.
    for (int next = m.Line + 1; next <= JobRecord::kLines; ++next) {
        if (!m.LineTable[size_t(next - 1)].isEmpty()) {
            m.Line = next;
            m.State = 2;
            return;
        }
    }
    m.State = 9;
}

// A step of the finish that failed: the prompt and the status line say why, and the step
// is tried again after a few seconds.
void Sequencer::waitToRetry(const QString& why) {
    m.prompt = why;
    p.status.report(why);
    m_retryWait = kHistoryRetryTicks;
}

void Sequencer::finishJob() {
    if (lightBusInUse())
        p.lightBus.startSweep();
    if (m.Counter < kEndTicks) {
        m.prompt = QStringLiteral("<<<END>>>");
        if (++m.Counter < kEndTicks)
            return;
    }
    if (m_retryWait > 0) {
        --m_retryWait;
        return;
    }

    if (!m_historyWritten) {
        m_history = historyFromLineTable(m_job.OrderNo, m.LineTable, p.clock.now());
        Outcome o = Completion::begin(p.workDir, m_jobBytes, m_history.encode());
        if (o)
            o = AppendHistory(p.workDir, m_history);
        if (!o) {
            waitToRetry(QStringLiteral("歷史資料寫入失敗,單號 %1 留在排程中,稍後重試: %2").arg(m_job.OrderNo, o.reason()));
            return;
        }
        m_historyWritten = true;
    }

    if (!m_removed) {
        // Record 1 is removed only while it is still this job: a queue command may have
        // deleted it while it was weighed.
        const JobCountResult c = JobCount(queueFile());
        const ReadJobResult first = c.outcome && c.count > 0 ? ReadJob(queueFile(), 1) : ReadJobResult{};
        Outcome o = !c.outcome ? c.outcome : first.outcome;
        if (o && c.count > 0 && first.bytes == m_jobBytes) {
            o = RemoveJob(queueFile(), twinFile(), 1);
            if (o)
                ++m.queueRemovals;
        }
        if (!o) {
            waitToRetry(QStringLiteral("單號 %1 已完成,但無法從排程移除,稍後重試: %2").arg(m_job.OrderNo, o.reason()));
            return;
        }
        m_removed = true;
        Completion::end(p.workDir);
    }

    if (p.settings.isExactlyOne(Setting::PrintFlag)) {
        const Outcome o = p.print ? p.print(m_history) : Outcome::failure(QStringLiteral("沒有印表機"));
        if (!o)
            p.status.report(QStringLiteral("單號 %1 未列印: %2").arg(m_job.OrderNo, o.reason()));
    }

    m.prompt = QStringLiteral("<<<END>>>");
    m.Counter = 0;
    m.State = 10;
    m.LineStatus[11] = 0;
    for (bool& v : m.boxVisible)
        v = false;
}

void Sequencer::clearUp() {
    m.prompt.clear();
    for (QString& t : m.boxText)
        t.clear();
    m.Counter = 0;
    m.State = 0;
    bool counted = false;
    qint64 count = 0;
    refresh(counted, count);
}
