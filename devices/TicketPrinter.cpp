#include "devices/TicketPrinter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

namespace TicketPrinter {

Outcome print(const QList<TicketItem>& items, QPrinter& printer) {
    QPainter painter;
    if (!painter.begin(&printer))
        return Outcome::failure(QStringLiteral("印表機無法開始列印"));
    const double perTwip = printer.resolution() / 1440.0;
    for (const TicketItem& item : items) {
        QFont font = painter.font();
        font.setPointSize(item.fontSize);
        painter.setFont(font);
        if (item.text.isEmpty())
            continue;
        // The position names the top of the text; QPainter draws on the baseline.
        const int x = int(item.x * perTwip + 0.5);
        const int y = int(item.y * perTwip + 0.5) + QFontMetrics(font, &printer).ascent();
        painter.drawText(x, y, item.text);
    }
    if (!painter.end())
        return Outcome::failure(QStringLiteral("印表機列印失敗"));
    if (printer.printerState() == QPrinter::Error)
        return Outcome::failure(QStringLiteral("印表機錯誤"));
    return Outcome::success();
}

Outcome printOnDefaultPrinter(const QList<TicketItem>& items) {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        return Outcome::failure(QStringLiteral("沒有預設印表機"));
    QPrinter printer(info, QPrinter::HighResolution);
    return print(items, printer);
}

} // namespace TicketPrinter
