#include "weighing/Sequencer.h"

#include "weighing/Completion.h"

#include "common/Clock.h"
#include "common/StatusLine.h"
#include "common/TextField.h"
#include "config/StationSettings.h"
#include "devices/BalanceReadings.h"
#include "devices/LightBus.h"
#include "devices/LightMap.h"
#include "jobs/JobCheck.h"
#include "jobs/JobFile.h"
#include "weighing/PickCheck.h"
#include "weighing/RunControl.h"
#include "weighing/TicketService.h"
#include "weighing/WeighingEvents.h"
#include "weighing/WeighingModel.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {
const QString kCrLf = QStringLiteral("\r\n");
constexpr qint64 kTenth = Decimal::kScale / 10;      // large balance: 0.1 g
constexpr qint64 kHundredth = Decimal::kScale / 100; // small balance: 0.01 g
} // namespace

Sequencer::Sequencer(Parts parts) : p(std::move(parts)), m(p.model) {}

QString Sequencer::queueFile() const {
    return p.workDir + QStringLiteral("/START_DISPEN.txt");
}
QString Sequencer::twinFile() const {
    return p.workDir + QStringLiteral("/START_DISPEN2.txt");
}

bool Sequencer::lightBusInUse() const {
    return !p.settings.trimmed(Setting::LightPort).isEmpty() && !p.run.StartupFailed();
}

bool Sequencer::secondLanguage() const {
    return p.settings.isExactlyOne(Setting::Language);
}

Balance Sequencer::balanceOf(int line) const {
    return LineBalanceCode::balance(m.LineBalance[size_t(line - 1)]);
}
bool Sequencer::balanceLive(int line) const {
    return p.readings.isLive(balanceOf(line));
}
Decimal Sequencer::reading(int line) const {
    return p.readings.value(balanceOf(line));
}
// An overloaded balance shows the last weight it read, which is not what it holds now.
bool Sequencer::atZero(int line) const {
    return reading(line).isZero() && !p.readings.isOverloaded(balanceOf(line));
}
Decimal Sequencer::resolution(int line) const {
    return Decimal::fromUnits(balanceOf(line) == Balance::Large ? kTenth : kHundredth);
}
QString Sequencer::balanceName(int line) const {
    return balanceOf(line) == Balance::Large ? m_largeName : m_smallName;
}

void Sequencer::light(int number, int command) {
    if (Outcome o = p.lightBus.CALL_LIGHT(number, command); !o)
        p.status.report(QStringLiteral("燈號輸出失敗: %1").arg(o.reason()));
}

// ---- messages

QString Sequencer::containerMessage(int line) const {
    const bool large = balanceOf(line) == Balance::Large;
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
    return tooMuch
               ? QStringLiteral("染料超過 請取出第 ( ") + n + QStringLiteral(" ) 張染料卡指定染料")
               : QStringLiteral("染料不足 請加入第 ( ") + n + QStringLiteral(" ) 張染料卡指定染料");
}

QString Sequencer::staleMessage(int line) const {
    return balanceName(line) + (secondLanguage() ? QStringLiteral("没有回应,请检查天平连线")
                                                 : QStringLiteral("沒有回應,請檢查天平連線"));
}

QString Sequencer::notZeroMessage(int line) const {
    return balanceName(line) + (secondLanguage() ? QStringLiteral("读数不是 0,请按下归零按钮")
                                                 : QStringLiteral("讀數不是 0,請按下歸零按鈕"));
}

void Sequencer::updateBox(int line) {
    m.boxText[size_t(line - 1)] =
        m.LineTable[lineSlot(line, LineSlot::Code)] + kCrLf +
        m.LineTable[lineSlot(line, LineSlot::B01)] + kCrLf +
        m.LineTable[lineSlot(line, LineSlot::Target)] + QStringLiteral(" => ") +
        m.LineTable[lineSlot(line, LineSlot::Actual)] + kCrLf + balanceName(line);
}

// An event of the weighing for the log; line 0 is an event of the whole job.
void Sequencer::logEvent(int line, const QString& event, const QString& detail,
                         const QDateTime& at) {
    if (!m_events)
        return;
    WeighingEvent e;
    e.at = at;
    e.orderNo = m_job.OrderNo;
    e.line = line;
    e.event = event;
    e.detail = detail;
    if (line >= 1) {
        e.code = m_job.Code[size_t(line)];
        e.lot = m_pick ? m_pick->lot() : QString();
        e.target = m_job.Weight[size_t(line)];
        e.actual = m.LineTable[lineSlot(line, LineSlot::Actual)];
        e.tolerance = (resolution(line) * m_tolSteps).toString();
        e.balance =
            balanceOf(line) == Balance::Large ? QStringLiteral("large") : QStringLiteral("small");
    }
    m_events->record(e);
}

// ---- the tick

void Sequencer::tick() {
    bool counted = false;
    qint64 count = 0;
    if (++m.RefreshTick >= kRefreshTicks) {
        m.RefreshTick = 0;
        refresh(counted, count);
    }
    if (m.State == SequencerState::Idle && counted && recoverJournal() && count > 0)
        m.State = SequencerState::StartJob;
    if (counted && m.State > SequencerState::StartJob && m.State < SequencerState::Finish &&
        Completion::identity(queueFile()) != m_journalIdentity)
        journal(); // a queue command rewrote the queue: the journal names the new file
    ++m_ticksSinceJournal;

    switch (m.State) {
    case SequencerState::StartJob:
        startJob();
        break;
    case SequencerState::PrepareLine:
        prepareLine();
        break;
    case SequencerState::AskContainer:
        askForContainer();
        break;
    case SequencerState::ZeroAlready:
    case SequencerState::WaitZero:
        if (!balanceLive(m.Line)) {
            holdForStaleBalance();
            break;
        }
        if (m.State == SequencerState::ZeroAlready && !atZero(m.Line)) {
            // Something was put on during the wait, most likely the container asked for:
            // weighing from here would count it as dye. The balance must be zeroed first.
            m.State = SequencerState::WaitZero;
            m.Counter = 0;
            m_leftZero = true;
        }
        m.prompt = m_leftZero ? notZeroMessage(m.Line) : containerMessage(m.Line);
        forgetAdjustmentsAtZero();
        ++m.Counter;
        // The zero must hold: a pan emptied for a moment while one container is swapped for
        // another reads 0 as well, and weighing from there would count the new container.
        if (m.State == SequencerState::WaitZero && !atZero(m.Line))
            m.Counter = 0;
        if (m.State == SequencerState::ZeroAlready && m.Counter >= kZeroWaitTicks) {
            m.Counter = 0;
            m.State = SequencerState::BeginWeighing;
        } else if (m.State == SequencerState::WaitZero && atZero(m.Line) &&
                   m.Counter >= kZeroMinTicks) {
            m.Counter = 0;
            m.State = SequencerState::BeginWeighing;
        }
        break;
    case SequencerState::BeginWeighing:
        m_outage = false;
        m.LineStatus[size_t(m.Line)] = LineStatusCode::Active;
        if (lightBusInUse())
            light(m.LineLight[size_t(m.Line)], LightBus::On);
        m.State = SequencerState::Weigh;
        break;
    case SequencerState::Weigh:
        weigh();
        break;
    case SequencerState::NextLine:
        nextLine();
        break;
    case SequencerState::Finish:
        finishJob();
        break;
    case SequencerState::ClearUp:
        clearUp();
        break;
    default:
        break;
    }
    m.notify();
}

bool Sequencer::recoverJournal() {
    if (!Completion::pending(p.workDir))
        return true;
    if (m_recoveryWait > 0) {
        --m_recoveryWait;
        return false;
    }
    const Completion::Recovery rec = Completion::recover(p.workDir, queueFile(), twinFile());
    if (!rec.outcome) {
        // No job is started while the journal waits: its job may be logged and still queued.
        p.status.report(QStringLiteral("完成紀錄無法處理,稍後重試: %1").arg(rec.outcome.reason()));
        m_recoveryWait = kRecoveryRetryRefreshes;
        return !Completion::pending(p.workDir);
    }
    if (rec.weighing && rec.headMatches) {
        resumeJob(rec.jobBytes, rec.progress);
        return false;
    }
    if (rec.weighing) {
        // Deleted or cancelled while the station was down: nothing else is touched.
        if (Outcome o = Completion::end(p.workDir); !o) {
            p.status.report(QStringLiteral("計量紀錄無法移除: %1").arg(o.reason()));
            m_recoveryWait = kRecoveryRetryRefreshes;
            return false;
        }
        p.status.report(
            secondLanguage()
                ? QStringLiteral("单号 %1 已不在排程首位,中断的计量纪录已舍弃").arg(rec.orderNo)
                : QStringLiteral("單號 %1 已不在排程首位,中斷的計量紀錄已捨棄").arg(rec.orderNo));
    } else if (rec.logged && rec.removed) {
        p.status.report(QStringLiteral("單號 %1 已完成,補寫歷史紀錄並從排程移除").arg(rec.orderNo));
    } else if (rec.removed) {
        p.status.report(QStringLiteral("單號 %1 已記錄完成, 已從排程移除").arg(rec.orderNo));
    } else if (rec.logged) {
        p.status.report(QStringLiteral("單號 %1 已完成,補寫歷史紀錄").arg(rec.orderNo));
    }
    return true;
}

void Sequencer::journal() {
    if (Outcome o = Completion::record(p.workDir, queueFile(), m_jobBytes, m_progress); !o) {
        const QString why = QStringLiteral("計量紀錄無法寫入: %1").arg(o.reason());
        if (p.status.text() != why)
            p.status.report(why);
    } else {
        // Only a journal written names the file; a failed one is written again at the next
        // look.
        m_journalIdentity = Completion::identity(queueFile());
    }
    m_ticksSinceJournal = 0;
}

// The amount weighed so far on the line, journalled at once (synced with its folder).
void Sequencer::journalAmount(const QString& amount) {
    m_progress.amount = amount;
    m_journaledAmount = amount;
    journal();
}

void Sequencer::close() {
    if (m.State != SequencerState::Weigh || m_outage || !balanceLive(m.Line))
        return;
    const QString amount = (reading(m.Line) + m.Adjust).toString();
    if (amount != m_journaledAmount)
        journalAmount(amount);
}

// The job at the head of the queue was being weighed when the station stopped: its
// accepted lines are shown as finished with their actuals and are never asked for again;
// the interrupted line goes on as after a change of barrel, from the amount weighed so far
// into a new container.
void Sequencer::resumeJob(const QByteArray& bytes, const Completion::Progress& progress) {
    loadJob(JobRecord::decode(bytes), bytes);
    m_progress = progress;
    int last = 0;
    for (const Completion::Progress::Accepted& a : progress.accepted) {
        if (a.line < 1 || a.line > JobRecord::kLines || !m_job.hasLine(a.line))
            continue;
        m.Line = a.line;
        m_previousLine = 0;
        prepareLine();
        m.LineTable[lineSlot(a.line, LineSlot::Actual)] = a.actual;
        m.LineStatus[size_t(a.line)] = LineStatusCode::Idle;
        updateBox(a.line);
        last = std::max(last, a.line);
    }
    m_previousLine = 0; // the sweep of loadJob switched every light off
    m.Line = last;
    nextLine();
    if (m.State == SequencerState::PrepareLine) {
        prepareLine();
        const Decimal soFar = Decimal::parse(progress.amount);
        if (progress.line == m.Line && !soFar.isZero()) {
            m.Adjust = soFar.roundedTo(resolution(m.Line).units());
            m.LineTable[lineSlot(m.Line, LineSlot::Actual)] = m.Adjust.toString();
            updateBox(m.Line);
        }
    }
    m.Counter = 0;
    m_progress.line = m.State == SequencerState::AskContainer ? m.Line : 0;
    m_progress.amount = m_progress.line ? m.Adjust.toString() : QString();
    m_journaledAmount = m_progress.amount;
    journal();
    // A stop right after a line's acceptance was journalled may have come before its event
    // reached the log: each accepted line is recorded again, as it was timed.
    for (const Completion::Progress::Accepted& a : m_progress.accepted)
        if (a.line >= 1 && a.line <= JobRecord::kLines && m_job.hasLine(a.line))
            logEvent(a.line, QStringLiteral("accepted"), QStringLiteral("again after a stop"),
                     a.at);
    const int line = m.State == SequencerState::Finish ? last : m.Line;
    logEvent(line, QStringLiteral("resumed"),
             QStringLiteral("%1 line(s) accepted before").arg(progress.accepted.size()));
    p.status.report(
        secondLanguage()
            ? QStringLiteral("已恢复单号 %1,由第 %2 行继续计量").arg(m_job.OrderNo).arg(line)
            : QStringLiteral("已恢復單號 %1,由第 %2 行繼續計量").arg(m_job.OrderNo).arg(line));
}

void Sequencer::refresh(bool& counted, qint64& count) {
    // JobCount's open recreates a missing queue file empty, as the queue list always did.
    const JobCountResult c = JobCount(queueFile());
    const ReadAllJobsResult all = c.outcome ? readAllJobs(queueFile()) : ReadAllJobsResult{};
    const Outcome o = !c.outcome ? c.outcome : all.outcome;
    if (!o) {
        const QString why = QStringLiteral("排程檔讀取失敗: %1").arg(o.reason());
        if (p.status.text() != why)
            p.status.report(why);
        if (m.State == SequencerState::Idle)
            m.prompt = why;
        m_queueUnreadable = true;
        return;
    }
    if (m_queueUnreadable && m.State == SequencerState::Idle)
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
    // The job a removal took while it was weighed, put back by an undo behind other jobs:
    // at the head again, it goes on where it was.
    const Completion::Reinstatement back = Completion::reinstate(p.workDir, queueFile(), true);
    if (!back.outcome)
        p.status.report(QStringLiteral("計量紀錄無法恢復: %1").arg(back.outcome.reason()));
    if (back.reinstated) {
        recoverJournal();
        return;
    }
    const ReadJobResult r = ReadJob(queueFile(), 1);
    if (!r.outcome || r.bytes.size() != JobRecord::kLength) {
        // Never start from a record that could not be read whole.
        m.State = SequencerState::Idle;
        const QString why = QStringLiteral("排程檔讀取失敗: %1").arg(r.outcome.reason());
        m.prompt = why;
        p.status.report(why);
        return;
    }
    if (!r.job.hasLine(1)) {
        // Nothing to weigh: the job leaves the queue at once, without a history record.
        m.State = SequencerState::Idle;
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

    if (refuseFaultyJob(r.job, r.bytes))
        return;

    // A copy of a job set aside cannot be told from it: that progress is given up.
    if (Outcome o = Completion::discardSetAsideOf(p.workDir, r.bytes); !o)
        p.status.report(QStringLiteral("計量紀錄無法移除: %1").arg(o.reason()));
    loadJob(r.job, r.bytes);
    m_progress = Completion::Progress{};
    m_progress.line = 1;
    m_journaledAmount.clear();
    journal();
    m.Line = 1;
    m.State = SequencerState::PrepareLine;
}

// A record that another program wrote into the queue may hold what no way into the queue
// lets in (a weight that is not an amount of grams): it is never weighed. It is set aside
// whole into the file of refused jobs with the reason, said on the status line and to the
// weighing events, and leaves the queue. True when the job was refused.
bool Sequencer::refuseFaultyJob(const JobRecord& job, const QByteArray& bytes) {
    const std::optional<JobFault> fault = checkJob(job);
    if (!fault)
        return false;
    m.State = SequencerState::Idle;
    const QString why = QStringLiteral("單號 %1 %2").arg(shownValue(job.OrderNo), fault->text());
    const QString file = refusedJobsFile(queueFile());
    if (Outcome o = setAsideRefused(file, bytes, why, p.clock.now()); !o) {
        p.status.report(
            QStringLiteral("%1, 無法存入 %2: %3").arg(why, QFileInfo(file).fileName(), o.reason()));
        return true;
    }
    if (Outcome o = RemoveJob(queueFile(), twinFile(), 1); !o) {
        p.status.report(QStringLiteral("%1, 已存入 %2, 無法從排程移除: %3")
                            .arg(why, QFileInfo(file).fileName(), o.reason()));
        return true;
    }
    ++m.queueRemovals;
    p.status.report(QStringLiteral("%1, 未計量, 已移至 %2").arg(why, QFileInfo(file).fileName()));
    if (m_events) {
        WeighingEvent e;
        e.orderNo = job.OrderNo;
        e.line = fault->line;
        if (fault->line >= 1) {
            e.code = job.Code[size_t(fault->line)];
            e.target = job.Weight[size_t(fault->line)];
        }
        e.event = QStringLiteral("refused");
        e.detail = why;
        m_events->record(e);
    }
    bool counted = false;
    qint64 count = 0;
    refresh(counted, count);
    return true;
}

void Sequencer::loadJob(const JobRecord& job, const QByteArray& bytes) {
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

    m_job = job;
    m_jobBytes = bytes;
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
        m.LineBalance[size_t(k)] = LineBalanceCode::of(large ? Balance::Large : Balance::Small);
        const QString box = code + kCrLf + m_job.B01[size_t(i)] + kCrLf + m_job.Weight[size_t(i)] +
                            kCrLf + TextField::trimSpaces(m.Label3[large ? 0 : 1]);
        m.LineStatus[size_t(i)] = LineStatusCode::Waiting;
        m.boxVisible[size_t(k)] = true;
        m.boxText[size_t(k)] = box;
        m.LineTable[size_t(k)] = box;
        m.LineLight[size_t(i)] = p.lightMap.lookup(code);
    }
    m_previousLine = 0;
    m_historyWritten = false;
    m_removed = false;
    m_retryWait = 0;
}

void Sequencer::prepareLine() {
    const int n = m.Line;
    m.LineTable[lineSlot(n, LineSlot::Code)] = m_job.Code[size_t(n)];
    m.LineTable[lineSlot(n, LineSlot::B01)] = m_job.B01[size_t(n)];
    m.LineTable[lineSlot(n, LineSlot::Target)] = m_job.Weight[size_t(n)];
    m.LineTable[lineSlot(n, LineSlot::Actual)] = QStringLiteral("0");
    m.LineTable[lineSlot(n, LineSlot::Balance)] = QString::number(m.LineBalance[size_t(n - 1)]);
    m.State = SequencerState::AskContainer;
    if (lightBusInUse() && m_previousLine > 0)
        light(m.LineLight[size_t(m_previousLine)], LightBus::Off);
    m_previousLine = n;
    m.Adjust = Decimal();
    m.BoxChoice = BoxChoiceCode::None;
    m_adjustBefore.clear();
    m_progress.line = n;
    m_progress.amount = QStringLiteral("0");
    if (m_pick)
        m_pick->startLine(n);
}

void Sequencer::askForContainer() {
    const int n = m.Line;
    m.LineStatus[WeighingModel::kOverall] = OverallStatus::Container;
    if (!balanceLive(n)) {
        // A reading that is not coming in cannot tell whether the balance is at 0.
        holdForStaleBalance();
        return;
    }
    m.State = atZero(n) ? SequencerState::ZeroAlready : SequencerState::WaitZero;
    m_leftZero = false;
    m.prompt = containerMessage(n);
    forgetAdjustmentsAtZero();
}

// A balance at 0 after a change of barrel no longer carries what the old barrel holds: the
// adjustments made before could only be restored on top of the new zero, and the line would
// ask again for what is already poured. From here the choices cannot be taken back.
void Sequencer::forgetAdjustmentsAtZero() {
    if (reading(m.Line).isZero())
        m_adjustBefore.clear();
}

void Sequencer::holdForStaleBalance() {
    m.prompt = staleMessage(m.Line);
}

// The amount kept, the line goes on as after a change of barrel: a new container is asked
// for and zeroed, and the rest is poured into it.
void Sequencer::keepAmountForNewContainer(Decimal amount) {
    const int n = m.Line;
    m.Adjust = amount.roundedTo(resolution(n).units());
    m.State = SequencerState::AskContainer;
    m.Counter = 0; // the new container gets the full zero wait
    m.prompt = containerMessage(n);
    m.LineTable[lineSlot(n, LineSlot::Actual)] = m.Adjust.toString();
    updateBox(n);
    journalAmount(m.Adjust.toString());
}

// The line's balance is answering again after an outage (a cable pulled, the balance
// switched off and on). Reading what it read before, the container is still the one
// weighed: the line goes on. Anything else (a balance that comes back re-zeroed reads 0)
// cannot be told from dye poured or taken out: the amount before the outage is kept and
// the line goes on into a new container. False when the weighing does not go on at once.
bool Sequencer::backFromOutage() {
    m_outage = false;
    const int n = m.Line;
    const Decimal now = reading(n);
    const Decimal step = resolution(n);
    if (now - m_readingBeforeOutage <= step && m_readingBeforeOutage - now <= step) {
        p.status.report(secondLanguage()
                            ? QStringLiteral("%1恢复回应,读数未变,继续计量").arg(balanceName(n))
                            : QStringLiteral("%1恢復回應,讀數未變,繼續計量").arg(balanceName(n)));
        return true;
    }
    const Decimal kept = m_readingBeforeOutage + m.Adjust;
    keepAmountForNewContainer(kept);
    m_adjustBefore.clear(); // the container before the outage cannot be taken back
    p.status.report(
        (secondLanguage()
             ? QStringLiteral("%1恢复回应,读数由 %2 变为 %3: 已保留 %4 g,请放上新容器并归零")
             : QStringLiteral("%1恢復回應,讀數由 %2 變為 %3: 已保留 %4 g,請放上新容器並歸零"))
            .arg(balanceName(n), m_readingBeforeOutage.toString(), now.toString(),
                 m.Adjust.toString()));
    return false;
}

void Sequencer::weigh() {
    const int n = m.Line;
    // A light bus adapter that went away and is back: the line's shelf is lit again.
    if (lightBusInUse() && p.lightBus.reopenIfLost())
        light(m.LineLight[size_t(n)], LightBus::On);
    if (!balanceLive(n)) {
        if (!m_outage) {
            // The caption still holds the last reading that came in: what is kept.
            m_outage = true;
            m_readingBeforeOutage = reading(n);
            const QString amount = (m_readingBeforeOutage + m.Adjust).toString();
            if (amount != m_journaledAmount)
                journalAmount(amount);
        }
        holdForStaleBalance();
        return;
    }
    if (m_outage && !backFromOutage())
        return;
    const size_t actualSlot = lineSlot(n, LineSlot::Actual);
    Decimal actual = reading(n) + m.Adjust;
    m.LineTable[actualSlot] = actual.toString();

    if (m.BoxChoice != BoxChoiceCode::None)
        m_adjustBefore.append(m.Adjust);
    switch (m.BoxChoice) {
    case BoxChoiceCode::ChangeBarrel: // keep what is weighed so far, at the balance's own
                                      // resolution
        m.BoxChoice = BoxChoiceCode::None;
        keepAmountForNewContainer(actual);
        return;
    case BoxChoiceCode::AddBox:
        m.Adjust += Decimal::fromInt(kBoxGrams);
        m.BoxChoice = BoxChoiceCode::None;
        break;
    case BoxChoiceCode::DeductBox:
        m.Adjust = (reading(n) + Decimal::fromInt(kBoxGrams)).roundedTo(Decimal::kScale);
        m.BoxChoice = BoxChoiceCode::None;
        break;
    default:
        break;
    }
    actual = reading(n) + m.Adjust;
    m.LineTable[actualSlot] = actual.toString();
    // The amount so far, journalled whenever it has changed (by a display step at least:
    // readings and adjustments come in the balance's steps).
    m_progress.amount = m.LineTable[actualSlot];
    if (m_progress.amount != m_journaledAmount && m_ticksSinceJournal >= kJournalTicks)
        journalAmount(m_progress.amount);

    const Decimal t = resolution(n) * m_tolSteps;
    const Decimal target = Decimal::parse(m_job.Weight[size_t(n)]);
    if (actual - t > target) {
        m.Counter = 0;
        m.LineStatus[size_t(n)] = LineStatusCode::TooMuch;
        m.LineStatus[WeighingModel::kOverall] = OverallStatus::TooMuch;
        m.prompt = cardMessage(true, n);
    } else if (actual + t < target) {
        m.Counter = 0;
        m.LineStatus[size_t(n)] = LineStatusCode::Active;
        m.LineStatus[WeighingModel::kOverall] = OverallStatus::TooLittle;
        m.prompt = cardMessage(false, n);
    } else {
        // Only readings that keep coming count towards settling, and with the balance's
        // marks on only those it calls stable; a frozen, unsteady or overloaded one holds.
        if (p.readings.countsTowardsSettling(balanceOf(n)))
            ++m.Counter;
        m.LineStatus[size_t(n)] = LineStatusCode::Within;
        m.LineStatus[WeighingModel::kOverall] = OverallStatus::Within;
        m.prompt = withinMessage();
    }
    updateBox(n);
    if (m_pick && !m_pick->confirmed(n)) {
        // Weighed and shown, but never accepted before its container is scanned.
        if (m.LineStatus[size_t(n)] != LineStatusCode::TooMuch)
            m.prompt = m_pick->prompt();
        m.Counter = std::min(m.Counter, kSettleTicks - 1);
    }
    if (m.Counter >= kSettleTicks) {
        m.State = SequencerState::NextLine;
        m.Counter = 0;
        m.LineStatus[size_t(n)] = LineStatusCode::Idle;
        m_adjustBefore.clear();
        m_progress.accepted.append(
            {n, m.LineTable[actualSlot], m.LineBalance[size_t(n - 1)], p.clock.now()});
        m_progress.line = 0;
        m_progress.amount.clear();
        journal();
        // Timed as journalled: a resume records it again with the same time, which the log
        // knows for a repeat when this one got there before a stop.
        logEvent(n, QStringLiteral("accepted"), {}, m_progress.accepted.last().at);
    }
}

bool Sequencer::canUndoBoxChoice() const {
    const bool lineOpen =
        m.State >= SequencerState::AskContainer && m.State <= SequencerState::Weigh;
    return lineOpen && (m.BoxChoice != BoxChoiceCode::None || !m_adjustBefore.isEmpty());
}

bool Sequencer::undoBoxChoice() {
    if (!canUndoBoxChoice())
        return false;
    if (m.BoxChoice != BoxChoiceCode::None) {
        m.BoxChoice = BoxChoiceCode::None; // not acted on yet
    } else {
        // Back to weighing with the adjustment as it was; a change of barrel taken back
        // asks for no new container. The settling count starts again.
        m.Adjust = m_adjustBefore.takeLast();
        m.State = SequencerState::Weigh;
        m.Counter = 0;
        m.LineTable[lineSlot(m.Line, LineSlot::Actual)] = (reading(m.Line) + m.Adjust).toString();
        updateBox(m.Line);
    }
    logEvent(m.Line, QStringLiteral("undo"), QStringLiteral("box/barrel choice taken back"));
    m.notify();
    return true;
}

void Sequencer::nextLine() {
    // The next line that has a code; a line left empty in between is skipped.
    for (int next = m.Line + 1; next <= JobRecord::kLines; ++next) {
        if (!m.LineTable[size_t(next - 1)].isEmpty()) {
            m.Line = next;
            m.State = SequencerState::PrepareLine;
            return;
        }
    }
    m.State = SequencerState::Finish;
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

    // The finish is journalled (see Completion.h for the steps and what a restart does).
    // The journal is written again at every attempt, so that it names the queue file as it
    // is now, whatever a queue command did to it while an earlier attempt waited.
    if (!m_historyWritten)
        m_history = historyFromLineTable(m_job.OrderNo, m.LineTable, p.clock.now());
    if (Outcome o =
            Completion::begin(p.workDir, queueFile(), m_jobBytes, m_history.encode(), m_progress);
        !o) {
        waitToRetry(QStringLiteral("歷史資料寫入失敗,單號 %1 留在排程中,稍後重試: %2")
                        .arg(m_job.OrderNo, o.reason()));
        return;
    }
    if (!m_historyWritten) {
        if (Outcome o = AppendHistory(p.workDir, m_history); !o) {
            waitToRetry(QStringLiteral("歷史資料寫入失敗,單號 %1 留在排程中,稍後重試: %2")
                            .arg(m_job.OrderNo, o.reason()));
            return;
        }
        m_historyWritten = true;
    }

    if (!m_removed) {
        // Record 1 is removed only while it is still this job: a queue command may have
        // deleted it while it was weighed.
        const JobCountResult c = JobCount(queueFile());
        const ReadJobResult first =
            c.outcome && c.count > 0 ? ReadJob(queueFile(), 1) : ReadJobResult{};
        Outcome o = !c.outcome ? c.outcome : first.outcome;
        if (o && c.count > 0 && first.bytes == m_jobBytes) {
            o = RemoveJob(queueFile(), twinFile(), 1);
            if (o)
                ++m.queueRemovals;
        }
        if (!o) {
            waitToRetry(QStringLiteral("單號 %1 已完成,但無法從排程移除,稍後重試: %2")
                            .arg(m_job.OrderNo, o.reason()));
            return;
        }
        m_removed = true;
    }
    // A journal left behind only costs the next start a look at the files.
    if (Outcome o = Completion::end(p.workDir); !o)
        p.status.report(QStringLiteral("完成紀錄無法移除: %1").arg(o.reason()));

    if (p.settings.isExactlyOne(Setting::PrintFlag)) {
        const Outcome o = p.tickets ? p.tickets->print(m_history)
                                    : Outcome::failure(QStringLiteral("沒有印表機"));
        if (!o)
            p.status.report(QStringLiteral("單號 %1 未列印: %2").arg(m_job.OrderNo, o.reason()));
    }

    logEvent(0, QStringLiteral("finished"),
             QStringLiteral("%1 line(s)").arg(m_progress.accepted.size()));
    m.prompt = QStringLiteral("<<<END>>>");
    m.Counter = 0;
    m.State = SequencerState::ClearUp;
    m.LineStatus[WeighingModel::kOverall] = OverallStatus::Idle;
    for (bool& v : m.boxVisible)
        v = false;
}

void Sequencer::clearUp() {
    m.prompt.clear();
    for (QString& t : m.boxText)
        t.clear();
    m.Counter = 0;
    m.State = SequencerState::Idle;
    bool counted = false;
    qint64 count = 0;
    refresh(counted, count);
}
