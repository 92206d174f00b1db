#pragma once
#include "common/Outcome.h"
#include "devices/Ticket.h"

class QPrinter;

// Printing a ticket (Printer01): each item is placed at its twips position converted to
// the printer's device units, so the fonts keep their point sizes.
namespace TicketPrinter {

// Paints the items on one page of `printer` and ends the document.
Outcome print(const QList<TicketItem>& items, QPrinter& printer);

// The same on the system's default printer; fails when there is none.
Outcome printOnDefaultPrinter(const QList<TicketItem>& items);

} // namespace TicketPrinter
