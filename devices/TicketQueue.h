#pragma once
#include "common/Outcome.h"
#include "devices/Ticket.h"

#include <QObject>

#include <functional>
#include <memory>
#include <thread>

// Prints tickets on a thread of its own, one at a time and in the order they were handed
// over, so that a printer, its driver or the spooler never holds the window's timers. The
// ticket is built by the caller (cheap); only the painting and the hand-over to the printer
// run here. QPainter may paint on a QPrinter (the PDF engine, and the CUPS engine that
// hands the PDF it makes to the spooler) off the GUI thread, one thread per device at a
// time; every ticket gets a printer of its own.
// The outcome of each ticket comes back on the thread that owns the queue, through done().
class TicketQueue : public QObject {
    Q_OBJECT
public:
    using Output = std::function<Outcome(const QList<TicketItem>&)>;

    // `closeWaitMs`: how long the close waits for the tickets still queued.
    explicit TicketQueue(Output output, int closeWaitMs = 10000, QObject* parent = nullptr);
    // Prints what is still queued before it returns, a finished order keeps its ticket;
    // a printer that holds the thread longer than closeWaitMs is left behind (the station
    // must close), and the tickets not begun by then are not printed.
    ~TicketQueue() override;

    // Returns at once; the ticket is printed after every one handed over before it.
    void print(const QString& orderNo, const QList<TicketItem>& items);
    // Waits until every ticket handed over so far is printed, or `ms` pass.
    bool waitIdle(int ms);

signals:
    void done(const QString& orderNo, const Outcome& outcome);

private:
    struct Shared;
    std::shared_ptr<Shared> m_s; // shared with the printing thread
    int m_closeWaitMs;
    std::thread m_thread;
};
