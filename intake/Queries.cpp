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
std::optional<SqlText> build(const FieldMapping& m, const QString& value1, bool alone) {
    const QString c1 = m.trimmedEntry(FM::Condition1Field);
    const QString c2 = m.trimmedEntry(FM::Condition2Field);
    const QString c3 = m.trimmedEntry(FM::Condition3Field);
    if (c1.isEmpty() || (c2.isEmpty() && !c3.isEmpty()) || (alone && !c2.isEmpty()))
        return std::nullopt;
    SqlText q;
    q.text(QStringLiteral("select * from ") + m.trimmedEntry(FM::TableName) +
           QStringLiteral(" where ") + c1 + QStringLiteral(" = "))
        .value(value1);
    if (!c2.isEmpty())
        q.text(QStringLiteral(" and ") + c2 + QStringLiteral(" = ") +
               m.trimmedEntry(FM::Condition2Value));
    if (!c3.isEmpty())
        q.text(QStringLiteral(" and ") + c3 + QStringLiteral(" = ") +
               m.trimmedEntry(FM::Condition3Value));
    return q;
}

QString table(const QString& name) {
    return TextField::trimSpaces(name);
}

QString station(int number) {
    return QString::number(number);
}

} // namespace

std::optional<SqlText> mapped(const FieldMapping& mapping, const QString& key) {
    return build(mapping, TextField::trimSpaces(key), false);
}

std::optional<QString> generated(const FieldMapping& mapping, const QString& searchBox) {
    const std::optional<SqlText> q =
        mapping.trimmedEntry(FM::Condition2Field).isEmpty()
            ? build(mapping, mapping.trimmedEntry(FM::Condition1Value), true)
            : build(mapping, TextField::trimSpaces(searchBox), false);
    if (!q)
        return std::nullopt;
    return q->shown;
}

SqlText direct(const QString& key, int prodType) {
    return SqlText()
        .text(QStringLiteral("select * from vantrell where id_no = "))
        .value(TextField::trimSpaces(key))
        .text(QStringLiteral(" and prod_type = ") + QString::number(prodType));
}

SqlText pollWaiting(const QString& t, int s) {
    return SqlText()
        .text(QStringLiteral("select * from ") + table(t) +
              QStringLiteral(" where step_no = 44 and note3 = "))
        .value(station(s))
        .text(QStringLiteral(" and prod_type = 2"));
}

SqlText pollLines(const QString& t, int s, const QString& orderId) {
    return SqlText()
        .text(QStringLiteral("select * from ") + table(t) +
              QStringLiteral(" where step_no = 44 and note3 = "))
        .value(station(s))
        .text(QStringLiteral(" and id_no = "))
        .value(orderId)
        .text(QStringLiteral(" and prod_type = 2"));
}

SqlText pollUpdate(const QString& t, int s, const QString& orderId) {
    return SqlText()
        .text(QStringLiteral("UPDATE ") + table(t) +
              QStringLiteral(" SET STEP_NO = 45 where step_no = 44 and id_no = "))
        .value(orderId)
        .text(QStringLiteral(" and prod_type = 2 and note3 = "))
        .value(station(s));
}

SqlText pollTaken(const QString& t, int s, const QString& orderId) {
    return SqlText()
        .text(QStringLiteral("select * from ") + table(t) +
              QStringLiteral(" where step_no = 45 and note3 = "))
        .value(station(s))
        .text(QStringLiteral(" and id_no = "))
        .value(orderId)
        .text(QStringLiteral(" and prod_type = 2"));
}

} // namespace Queries
