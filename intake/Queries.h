#pragma once
#include <QString>
#include <optional>

class FieldMapping;

// The query texts sent to the order database. A text that the station puts between single
// quotes (an order number typed or scanned, an order id read back from the database) has
// every single quote doubled, so it can only ever be a value. Values that the mapping
// inserts without quotes stay as the administrator wrote them.
namespace Queries {

QString quoted(const QString& value); // 'value' with ' doubled

// The mapped query of the order search for a key (trimmed); none when the condition
// fields set are not 1, 1+2 or 1+2+3.
std::optional<QString> mapped(const FieldMapping& mapping, const QString& key);

// The query that "生成代碼" writes into the mapping's query box; none leaves it as it is.
// With condition 1 alone its value comes from entry 21, otherwise the key is `searchBox`.
std::optional<QString> generated(const FieldMapping& mapping, const QString& searchBox);

// The direct query on the order table: "select * from vantrell where id_no = '<key>' and
// prod_type = <prodType>".
QString direct(const QString& key, int prodType);

// The polling queries on table `table` for station number `station` (1..5).
QString pollWaiting(const QString& table, int station);
QString pollLines(const QString& table, int station, const QString& orderId);
QString pollUpdate(const QString& table, int station, const QString& orderId);
// The order's lines that a station with this number has taken (step_no 45).
QString pollTaken(const QString& table, int station, const QString& orderId);

} // namespace Queries
