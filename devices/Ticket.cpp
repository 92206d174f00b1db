#include "devices/Ticket.h"

#include "common/TextField.h"

#include <QLocale>

namespace Ticket {

QList<TicketItem> items(const QString& orderNo, const std::array<TicketLine, kLines>& lines,
                        const QDateTime& printedAt) {
    QList<TicketItem> out;
    int y = 100;
    out.append({TextField::trimSpaces(orderNo), 20, 100, y});
    y += 450;
    for (const TicketLine& l : lines) {
        out.append({TextField::trimSpaces(l.code), 14, 100, y});
        out.append({TextField::trimSpaces(l.target), 14, 1300, y});
        out.append({TextField::trimSpaces(l.actual), 14, 2200, y});
        out.append({kRule, 14, 0, y + 120});
        y += 300;
    }
    out.append({dateText(printedAt), 14, 100, y});
    return out;
}

// A fixed form, as the history record's own stamp: the system's short format differs by
// locale, drops the seconds and in some locales prints a literal letter for the day period.
QString dateText(const QDateTime& t) {
    return QLocale::c().toString(t, QStringLiteral("yyyy/MM/dd HH:mm:ss"));
}

} // namespace Ticket
