#include "devices/TicketQueue.h"

#include <QMetaObject>

#include <condition_variable>
#include <deque>
#include <mutex>

struct TicketQueue::Shared {
    struct Job {
        QString orderNo;
        QList<TicketItem> items;
    };
    Output output;
    std::mutex mx;
    std::condition_variable wake, idle;
    std::deque<Job> jobs;
    bool busy = false, stop = false, finished = false;
    TicketQueue* owner = nullptr; // null once the queue is gone

    void run() {
        std::unique_lock lk(mx);
        for (;;) {
            wake.wait(lk, [this] { return stop || !jobs.empty(); });
            if (jobs.empty() || !owner)
                break; // closed, and nothing left (or left behind)
            Job job = std::move(jobs.front());
            jobs.pop_front();
            busy = true;
            lk.unlock();

            const Outcome o =
                output ? output(job.items) : Outcome::failure(QStringLiteral("沒有印表機"));

            lk.lock();
            // Said on the owner's thread, while it is there to say it.
            if (owner)
                QMetaObject::invokeMethod(
                    owner, [q = owner, orderNo = job.orderNo, o] { emit q->done(orderNo, o); },
                    Qt::QueuedConnection);
            busy = false;
            idle.notify_all();
        }
        finished = true;
        idle.notify_all();
    }
};

TicketQueue::TicketQueue(Output output, int closeWaitMs, QObject* parent)
    : QObject(parent), m_s(std::make_shared<Shared>()), m_closeWaitMs(closeWaitMs) {
    m_s->output = std::move(output);
    m_s->owner = this;
    m_thread = std::thread([s = m_s] { s->run(); });
}

TicketQueue::~TicketQueue() {
    std::unique_lock lk(m_s->mx);
    m_s->stop = true;
    m_s->wake.notify_all();
    const bool finished = m_s->idle.wait_for(lk, std::chrono::milliseconds(m_closeWaitMs),
                                             [this] { return m_s->finished; });
    m_s->owner = nullptr;
    lk.unlock();
    if (finished) {
        m_thread.join();
        return;
    }
    // Held by its printer: it ends by itself when the printer lets it go, and prints nothing
    // more.
    m_thread.detach();
    qWarning("ticket printer: the close did not wait for a printer that did not answer");
}

void TicketQueue::print(const QString& orderNo, const QList<TicketItem>& items) {
    {
        std::lock_guard lk(m_s->mx);
        m_s->jobs.push_back({orderNo, items});
    }
    m_s->wake.notify_all();
}

bool TicketQueue::waitIdle(int ms) {
    std::unique_lock lk(m_s->mx);
    return m_s->idle.wait_for(lk, std::chrono::milliseconds(ms),
                              [this] { return m_s->jobs.empty() && !m_s->busy; });
}
