#pragma once
#include "intake/OrderDatabase.h"

#include <QString>
#include <optional>

class FieldMapping;

// The statements sent to the order database. A value from the data or the operator (an
// order number typed or scanned, an order id read back from the database, the station
// number) is bound as a parameter; its `shown` text puts it between single quotes, as the
// query box shows it. What the mapping and the settings give (table and field names, the
// values of conditions 2 and 3) is configuration and stands as the administrator wrote it.
namespace Queries {

QString quoted(const QString& value); // 'value' with ' doubled

// The mapped query of the order search for a key (trimmed); none when the condition
// fields set are not 1, 1+2 or 1+2+3.
std::optional<SqlText> mapped(const FieldMapping& mapping, const QString& key);

// The query text that "生成代碼" writes into the mapping's query box; none leaves it as it
// is. With condition 1 alone its value comes from entry 21, otherwise the key is
// `searchBox`.
std::optional<QString> generated(const FieldMapping& mapping, const QString& searchBox);

// The direct query on the order table: "select * from vantrell where id_no = '<key>' and
// prod_type = <prodType>".
SqlText direct(const QString& key, int prodType);

// The polling statements on table `table` for station number `station` (1..5).
SqlText pollWaiting(const QString& table, int station);
SqlText pollLines(const QString& table, int station, const QString& orderId);
SqlText pollUpdate(const QString& table, int station, const QString& orderId);
// The order's lines that a station with this number has taken (step_no 45).
SqlText pollTaken(const QString& table, int station, const QString& orderId);

} // namespace Queries
