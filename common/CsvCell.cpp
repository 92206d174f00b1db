#include "common/CsvCell.h"

#include <QRegularExpression>

namespace Csv {

QString cell(const QString& text) {
    static const QRegularExpression plainNumber(QStringLiteral("^[-+]?[0-9]+(\\.[0-9]+)?$"));
    QString t = text;
    if (!t.isEmpty()) {
        const QChar c = t.front();
        const bool formula = c == QLatin1Char('=') || c == QLatin1Char('+') ||
                             c == QLatin1Char('-') || c == QLatin1Char('@') ||
                             c == QLatin1Char('\t') || c == QLatin1Char('\r');
        if (formula && !plainNumber.match(t).hasMatch())
            t.prepend(QLatin1Char('\''));
    }
    const bool quote = t.contains(QLatin1Char(',')) || t.contains(QLatin1Char('"')) ||
                       t.contains(QLatin1Char('\n')) || t.contains(QLatin1Char('\r')) ||
                       t.startsWith(QLatin1Char(' ')) || t.endsWith(QLatin1Char(' '));
    if (!quote)
        return t;
    t.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + t + QLatin1Char('"');
}

} // namespace Csv
