#include "station/QueueCommands.h"

#include "common/StatusLine.h"
#include "config/StationSettings.h"
#include "devices/LightBus.h"
#include "devices/SerialPort.h"
#include "jobs/JobFile.h"
#include "jobs/UndoStore.h"
#include "weighing/Completion.h"
#include "weighing/Startup.h"
#include "weighing/WeighingEvents.h"
#include "weighing/WeighingModel.h"

#include <QFileInfo>

QueueCommands::QueueCommands(Files files, WeighingModel& weighing, const StationSettings& settings,
                             SerialPort& lightPort, LightBus& lightBus, StatusLine& status,
                             QObject* parent)
    : QObject(parent), m_files(std::move(files)), m_weighing(weighing), m_settings(settings),
      m_lightPort(lightPort), m_lightBus(lightBus), m_status(status) {}

namespace {
QString failed(const QString& what, const Outcome& o) {
    return QStringLiteral("%1: %2").arg(what, o.reason());
}

// The order numbers of some job records, the first few of them.
QString orderNumbers(const QList<QByteArray>& records) {
    constexpr qsizetype kNamed = 5;
    QStringList orders;
    for (qsizetype i = 0; i < records.size() && i < kNamed; ++i)
        orders << JobRecord::decode(records.at(i)).OrderNo;
    return orders.join(QStringLiteral(", ")) +
           (records.size() > kNamed ? QStringLiteral(" 等") : QString());
}
} // namespace

void QueueCommands::report(const Outcome& o) {
    if (!o)
        m_status.report(o.reason());
}

void QueueCommands::refresh() {
    if (const Outcome o = listRecipes(); !o)
        m_status.report(o.reason());
    else
        m_status.report(QStringLiteral("配方清單已更新, 共 %1 筆").arg(m_recipesListed));
}

void QueueCommands::queue(int p, const QString& entry) {
    m_status.report(queueRecipe(p, entry));
}

void QueueCommands::reloadQueueList() {
    report(listQueue());
}

void QueueCommands::deleteQueued(int p, const QString& entry) {
    m_status.report(deleteJob(p, entry));
}

void QueueCommands::cancelAll() {
    m_status.report(cancelJobs());
}

void QueueCommands::logJob(const QByteArray& record, const QString& event, const QString& detail) {
    if (!m_events)
        return;
    WeighingEvent e;
    e.orderNo = JobRecord::decode(record).OrderNo;
    e.event = event;
    e.detail = detail;
    m_events->record(e);
}

// The sweep writes to the light-bus port; after a failed start-up that port may not be
// open, and then there is nothing to switch off.
bool QueueCommands::lightBusInUse() const {
    return !m_settings.trimmed(Setting::LightPort).isEmpty() && m_lightPort.isOpen();
}

Outcome QueueCommands::listRecipes() {
    const RecipeListResult r = readRecipeList(m_files.quick);
    if (!r.outcome)
        return Outcome::failure(failed(QStringLiteral("配方檔讀取失敗"), r.outcome));
    m_recipesListed = r.entries.size();
    emit recipeListChanged(r.entries);
    return Outcome::success();
}

QString QueueCommands::queueRecipe(int p, const QString& entry) {
    if (p < 0)
        return QStringLiteral("請先在配方清單選擇一筆, 未排入");
    const JobCountResult n = JobCount(m_files.quick);
    if (!n.outcome)
        return failed(QStringLiteral("排入計量失敗"), n.outcome);
    const qint64 k = n.count - p;
    ReadJobResult r;
    if (k >= 1) {
        r = ReadJob(m_files.quick, k);
        if (!r.outcome)
            return failed(QStringLiteral("排入計量失敗"), r.outcome);
    }
    if (k < 1 || recipeListEntry(r.bytes) != entry) {
        if (Outcome o = listRecipes(); !o)
            return o.reason();
        return QStringLiteral("配方檔已變更, 清單已更新, 請重新選擇 (未排入)");
    }
    if (Outcome o = appendJobBytes(m_files.queue, r.bytes); !o)
        return failed(QStringLiteral("排入計量失敗"), o);
    return QStringLiteral("已排入計量 單號 %1").arg(JobRecord::decode(r.bytes).OrderNo);
}

Outcome QueueCommands::listQueue() {
    const ReadAllJobsResult all = readAllJobs(m_files.queue);
    if (!all.outcome)
        return Outcome::failure(failed(QStringLiteral("計量佇列讀取失敗"), all.outcome));
    QStringList entries;
    for (const QByteArray& bytes : all.records)
        entries << queueListEntry(JobRecord::decode(bytes));
    m_weighing.setQueueList(all.records, entries);
    m_weighing.notify();
    return Outcome::success();
}

// The running job is gone from the queue. Its journal: set aside where a removal can be undone (the
// job put back resumes where it was), dropped otherwise.
void QueueCommands::dropJournal() {
    const QString dir = QFileInfo(m_files.queue).absolutePath();
    if (Outcome o = m_undo ? Completion::setAside(dir) : Completion::end(dir); !o)
        m_status.report(QStringLiteral("計量紀錄無法移除: %1").arg(o.reason()));
}

void QueueCommands::discardSetAside() {
    const QString dir = QFileInfo(m_files.queue).absolutePath();
    if (Outcome o = Completion::discardSetAside(dir); !o)
        m_status.report(QStringLiteral("計量紀錄無法移除: %1").arg(o.reason()));
}

void QueueCommands::resetDisplay() {
    m_weighing.prompt.clear();
    for (int i = 0; i <= 10; ++i) {
        m_weighing.boxText[size_t(i)].clear();
        m_weighing.LineStatus[size_t(i)] = LineStatusCode::Idle;
    }
    m_weighing.boxVisible.fill(false);
    m_weighing.LineStatus[WeighingModel::kOverall] = OverallStatus::Idle;
    m_weighing.Counter = 0;
    m_weighing.State = SequencerState::Idle;
}

QString QueueCommands::deleteJob(int p, const QString& entry) {
    if (p < 0)
        return QStringLiteral("請先在計量佇列選擇一筆, 未刪除");
    const JobCountResult n = JobCount(m_files.queue);
    if (!n.outcome)
        return failed(QStringLiteral("刪除失敗"), n.outcome);
    // The entry must still stand for record p + 1: the list shows it, no record has been
    // removed since the list was filled (a finished job leaves the queue some ticks before
    // the list is refilled), and the file holds the very record the entry was filled from.
    bool stale = p + 1 > n.count || p >= m_weighing.queueRecords.size() ||
                 m_weighing.queueEntries.value(p) != entry ||
                 m_weighing.queueListRemovals != m_weighing.queueRemovals;
    if (!stale) {
        const ReadJobResult r = ReadJob(m_files.queue, p + 1);
        if (!r.outcome)
            return failed(QStringLiteral("刪除失敗"), r.outcome);
        stale = r.bytes != m_weighing.queueRecords.at(p);
    }
    if (stale) {
        if (Outcome o = listQueue(); !o)
            return o.reason();
        return QStringLiteral("計量佇列已變更, 清單已更新, 請重新選擇 (未刪除)");
    }

    // Record 1 is the job the sequencer holds while it is not idle. Left alone, it would
    // finish that job and then remove record 1 again, which by then is the next job.
    const bool deletesRunningJob = p == 0 && m_weighing.State != SequencerState::Idle;
    const QByteArray removed = m_weighing.queueRecords.at(p);
    if (m_undo)
        if (Outcome o =
                m_undo->keep(m_files.queue, {removed},
                             QStringLiteral("DEL 單號 %1").arg(JobRecord::decode(removed).OrderNo));
            !o)
            return failed(QStringLiteral("刪除失敗"), o);
    // A later job's removal rewrites the queue under the job being weighed or finished: its
    // journal must go on naming the queue file that holds it.
    const QString dir = QFileInfo(m_files.queue).absolutePath();
    const bool keepsJournal = !deletesRunningJob && p > 0;
    if (keepsJournal)
        if (Outcome o = Completion::beforeRewrite(dir); !o) {
            if (m_undo)
                m_undo->settle(false);
            return failed(QStringLiteral("刪除失敗"), o);
        }
    const Outcome removal = RemoveJob(m_files.queue, m_files.queueTwin, p + 1);
    if (m_undo)
        m_undo->settle(removal.ok());
    if (keepsJournal)
        if (Outcome o = Completion::afterRewrite(dir, m_files.queue); !o)
            m_status.report(QStringLiteral("計量紀錄無法寫入: %1").arg(o.reason()));
    if (!removal)
        return failed(QStringLiteral("刪除失敗"), removal);
    if (!deletesRunningJob) // an undo now puts this removal back, not the running job's
        discardSetAside();
    ++m_weighing.queueRemovals;
    logJob(removed, QStringLiteral("deleted"),
           QStringLiteral("queue position %1%2")
               .arg(p + 1)
               .arg(deletesRunningJob ? QStringLiteral(", being weighed") : QString()));
    const Outcome listed = listQueue();
    report(listed); // the job is deleted all the same
    const bool emptied = listed && m_weighing.queueEntries.isEmpty();
    if (deletesRunningJob || emptied) {
        if (deletesRunningJob)
            dropJournal();
        if (deletesRunningJob && lightBusInUse())
            m_lightBus.startSweep();
        resetDisplay();
        m_weighing.notify();
        emit sequencerReset();
    }
    return QStringLiteral("已刪除 單號 %1 (計量佇列第 %2 筆)%3")
        .arg(JobRecord::decode(removed).OrderNo, QString::number(p + 1),
             deletesRunningJob ? QStringLiteral(", 計量已中止") : QString());
}

QString QueueCommands::cancelJobs() {
    // The queue file goes first: when it cannot be deleted the jobs are still queued, so
    // the weighing goes on as it was and the operator is told why.
    // What is cancelled is kept first, so that it can be put back.
    // Only the jobs read here are cancelled: one appended meanwhile by another station
    // stays queued.
    const ReadAllJobsResult all = readAllJobs(m_files.queue);
    if (!all.outcome && m_undo)
        return failed(QStringLiteral("取消全部失敗"), all.outcome);
    const QList<QByteArray> cancelled = all.records;
    if (m_undo && !cancelled.isEmpty())
        if (Outcome o = m_undo->keep(m_files.queue, cancelled,
                                     QStringLiteral("取消全部 %1 筆").arg(cancelled.size()));
            !o)
            return failed(QStringLiteral("取消全部失敗"), o);
    const Outcome deleted = all.outcome
                                ? deleteJobsRead(m_files.queue, m_files.queueTwin, cancelled.size())
                                : DeleteJobFile(m_files.queue);
    if (m_undo)
        m_undo->settle(deleted.ok());
    if (!deleted)
        return failed(QStringLiteral("取消全部失敗"), deleted);
    for (qsizetype i = 0; i < cancelled.size(); ++i)
        logJob(cancelled.at(i), QStringLiteral("cancelled"),
               QStringLiteral("queue position %1").arg(i + 1));
    const bool wasWeighing = m_weighing.State != SequencerState::Idle;
    if (wasWeighing)
        dropJournal();
    else
        discardSetAside();
    m_weighing.State = SequencerState::Idle;
    if (lightBusInUse())
        m_lightBus.startSweep();
    for (QString& t : m_weighing.boxText)
        t.clear();
    m_weighing.prompt.clear();
    m_weighing.Counter = 0;
    m_weighing.LineStatus[WeighingModel::kOverall] = OverallStatus::Idle;
    m_weighing.boxVisible.fill(false);
    ++m_weighing.queueRemovals;
    m_weighing.setQueueList({}, {});
    m_weighing.notify();
    emit sequencerReset();
    const QString stopped = wasWeighing ? QStringLiteral(", 計量已中止") : QString();
    if (cancelled.isEmpty())
        return QStringLiteral("計量佇列是空的, 沒有可取消的工作") + stopped;
    return QStringLiteral("已取消全部 %1 筆 (單號 %2)%3")
        .arg(QString::number(cancelled.size()), orderNumbers(cancelled), stopped);
}
