#include "intake/OrderPolling.h"

#include "common/OleDate.h"
#include "intake/ClaimJournal.h"
#include "intake/ImportBuilder.h"
#include "intake/Queries.h"
#include "jobs/JobCheck.h"
#include "jobs/JobFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr int kPollLastField = 15; // fields 0..15, whatever the field count says

QString joined(const QStringList& row) {
    return row.join(QChar(0x1f));
}

} // namespace

struct OrderPolling::StepResult {
    Outcome outcome = Outcome::success();
    bool queued = false;
    bool marked = false;
    DbRows shown;        // the lines of the order claimed, for the staging grid
    QStringList reports; // told once
    QSet<QString> reported;
};

// What a step needs; everything here is a copy, as it runs on the database thread.
struct OrderPolling::StepInput {
    DbLogin login;
    QString table;
    int station = 0;
    QString receive; // the receive folder
    QString target;  // its START_DISPEN.txt
    QString journal; // POLL_CLAIM.txt
    double created = 0;
    QSet<QString> reported;
    bool claimNew = true; // false: only complete a journal left behind
    OrderPolling::Hook hook;
    std::function<void(const QString&)> show; // the query box, on its own thread
};

namespace {

using StepInput = OrderPolling::StepInput;

void hook(const StepInput& in, OrderPolling::Point p, int record = 0) {
    if (in.hook)
        in.hook(p, record);
}

// Appends the records of the journal that are not known to be in the queue file, saying
// each one in the journal once it is in. The first of them may be in already: its append
// can have ended just before the journal said so. (A journal of an earlier version says
// nothing: each record is looked for until one is missing, as those appends went in order.)
Outcome appendRest(ClaimJournal& j, const StepInput& in, bool& appended) {
    const bool unknown = j.appended < 0;
    j.appended = std::max(j.appended, 0);
    bool look = true;
    while (j.appended < j.records.size()) {
        const QByteArray& record = j.records[j.appended];
        bool there = false;
        if (look) {
            const ReadAllJobsResult queued = readAllJobs(j.target);
            if (!queued.outcome)
                return queued.outcome;
            there = queued.records.contains(record);
            look = there && unknown;
        }
        if (!there) {
            if (Outcome o = appendJobBytes(j.target, record); !o)
                return Outcome::failure(QStringLiteral("寫入失敗 %1").arg(o.reason()));
            appended = true;
        }
        ++j.appended;
        if (Outcome o = j.write(in.journal); !o)
            return o;
        if (!there)
            hook(in, OrderPolling::Point::Appended, j.appended);
    }
    return Outcome::success();
}

// Whether every journalled line is among `rows` (each matching a row of its own), the
// field `skip` aside.
bool allAmong(const QList<QStringList>& lines, const DbRows& rows, int skip = -1) {
    auto key = [skip](QStringList row) {
        if (skip >= 0 && skip < row.size())
            row.removeAt(skip);
        return joined(row);
    };
    QStringList left;
    for (const QStringList& row : rows.rows)
        left << key(row);
    for (const QStringList& line : lines)
        if (!left.removeOne(key(line)))
            return false;
    return true;
}

// A journal left by a step that was stopped: completes or drops it. `done` when the step
// has nothing more to do.
//
// A journal that knows its commit went through needs no database. Otherwise the order's
// lines tell: still waiting as journalled, the claim never happened (dropped, and the
// order is claimed afresh); taken by this station number with the journalled content, the
// commit went through without the journal knowing (a lost acknowledgement, or a stop just
// after it); anything else (edited, deleted, taken in another form) drops the journal and
// queues nothing, as its lines are not the order any more.
Outcome complete(const StepInput& in, DbSession& session, OrderPolling::StepResult& r, bool& done) {
    done = true;
    ClaimJournal journal;
    if (Outcome o = ClaimJournal::read(in.journal, journal); !o)
        return Outcome::failure(QStringLiteral("POLL_CLAIM.txt 無法讀取: %1").arg(o.reason()));
    if (!journal.committed) {
        if (Outcome o = session.connect(); !o)
            return o;
        auto query = [&](const SqlText& sql, DbRows& rows) {
            in.show(sql.shown);
            return session.query(sql, kPollLastField, rows);
        };
        DbRows waiting;
        if (Outcome o =
                query(Queries::pollLines(journal.table, journal.station, journal.orderId), waiting);
            !o)
            return o;
        if (allAmong(journal.lines, waiting)) {
            done = false;
            return ClaimJournal::remove(in.journal);
        }
        DbRows taken;
        if (Outcome o =
                query(Queries::pollTaken(journal.table, journal.station, journal.orderId), taken);
            !o)
            return o;
        const auto stepField =
            std::find_if(taken.names.cbegin(), taken.names.cend(), [](const QString& n) {
                return n.compare(QLatin1String("step_no"), Qt::CaseInsensitive) == 0;
            });
        if (!allAmong(journal.lines, taken, int(stepField - taken.names.cbegin()))) {
            r.reports << QStringLiteral("單號 %1 的接單在上次中斷, 訂單已變更或刪除, 未排入")
                             .arg(journal.orderId);
            done = false;
            return ClaimJournal::remove(in.journal);
        }
        // Said before anything is appended: a later edit of the lines must not undo it.
        journal.committed = true;
        if (Outcome o = journal.write(in.journal); !o)
            return o;
    }
    r.marked = true;
    if (Outcome o = appendRest(journal, in, r.queued); !o)
        return o;
    if (r.queued)
        r.reports << QStringLiteral("單號 %1 的接單在上次中斷, 已補排入").arg(journal.orderId);
    return ClaimJournal::remove(in.journal);
}

// One attempt at claiming an order, in one transaction, in steps that each say what went
// wrong: choose the order, build its jobs, mark its lines taken, journal the claim, commit,
// then queue the jobs. A step that finds nothing to claim, or leaves the order waiting,
// clears the order chosen; the attempt then ends with success and nothing claimed.
class ClaimAttempt {
public:
    ClaimAttempt(const StepInput& in, DbSession& s, OrderPolling::StepResult& r)
        : m_in(in), m_s(s), m_r(r) {}

    Outcome run();
    // The lines could not all be marked taken (another station took some, a lock): a
    // second attempt may get them.
    bool lostRace() const { return m_lostRace; }

private:
    bool chosen() const { return !m_id.isNull(); }
    Outcome choose();
    Outcome build();
    Outcome markTaken();
    Outcome journal();
    Outcome queue();
    Outcome leaveWaiting(const QString& why);

    const StepInput& m_in;
    DbSession& m_s;
    OrderPolling::StepResult& m_r;
    QString m_id;  // the order chosen; null: none
    QString m_key; // its id and lines, as remembered when it is left waiting
    DbRows m_lines;
    QList<JobRecord> m_jobs;
    ClaimJournal m_journal;
    bool m_lostRace = false;
};

Outcome ClaimAttempt::run() {
    m_r.shown = DbRows();
    Outcome o = m_s.begin();
    if (o)
        o = choose();
    if (o && chosen())
        o = build();
    if (o && chosen())
        o = markTaken();
    if (o && chosen())
        o = journal();
    if (!o || !chosen()) {
        m_s.rollback();
        return o;
    }
    // A failed commit may still have been committed: the next step's completion finds out.
    if (o = m_s.commit(); !o)
        return o;
    return queue();
}

// The first order in row order that is neither without id nor reported as left waiting.
Outcome ClaimAttempt::choose() {
    const SqlText waitingSql = Queries::pollWaiting(m_in.table, m_in.station);
    m_in.show(waitingSql.shown);
    DbRows waiting;
    if (Outcome o = m_s.query(waitingSql, kPollLastField, waiting, QStringLiteral("ID_NO")); !o)
        return o;
    QStringList ids;
    QHash<QString, QStringList> content; // id -> its lines
    int noId = 0;
    for (int i = 0; i < waiting.rows.size(); ++i) {
        const QString& id = waiting.keys[i];
        if (TextField::trimSpaces(id).isEmpty()) {
            const QString key = QStringLiteral("no id") + QChar(0x1e) + joined(waiting.rows[i]);
            if (!m_in.reported.contains(key) && !m_r.reported.contains(key)) {
                m_r.reported << key;
                ++noId;
            }
            continue;
        }
        if (!content.contains(id))
            ids << id;
        content[id] << joined(waiting.rows[i]);
    }
    if (noId > 0)
        m_r.reports << QStringLiteral("%1 筆等待中的訂單行沒有單號 (id_no), 未排入").arg(noId);
    for (const QString& candidate : ids) {
        m_key = candidate + QChar(0x1e) + content[candidate].join(QChar(0x1e));
        if (!m_in.reported.contains(m_key)) {
            m_id = candidate;
            break;
        }
    }
    return Outcome::success();
}

// Reads the order's lines and builds its jobs; an order that cannot go in is left waiting.
Outcome ClaimAttempt::build() {
    const SqlText linesSql = Queries::pollLines(m_in.table, m_in.station, m_id);
    m_in.show(linesSql.shown);
    if (Outcome o = m_s.query(linesSql, kPollLastField, m_lines); !o)
        return o;
    if (m_lines.rows.isEmpty()) {
        m_id = QString();
        return Outcome::success();
    }
    if (m_lines.truncated)
        return leaveWaiting(
            QStringLiteral("單號 %1 超過 %2 行, 未排入").arg(m_id).arg(DbRows::kMaxRows));
    StagingGrid grid;
    ImportBuilder::showRows(grid, m_lines);
    const FieldMapping fixedLayout;
    const ImportBuilder::JobBuild b = ImportBuilder::buildJob(
        grid, int(m_lines.rows.size()), m_lines.lastField,
        {.fixed = true, .b01FromColumn15 = false}, fixedLayout, m_in.created);
    if (!b.outcome)
        return b.outcome;
    if (b.jobs.isEmpty())
        return leaveWaiting(QStringLiteral("單號 %1 的訂單行沒有單號 (第 2 欄), 未排入").arg(m_id));
    QString bad;
    for (const JobRecord& j : b.jobs)
        bad += ImportBuilder::unstorable(j);
    if (!bad.isEmpty())
        return leaveWaiting(QStringLiteral("單號 %1 含有代碼頁 950 無法儲存的字元 %2, 未排入")
                                .arg(m_id, TextField::listed(TextField::unstorable(bad))));
    if (const auto fault = checkOrder(b.jobs))
        return leaveWaiting(
            QStringLiteral("單號 %1 %2, 未排入").arg(shownValue(m_id), fault->text()));
    m_jobs = b.jobs;
    m_r.shown = m_lines;
    return Outcome::success();
}

Outcome ClaimAttempt::leaveWaiting(const QString& why) {
    m_r.reported << m_key;
    m_r.reports << why;
    m_id = QString();
    return Outcome::success();
}

// Marks the lines taken: every line read, or none.
Outcome ClaimAttempt::markTaken() {
    const SqlText updateSql = Queries::pollUpdate(m_in.table, m_in.station, m_id);
    m_in.show(updateSql.shown);
    int marked = -1;
    Outcome o = m_s.statement(updateSql, &marked);
    if (o && marked != m_lines.rows.size())
        o = Outcome::failure(QStringLiteral("單號 %1 讀到 %2 行, 更新了 %3 行, 未排入")
                                 .arg(m_id)
                                 .arg(m_lines.rows.size())
                                 .arg(marked));
    m_lostRace = !o;
    if (o)
        hook(m_in, OrderPolling::Point::Claimed);
    return o;
}

Outcome ClaimAttempt::journal() {
    m_journal = ClaimJournal{m_in.station, m_in.table, m_id, m_in.target, m_lines.rows, {}};
    for (const JobRecord& job : m_jobs)
        m_journal.records << job.encode();
    if (Outcome o = m_journal.write(m_in.journal); !o)
        return o;
    hook(m_in, OrderPolling::Point::Journalled);
    return Outcome::success();
}

// After the commit. From here on the journal says how far the claim got; when it cannot,
// the step stops and the next one finds out from the database what it does not say.
Outcome ClaimAttempt::queue() {
    m_r.marked = true;
    m_journal.committed = true;
    if (Outcome o = m_journal.write(m_in.journal); !o)
        return o;
    hook(m_in, OrderPolling::Point::Committed);
    // On a failure the journal stays; the next step appends what is missing.
    if (Outcome o = appendRest(m_journal, m_in, m_r.queued); !o)
        return o;
    return ClaimJournal::remove(m_in.journal);
}

// An earlier version of the station kept the orders it had queued but not yet marked
// taken in POLL_PENDING.txt ("<station>\t<order id>" lines). They are marked before any
// new claim, or the next claim would queue them a second time; the list is removed once
// every one is marked.
Outcome markLeftOver(const StepInput& in, DbSession& session, OrderPolling::StepResult& r) {
    const QString path = QFileInfo(in.journal).dir().filePath(QStringLiteral("POLL_PENDING.txt"));
    QFile f(path);
    if (!f.exists())
        return Outcome::success();
    if (!f.open(QIODevice::ReadOnly))
        return Outcome::failure(QStringLiteral("POLL_PENDING.txt: %1").arg(f.errorString()));
    QStringList ids;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        const int station = tab > 0 ? line.left(tab).toInt() : 0;
        if (station < 1 || station > 5)
            continue;
        const QString id = QString::fromUtf8(line.mid(tab + 1));
        const SqlText sql = Queries::pollUpdate(in.table, station, id);
        in.show(sql.shown);
        if (Outcome o = session.statement(sql); !o)
            return o;
        ids << id;
    }
    if (!f.remove())
        return Outcome::failure(QStringLiteral("POLL_PENDING.txt: %1").arg(f.errorString()));
    if (!ids.isEmpty())
        r.reports << QStringLiteral("上次排入但未更新的單號已更新: %1")
                         .arg(ids.join(QStringLiteral(", ")));
    return Outcome::success();
}

OrderPolling::StepResult step(const StepInput& in) {
    OrderPolling::StepResult r;
    DbSession session(in.login);
    if (QFile::exists(in.journal)) {
        bool done = false;
        r.outcome = complete(in, session, r, done);
        if (!r.outcome || done)
            return r;
    }
    if (!in.claimNew)
        return r;
    if (in.receive.isEmpty()) {
        r.outcome = Outcome::failure(QStringLiteral("未設定接收路徑, 不執行自動接單"));
        return r;
    }
    // Checked here, off the window's thread (a dead network mount can hold it for long),
    // and before an order is claimed: lines are marked taken only when they can go in.
    if (!QDir(in.receive).exists()) {
        r.outcome =
            Outcome::failure(QStringLiteral("接收路徑 %1 不存在, 不執行自動接單").arg(in.receive));
        return r;
    }
    if (r.outcome = session.connect(); !r.outcome)
        return r;
    if (r.outcome = markLeftOver(in, session, r); !r.outcome)
        return r;
    // A claim that loses a race (another station, a lock) is tried once more at once.
    for (int attempt = 1;; ++attempt) {
        ClaimAttempt claim(in, session, r);
        r.outcome = claim.run();
        if (!claim.lostRace() || attempt == 2)
            break;
    }
    return r;
}

} // namespace

OrderPolling::OrderPolling(IntakeContext& context, QObject* parent)
    : QObject(parent), m_ctx(context) {}

int OrderPolling::stationNumber(const StationSettings& s) {
    int n = 0;
    const Option boxes[] = {Option::PollPowder, Option::PollAux2, Option::PollAux3,
                            Option::PollAux4, Option::PollAux5};
    for (int i = 0; i < 5; ++i)
        if (s.isSet(boxes[i]))
            n = i + 1;
    return n;
}

QString OrderPolling::journalFile() const {
    return ClaimJournal::path(m_ctx.workDir);
}

void OrderPolling::tick() {
    if (m_inProgress)
        return;
    if (m_wait > 0) {
        --m_wait;
        return;
    }
    const int station = stationNumber(m_ctx.settings);
    if (station == 0)
        return;
    const QString receive = m_ctx.receivePath();
    if (receive.isEmpty() && !QFile::exists(journalFile())) {
        fail(QStringLiteral("未設定接收路徑, 不執行自動接單"));
        return;
    }
    StepInput in;
    in.station = station;
    in.receive = receive;
    if (!receive.isEmpty())
        in.target = QDir(receive).filePath(QStringLiteral("START_DISPEN.txt"));
    run(in);
}

void OrderPolling::recover() {
    if (m_inProgress || !QFile::exists(journalFile()))
        return;
    StepInput in;
    in.claimNew = false;
    run(in);
}

void OrderPolling::run(StepInput in) {
    m_inProgress = true;
    in.journal = journalFile();
    in.login = m_ctx.login();
    in.table = m_ctx.settings.trimmed(Setting::TableName);
    in.created = OleDate::fromDateTime(m_ctx.clock.now());
    in.reported = m_reported;
    in.hook = m_hook;
    QueryBox* box = &m_ctx.queryBox;
    in.show = [post = m_ctx.db.poster(), box](const QString& sql) {
        post([box, sql] { box->setText(sql); });
    };
    m_ctx.db.submit<StepResult>([in] { return step(in); },
                                [this](const StepResult& r) { apply(r); });
}

void OrderPolling::apply(const StepResult& r) {
    m_reported += r.reported;
    for (const QString& report : r.reports)
        m_ctx.status.report(report);
    if (!r.shown.rows.isEmpty()) {
        m_ctx.grid.reset();
        ImportBuilder::showRows(m_ctx.grid, r.shown);
        m_ctx.grid.notify();
    }
    if (!r.outcome)
        fail(r.outcome.reason(), r.queued);
    else
        succeed(r.queued, r.marked);
}

void OrderPolling::fail(const QString& reason, bool queued) {
    m_ctx.faults.polling.fault(reason, m_ctx.clock.now());
    ++m_failures;
    m_wait = std::min(1 << std::min(m_failures - 1, 5), kMaxBackoffTicks);
    m_inProgress = false;
    emit stepFinished(queued, false);
}

void OrderPolling::succeed(bool queued, bool marked) {
    m_failures = 0;
    m_wait = 0;
    m_ctx.faults.polling.success();
    m_inProgress = false;
    emit stepFinished(queued, marked);
}
