#include "common/OleDate.h"

#include <cmath>

namespace OleDate {

namespace {
const QDate kEpoch(1899, 12, 30);
}

double fromDateTime(const QDateTime& local) {
    const QDateTime t = local.toLocalTime();
    const qint64 days = kEpoch.daysTo(t.date());
    const double dayFraction = t.time().msecsSinceStartOfDay() / 86400000.0;
    // Before the epoch the fraction still counts forward in time within the day.
    return days >= 0 ? days + dayFraction : days - dayFraction;
}

QDateTime toDateTime(double oleDate) {
    if (!std::isfinite(oleDate) || std::fabs(oleDate) > 3.0e6)
        return QDateTime();
    const double whole = std::trunc(oleDate);
    const double fraction = std::fabs(oleDate - whole);
    qint64 ms = qint64(std::llround(fraction * 86400000.0));
    QDate date = kEpoch.addDays(qint64(whole));
    if (ms >= 86400000) { // rounded up to the next midnight
        date = date.addDays(1);
        ms = 0;
    }
    // The clock time of the day, not the time elapsed since midnight: on a day when
    // daylight saving time begins or ends the two differ by an hour.
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)));
}

} // namespace OleDate
