#include "intake/OrderPolling.h"

#include "common/OleDate.h"
#include "intake/ImportBuilder.h"
#include "intake/Queries.h"
#include "station/JobFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace {
constexpr int kPollLastField = 15; // fields 0..15, whatever the field count says
}

OrderPolling::OrderPolling(IntakeContext& context, QObject* parent) : QObject(parent), m_ctx(context) {}

int OrderPolling::stationNumber(const StationSettings& s) {
    int n = 0;
    const Option boxes[] = {Option::PollPowder, Option::PollAux2, Option::PollAux3, Option::PollAux4, Option::PollAux5};
    for (int i = 0; i < 5; ++i)
        if (s.isSet(boxes[i]))
            n = i + 1;
    return n;
}

QString OrderPolling::pendingFile() const { return QDir(m_ctx.workDir).filePath(QStringLiteral("POLL_PENDING.txt")); }

QList<OrderPolling::Pending> OrderPolling::pending() const {
    QList<Pending> list;
    QFile f(pendingFile());
    if (!f.open(QIODevice::ReadOnly))
        return list;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const int tab = line.indexOf('\t');
        if (tab <= 0)
            continue;
        Pending p{line.left(tab).toInt(), QString::fromUtf8(line.mid(tab + 1))};
        if (p.station >= 1 && p.station <= 5)
            list << p;
    }
    return list;
}

Outcome OrderPolling::writePending(const QList<Pending>& list) const {
    if (list.isEmpty()) {
        if (QFile::exists(pendingFile()) && !QFile::remove(pendingFile()))
            return Outcome::failure(QStringLiteral("POLL_PENDING.txt 無法刪除"));
        return Outcome::success();
    }
    QSaveFile f(pendingFile());
    if (!f.open(QIODevice::WriteOnly))
        return Outcome::failure(QStringLiteral("POLL_PENDING.txt: %1").arg(f.errorString()));
    QByteArray bytes;
    for (const Pending& p : list)
        bytes += QByteArray::number(p.station) + '\t' + p.orderId.toUtf8() + '\n';
    // QSaveFile::commit() misses a failure of the final flush (a full disk) and would put
    // an empty list in place of the old one: flush first.
    if (f.write(bytes) != bytes.size() || !f.flush() || !f.commit())
        return Outcome::failure(QStringLiteral("POLL_PENDING.txt: %1").arg(f.errorString()));
    return Outcome::success();
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
    if (m_ctx.receivePath().isEmpty()) {
        fail(QStringLiteral("未設定接收路徑, 不執行自動接單"));
        return;
    }
    const QString table = m_ctx.settings.trimmed(Setting::TableName);
    m_inProgress = true;

    // An order queued earlier whose update failed: only the update is retried.
    const QList<Pending> waiting = pending();
    if (!waiting.isEmpty()) {
        sendUpdate(waiting.first().station, table, waiting.first().orderId, false);
        return;
    }

    const QString waitingQuery = Queries::pollWaiting(table, station);
    m_ctx.queryBox.setText(waitingQuery);
    const DbLogin login = m_ctx.login();
    std::function<Found()> work = [login, waitingQuery, table, station] {
        Found f;
        DbSession session(login);
        f.outcome = session.connect();
        if (f.outcome)
            f.outcome = session.firstValue(waitingQuery, QStringLiteral("ID_NO"), f.orderId, f.found);
        session.disconnect();
        if (!f.outcome || !f.found)
            return f;
        f.orderId = TextField::trimSpaces(f.orderId);
        f.linesQuery = Queries::pollLines(table, station, f.orderId);
        f.outcome = session.connect();
        if (f.outcome)
            f.outcome = session.query(f.linesQuery, kPollLastField, f.rows);
        session.disconnect();
        return f;
    };
    m_ctx.db.submit<Found>(std::move(work), [this, station, table](const Found& f) { applyFound(station, table, f); });
}

void OrderPolling::applyFound(int station, const QString& table, const Found& f) {
    if (!f.linesQuery.isEmpty())
        m_ctx.queryBox.setText(f.linesQuery);
    if (!f.outcome) {
        fail(f.outcome.reason());
        return;
    }
    if (!f.found) { // the common case between orders: nothing to do
        succeed(false, false);
        return;
    }
    StagingGrid& grid = m_ctx.grid;
    grid.reset();
    ImportBuilder::showRows(grid, f.rows);
    grid.notify();
    const ImportBuilder::JobBuild b = ImportBuilder::buildJob(grid, int(f.rows.rows.size()), f.rows.lastField, true,
                                                              false, m_ctx.mapping,
                                                              OleDate::fromDateTime(m_ctx.clock.now()));
    if (!b.outcome) {
        fail(b.outcome.reason());
        return;
    }
    if (b.rowsUsed == 0) {
        succeed(false, false);
        return;
    }
    const QString file = QDir(m_ctx.receivePath()).filePath(QStringLiteral("START_DISPEN.txt"));
    if (Outcome o = AppendJob(file, b.job); !o) {
        fail(QStringLiteral("寫入失敗 %1").arg(o.reason()));
        return;
    }
    if (b.linesLeftOut > 0)
        m_ctx.status.report(QStringLiteral("單號 %1 超過 %2 行, %3 行未匯入")
                                .arg(f.orderId, QString::number(JobRecord::kLines), QString::number(b.linesLeftOut)));
    QList<Pending> list = pending();
    list << Pending{station, f.orderId};
    if (Outcome o = writePending(list); !o)
        m_ctx.status.report(o.reason());
    sendUpdate(station, table, f.orderId, true);
}

void OrderPolling::sendUpdate(int station, const QString& table, const QString& orderId, bool queued) {
    const QString sql = Queries::pollUpdate(table, station, orderId);
    m_ctx.queryBox.setText(sql);
    const DbLogin login = m_ctx.login();
    std::function<Updated()> work = [login, sql] {
        Updated u;
        DbSession session(login);
        u.outcome = session.connect();
        if (u.outcome)
            u.outcome = session.statement(sql, &u.rowsAffected);
        session.disconnect();
        return u;
    };
    m_ctx.db.submit<Updated>(std::move(work), [this, station, orderId, queued](const Updated& u) {
        if (!u.outcome) {
            fail(u.outcome.reason(), queued);
            return;
        }
        QList<Pending> list = pending();
        list.removeIf([&](const Pending& p) { return p.station == station && p.orderId == orderId; });
        if (Outcome o = writePending(list); !o)
            m_ctx.status.report(o.reason());
        succeed(queued, true);
    });
}

void OrderPolling::fail(const QString& reason, bool queued) {
    m_ctx.faults.fault(reason, m_ctx.clock.now());
    ++m_failures;
    m_wait = std::min(1 << std::min(m_failures - 1, 5), kMaxBackoffTicks);
    m_inProgress = false;
    emit stepFinished(queued, false);
}

void OrderPolling::succeed(bool queued, bool marked) {
    m_failures = 0;
    m_wait = 0;
    m_ctx.faults.success();
    m_inProgress = false;
    emit stepFinished(queued, marked);
}
