#pragma once
#include "common/Clock.h"
#include "devices/TicketQueue.h"
#include "weighing/TicketService.h"

// The station's ticket service: the ticket is built at once, stamped with the moment of
// printing, and handed to the ticket queue, whose thread prints it; the queue says later
// when a ticket could not be printed.
class QueuedTickets : public TicketService {
public:
    QueuedTickets(TicketQueue& queue, const Clock& clock) : m_queue(queue), m_clock(clock) {}

    Outcome print(const HistoryRecord& record) override {
        m_queue.print(record.OrderNo, historyTicket(record, m_clock.now()));
        return Outcome::success();
    }

private:
    TicketQueue& m_queue;
    const Clock& m_clock;
};
