#pragma once
#include <QDateTime>
#include <QList>
#include <QString>
#include <array>

// The printed ticket of a finished order as a list of items, each a text placed with its
// font size at a position in twips (1/1440 inch) from the top left of the printable area.
// Building it apart from the printing lets it be checked without a printer.
struct TicketItem {
    QString text;
    int fontSize = 0;
    int x = 0; // twips
    int y = 0; // twips, the top of the text

    friend bool operator==(const TicketItem&, const TicketItem&) = default;
};

struct TicketLine {
    QString code, target, actual;
};

namespace Ticket {
constexpr int kLines = 10;
// The rule printed under every line.
inline const QString kRule = QStringLiteral("----------------------------------");

// The order number, all ten lines (empty ones too) each with its rule, and the moment of
// printing. Texts are printed without their padding.
QList<TicketItem> items(const QString& orderNo, const std::array<TicketLine, kLines>& lines,
                        const QDateTime& printedAt);

// The moment of printing as "yyyy/MM/dd HH:mm:ss", whatever the system's locale.
QString dateText(const QDateTime& t);
} // namespace Ticket
