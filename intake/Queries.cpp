#include "intake/Queries.h"

#include "common/TextField.h"
#include "config/FieldMapping.h"

namespace Queries {

using FM = FieldMapping;

QString quoted(const QString& value) {
    QString v = value;
    v.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

namespace {

// select * from T where C1 = '<v1>'[ and C2 = V2[ and C3 = V3]]
std::optional<QString> build(const FieldMapping& m, const QString& value1, bool alone) {
    const QString c1 = m.trimmedEntry(FM::Condition1Field);
    const QString c2 = m.trimmedEntry(FM::Condition2Field);
    const QString c3 = m.trimmedEntry(FM::Condition3Field);
    if (c1.isEmpty() || (c2.isEmpty() && !c3.isEmpty()) || (alone && !c2.isEmpty()))
        return std::nullopt;
    QString q = QStringLiteral("select * from ") + m.trimmedEntry(FM::TableName) +
                QStringLiteral(" where ") + c1 + QStringLiteral(" = ") + quoted(value1);
    if (!c2.isEmpty())
        q += QStringLiteral(" and ") + c2 + QStringLiteral(" = ") +
             m.trimmedEntry(FM::Condition2Value);
    if (!c3.isEmpty())
        q += QStringLiteral(" and ") + c3 + QStringLiteral(" = ") +
             m.trimmedEntry(FM::Condition3Value);
    return q;
}

} // namespace

std::optional<QString> mapped(const FieldMapping& mapping, const QString& key) {
    return build(mapping, TextField::trimSpaces(key), false);
}

std::optional<QString> generated(const FieldMapping& mapping, const QString& searchBox) {
    if (mapping.trimmedEntry(FM::Condition2Field).isEmpty())
        return build(mapping, mapping.trimmedEntry(FM::Condition1Value), true);
    return build(mapping, TextField::trimSpaces(searchBox), false);
}

// Plain concatenation throughout: a key holding "%1" must stay as it is.
QString direct(const QString& key, int prodType) {
    return QStringLiteral("select * from vantrell where id_no = ") +
           quoted(TextField::trimSpaces(key)) + QStringLiteral(" and prod_type = ") +
           QString::number(prodType);
}

QString pollWaiting(const QString& table, int station) {
    return QStringLiteral("select * from ") + TextField::trimSpaces(table) +
           QStringLiteral(" where step_no = 44 and note3 = '") + QString::number(station) +
           QStringLiteral("' and prod_type = 2");
}

QString pollLines(const QString& table, int station, const QString& orderId) {
    return QStringLiteral("select * from ") + TextField::trimSpaces(table) +
           QStringLiteral(" where step_no = 44 and note3 = '") + QString::number(station) +
           QStringLiteral("' and id_no = ") + quoted(orderId) +
           QStringLiteral(" and prod_type = 2");
}

QString pollUpdate(const QString& table, int station, const QString& orderId) {
    return QStringLiteral("UPDATE ") + TextField::trimSpaces(table) +
           QStringLiteral(" SET STEP_NO = 45 where step_no = 44 and id_no = ") + quoted(orderId) +
           QStringLiteral(" and prod_type = 2 and note3 = '") + QString::number(station) +
           QStringLiteral("'");
}

QString pollTaken(const QString& table, int station, const QString& orderId) {
    return QStringLiteral("select * from ") + TextField::trimSpaces(table) +
           QStringLiteral(" where step_no = 45 and note3 = '") + QString::number(station) +
           QStringLiteral("' and id_no = ") + quoted(orderId) +
           QStringLiteral(" and prod_type = 2");
}

} // namespace Queries
