#pragma once
#include "common/Outcome.h"
#include "devices/Ticket.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Prints tickets on a thread of its own, one at a time and in the order they were handed
// over, so that a printer, its driver or the spooler never holds the window's timers. The
// ticket is built by the caller (cheap); only the painting and the hand-over to the printer
// run here. QPainter on a QPrinter (PDF or CUPS engine) may be used off the GUI thread, one
// thread per device; every ticket gets a printer of its own.
// The outcome of each ticket comes back on the thread that owns the queue, through done().
class TicketQueue : public QObject {
    Q_OBJECT
public:
    using Output = std::function<Outcome(const QList<TicketItem>&)>;

    explicit TicketQueue(Output output, QObject* parent = nullptr);
    // Prints what is still queued before it returns: a finished order keeps its ticket.
    ~TicketQueue() override;

    // Returns at once; the ticket is printed after every one handed over before it.
    void print(const QString& orderNo, const QList<TicketItem>& items);
    // Waits until every ticket handed over so far is printed, or `ms` pass (tests, benches).
    bool waitIdle(int ms);

signals:
    void done(const QString& orderNo, const Outcome& outcome);

private:
    struct Job {
        QString orderNo;
        QList<TicketItem> items;
    };
    void run();

    Output m_output;
    std::mutex m_mx;
    std::condition_variable m_wake, m_idle;
    std::deque<Job> m_jobs;
    bool m_busy = false, m_stop = false;
    std::thread m_thread;
};
