#include "plant/WeighingLog.h"

#include "plant/EventSpool.h"
#include "plant/LogStore.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <condition_variable>
#include <mutex>
#include <thread>

// The writer's state, shared by the log and the writer's thread: a thread held by its
// driver past the close keeps it until it ends by itself.
struct WeighingLog::Worker {
    WeighingLog::Config config;
    QString spool;
    WeighingLog* owner = nullptr;

    // spoolMx is taken before mx where both are needed. Every change of the spool file is
    // made under spoolMx, never a database write, so that the closing thread can always
    // add to it at once.
    std::mutex spoolMx, mx;
    std::condition_variable wake, idle;
    QList<WeighingEvent> queued; // recorded, not taken by the writer yet
    QList<WeighingEvent> held;   // taken, in neither the database nor the spool yet
    bool stop = false, retry = false, busy = false, behind = false, finished = false;
    bool reported = false; // the writer's thread only

    void failed(const QString& why) {
        if (reported)
            return;
        reported = true;
        std::lock_guard lk(mx); // the owner may be closing
        if (owner)
            emit owner->report(QStringLiteral("計量紀錄暫存於 %1: %2").arg(spool, why));
    }

    // Appends every event held or queued to the spool, in order; what cannot be appended
    // (a full disk) stays held. Called by the writer and, when the writer does not stop in
    // time, by the closing thread: under spoolMx no event is appended twice.
    Outcome spoolAll() {
        std::lock_guard s(spoolMx);
        QList<WeighingEvent> events;
        {
            std::lock_guard lk(mx);
            held += std::exchange(queued, {});
            events = held;
        }
        if (events.isEmpty())
            return Outcome::success();
        const Outcome o = EventSpool::append(spool, events);
        if (o) {
            std::lock_guard lk(mx);
            held.remove(0, events.size());
        }
        return o;
    }

    void said(const QString& text) {
        std::lock_guard lk(mx); // the owner may be closing
        if (owner)
            emit owner->report(text);
    }

    // Events the server refused go to the dead-letter file, each once (a kill before the
    // spool was emptied brings them back, and the server refuses them again), with the
    // server's reason, and are reported one by one.
    Outcome setAside(const QList<LogStore::Refusal>& refused) {
        if (refused.isEmpty())
            return Outcome::success();
        const QString file = refusedFile(config.workDir);
        QSet<QString> there;
        for (const WeighingEvent& e : EventSpool::read(file))
            there.insert(EventSpool::id(e));
        QByteArray lines;
        QList<std::pair<QString, QString>> reports; // id, reason
        for (const LogStore::Refusal& r : refused) {
            const QString id = EventSpool::id(r.event);
            if (there.contains(id))
                continue;
            there.insert(id);
            QJsonObject o = QJsonDocument::fromJson(EventSpool::toJson(r.event)).object();
            o.insert(QStringLiteral("reason"), r.reason);
            lines += QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
            reports.append({id, r.reason});
        }
        if (lines.isEmpty())
            return Outcome::success();
        if (Outcome o = EventSpool::appendLines(file, lines); !o)
            return o;
        for (const auto& [id, reason] : reports)
            said(QStringLiteral("計量紀錄拒收 %1,已移至 %2: %3").arg(id, file, reason));
        return Outcome::success();
    }

    // Writes what waits in the spool and drops it from there; lines appended meanwhile stay.
    Outcome drain(LogStore& store) {
        qint64 end = 0;
        QList<WeighingEvent> waiting;
        {
            std::lock_guard s(spoolMx);
            waiting = EventSpool::read(spool, 0, &end);
        }
        QList<LogStore::Refusal> refused;
        Outcome o = store.write(waiting, &refused);
        if (o)
            o = setAside(refused);
        if (o) {
            std::lock_guard s(spoolMx);
            o = EventSpool::dropFront(spool, end);
        }
        return o;
    }

    void step(LogStore& store, bool stopping) {
        // A database that does not answer holds the writer for a whole login time-out: when
        // one may come (no connection yet, or the last write failed) or older events wait in
        // the spool, the events go to the spool first, so that a close or a kill meanwhile
        // loses none of them.
        if (stopping || !store.isOpen() || EventSpool::size(spool) > 0) {
            if (Outcome o = spoolAll(); !o)
                failed(o.reason());
        }
        if (stopping)
            return;
        // The spool first: what waits there is older than anything held.
        if (EventSpool::size(spool) > 0) {
            if (Outcome o = drain(store); !o) {
                failed(o.reason());
                return;
            }
            reported = false;
        }
        QList<WeighingEvent> batch;
        {
            std::lock_guard lk(mx);
            batch = held;
        }
        if (batch.isEmpty())
            return;
        QList<LogStore::Refusal> refused;
        Outcome o = store.write(batch, &refused);
        if (o)
            o = setAside(refused);
        if (o) {
            // The closing thread may have spooled them meanwhile: the table ignores a
            // second write of the same event when the spool is written.
            std::lock_guard lk(mx);
            held.remove(0, qMin(batch.size(), held.size()));
            reported = false;
        } else {
            failed(o.reason());
            if (Outcome s = spoolAll(); !s)
                failed(s.reason());
        }
    }

    void run() {
        {
            LogStore store(config.odbc, config.odbc.isEmpty()
                                            ? LogStore::embeddedFile(config.workDir)
                                            : QString());
            loop(store);
        }
        std::lock_guard lk(mx);
        finished = true;
        idle.notify_all();
    }

    void loop(LogStore& store) {
        std::unique_lock lk(mx);
        for (;;) {
            wake.wait_for(lk, std::chrono::milliseconds(config.retryMs),
                          [&] { return stop || retry || !queued.isEmpty(); });
            held += std::exchange(queued, {});
            const bool stopping = stop;
            retry = false;
            busy = true;
            lk.unlock();

            step(store, stopping);

            lk.lock();
            busy = false;
            behind = !held.isEmpty() || EventSpool::size(spool) > 0;
            idle.notify_all();
            if (stopping)
                break;
        }
    }
};

QString WeighingLog::refusedFile(const QString& workDir) {
    return QDir(workDir).filePath(QStringLiteral("data/weighings.refused"));
}

QString WeighingLog::pendingFile(const QString& workDir) {
    return QDir(workDir).filePath(QStringLiteral("data/weighings.pending"));
}

int WeighingLog::waiting(const QString& workDir, const QDate& from, const QDate& to) {
    int n = 0;
    for (const WeighingEvent& e : EventSpool::read(pendingFile(workDir))) {
        const QDate day = e.at.toLocalTime().date();
        n += day >= from && day <= to;
    }
    return n;
}

WeighingLog::WeighingLog(Config config, QObject* parent)
    : QObject(parent), m_w(std::make_shared<Worker>()) {
    QDir(config.workDir).mkpath(QStringLiteral("data"));
    m_w->spool = pendingFile(config.workDir);
    m_w->config = std::move(config);
    m_w->owner = this;
    m_w->behind = EventSpool::size(m_w->spool) > 0;
    m_thread = std::thread([w = m_w] { w->run(); });
    if (m_w->behind)
        retryNow();
}

WeighingLog::~WeighingLog() {
    {
        std::lock_guard lk(m_w->mx);
        m_w->stop = true;
        m_w->owner = nullptr;
    }
    m_w->wake.notify_all();
    bool finished;
    {
        std::unique_lock lk(m_w->mx);
        finished = m_w->idle.wait_for(lk, std::chrono::milliseconds(2000),
                                      [this] { return m_w->finished; });
    }
    if (finished) {
        m_thread.join();
        return;
    }
    m_thread.detach();
    // A thread held by its driver (a login waiting for a server) is left behind: the
    // station must close. What it has not put anywhere yet goes to the spool from here.
    if (Outcome o = m_w->spoolAll(); !o)
        qWarning("weighing log: events lost at close: %s", qPrintable(o.reason()));
}

void WeighingLog::record(const WeighingEvent& e) {
    // The event is in the spool, synced, before this returns: a kill or a power cut from
    // here on loses none, and the writer takes it from there. Only while older events wait
    // in memory (their append failed: a full disk) does it queue behind them.
    {
        std::lock_guard s(m_w->spoolMx);
        bool spool;
        {
            std::lock_guard lk(m_w->mx);
            spool = m_w->queued.isEmpty() && m_w->held.isEmpty();
        }
        const bool spooled = spool && EventSpool::append(m_w->spool, {e}).ok();
        std::lock_guard lk(m_w->mx);
        if (spooled) {
            m_w->behind = true;
            m_w->retry = true;
        } else {
            m_w->queued.append(e);
        }
    }
    m_w->wake.notify_all();
}

void WeighingLog::retryNow() {
    {
        std::lock_guard lk(m_w->mx);
        m_w->retry = true;
    }
    m_w->wake.notify_all();
}

bool WeighingLog::waitWritten(int ms) {
    std::unique_lock lk(m_w->mx);
    return m_w->idle.wait_for(lk, std::chrono::milliseconds(ms), [this] {
        return !m_w->busy && m_w->queued.isEmpty() && !m_w->behind;
    });
}
