#include "weighing/TicketService.h"

QList<TicketItem> historyTicket(const HistoryRecord& h, const QDateTime& printedAt) {
    std::array<TicketLine, Ticket::kLines> lines;
    for (int i = 1; i <= Ticket::kLines; ++i)
        lines[size_t(i - 1)] = {h.Code[size_t(i)], h.Target[size_t(i)], h.Actual[size_t(i)]};
    return Ticket::items(h.OrderNo, lines, printedAt);
}
