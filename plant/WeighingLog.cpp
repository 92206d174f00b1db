#include "plant/WeighingLog.h"

#include "plant/EventSpool.h"
#include "plant/LogStore.h"

#include <QDir>
#include <QThread>

#include <condition_variable>
#include <mutex>

struct WeighingLog::Worker : QThread {
    WeighingLog::Config config;
    QString spool;
    WeighingLog* owner = nullptr;

    std::mutex mx;
    std::condition_variable wake, idle;
    QList<WeighingEvent> queued;
    bool stop = false, retry = false, busy = false, behind = false;

    void run() override {
        LogStore store(config.odbc,
                       config.odbc.isEmpty() ? LogStore::embeddedFile(config.workDir) : QString());
        QList<WeighingEvent> held; // in neither the database nor the spool (disk full)
        bool reported = false;
        auto failed = [&](const QString& why) {
            if (!reported && owner)
                emit owner->report(QStringLiteral("計量紀錄暫存於 %1: %2").arg(spool, why));
            reported = true;
        };
        std::unique_lock lk(mx);
        for (;;) {
            wake.wait_for(lk, std::chrono::milliseconds(config.retryMs),
                          [&] { return stop || retry || !queued.isEmpty(); });
            held += queued;
            queued.clear();
            const bool stopping = stop;
            retry = false;
            busy = true;
            lk.unlock();

            // The spool first: what waits there is older than anything held or queued.
            bool spooled = EventSpool::size(spool) > 0;
            if (spooled && !stopping) {
                const QList<WeighingEvent> waiting = EventSpool::read(spool);
                Outcome o = store.write(waiting);
                if (o)
                    o = EventSpool::remove(spool);
                if (o) {
                    spooled = false;
                    reported = false;
                } else {
                    failed(o.reason());
                }
            }
            if (!held.isEmpty() && !spooled && !stopping) {
                if (Outcome o = store.write(held); o)
                    held.clear();
                else
                    failed(o.reason());
            }
            if (!held.isEmpty()) {
                if (Outcome o = EventSpool::append(spool, held); o)
                    held.clear();
                else
                    failed(o.reason());
            }

            lk.lock();
            busy = false;
            behind = !held.isEmpty() || EventSpool::size(spool) > 0;
            idle.notify_all();
            if (stopping)
                break;
        }
    }
};

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

WeighingLog::WeighingLog(Config config, QObject* parent) : QObject(parent), m_w(new Worker) {
    QDir(config.workDir).mkpath(QStringLiteral("data"));
    m_w->spool = pendingFile(config.workDir);
    m_w->config = std::move(config);
    m_w->owner = this;
    m_w->behind = EventSpool::size(m_w->spool) > 0;
    m_w->start();
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
    // A thread held by its driver (a login waiting for a server) is left behind: the
    // station must close. What it holds is written to the spool when it comes back.
    if (m_w->wait(2000))
        delete m_w;
}

void WeighingLog::record(const WeighingEvent& e) {
    {
        std::lock_guard lk(m_w->mx);
        m_w->queued.append(e);
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
