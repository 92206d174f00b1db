#pragma once
#include "common/Outcome.h"
#include "devices/Ticket.h"
#include "history/HistoryRecord.h"

#include <QDateTime>
#include <QList>

// The ticket of a history record (Printer01): its order number and its ten lines, empty
// ones too, printed at `printedAt`.
QList<TicketItem> historyTicket(const HistoryRecord& record, const QDateTime& printedAt);

// Where the ticket of a finished job goes: the sequencer hands over the record it has just
// logged, the history window a record it reprints. The station's service builds the ticket
// and queues it for the printer, so that the end of a job never waits for the printer; a
// failure returned here skips the ticket.
class TicketService {
public:
    virtual ~TicketService() = default;
    virtual Outcome print(const HistoryRecord& record) = 0;
};
