#pragma once
#include <QDateTime>

// OLE Automation dates: days since 1899-12-30 00:00 as a double, the fraction being the
// time of day, in local time.
namespace OleDate {
double fromDateTime(const QDateTime& local);
QDateTime toDateTime(double oleDate);
} // namespace OleDate
