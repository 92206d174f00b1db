#include "devices/TicketQueue.h"

#include <QMetaObject>

TicketQueue::TicketQueue(Output output, QObject* parent)
    : QObject(parent), m_output(std::move(output)), m_thread([this] { run(); }) {}

TicketQueue::~TicketQueue() {
    {
        std::lock_guard lk(m_mx);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void TicketQueue::print(const QString& orderNo, const QList<TicketItem>& items) {
    {
        std::lock_guard lk(m_mx);
        m_jobs.push_back({orderNo, items});
    }
    m_wake.notify_all();
}

bool TicketQueue::waitIdle(int ms) {
    std::unique_lock lk(m_mx);
    return m_idle.wait_for(lk, std::chrono::milliseconds(ms),
                           [this] { return m_jobs.empty() && !m_busy; });
}

void TicketQueue::run() {
    std::unique_lock lk(m_mx);
    for (;;) {
        m_wake.wait(lk, [this] { return m_stop || !m_jobs.empty(); });
        if (m_jobs.empty())
            return; // stopping, nothing left
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_busy = true;
        lk.unlock();

        const Outcome o =
            m_output ? m_output(job.items) : Outcome::failure(QStringLiteral("沒有印表機"));
        // Said on the owner's thread; nothing is said once the queue is gone.
        QMetaObject::invokeMethod(
            this, [this, orderNo = job.orderNo, o] { emit done(orderNo, o); },
            Qt::QueuedConnection);

        lk.lock();
        m_busy = false;
        m_idle.notify_all();
    }
}
